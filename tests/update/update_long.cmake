# The slow update suites (label "long"): an archive past 2 GiB, an update on a
# small drive, and an update killed again and again.
launcher_add_test(update_long_tests KILLS
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/update_long_test.cpp
  LOCKS machine_state
  FIXTURES update_archives
  LABELS long)
add_dependencies(update_long_tests launcher vorlan)

# The small drive needs a tmpfs mounted as a drive of the prefix, which only
# a shell with the right to mount can make.
add_test(NAME update_small_drive
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/small_drive.sh $<TARGET_FILE:update_long_tests>)
set_tests_properties(update_small_drive PROPERTIES
  FIXTURES_REQUIRED update_archives SKIP_RETURN_CODE 77 TIMEOUT 300 LABELS long)
