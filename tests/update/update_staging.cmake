# Update staging: the archive layer, the placement of a staged archive and its
# extraction. The archives are built at test time by real zip tools.
set(UPDATE_FIXTURE_DIR ${CMAKE_BINARY_DIR}/fixtures/update)

add_test(NAME update_archive_fixtures
  COMMAND python3 ${CMAKE_SOURCE_DIR}/rig/fixtures/make_update_archives.py ${UPDATE_FIXTURE_DIR}
          ${CMAKE_BINARY_DIR}/bin/vorlan.exe)
# The hostile-input mutation run starts from these archives too.
set_tests_properties(update_archive_fixtures PROPERTIES
  FIXTURES_SETUP "update_archives;mutation_sources" TIMEOUT 120)

# Runs one update step in the folder it is copied to; the tests and the
# extraction benchmark drive it as a separate process.
add_executable(update_step ${CMAKE_CURRENT_LIST_DIR}/update_step.cpp)
target_link_libraries(update_step PRIVATE launcher_update third_party_minizip launcher_options psapi)
set_target_properties(update_step PROPERTIES WIDE_ENTRY ON)

launcher_add_test(update_staging_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/archive_rules_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/archive_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update_extraction_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/staged_update_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/self_replace_test.cpp
  FIXTURES update_archives)

launcher_add_test(update_launch_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/update_launch_test.cpp
  LOCKS machine_state
  FIXTURES update_archives)

foreach(suite IN ITEMS update_staging_tests update_launch_tests)
  add_dependencies(${suite} update_step)
endforeach()

# Links and hard links planted in the installation, through the real launcher.
add_test(NAME update_planted_links
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/planted_links.sh ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(update_planted_links PROPERTIES RESOURCE_LOCK machine_state TIMEOUT 300)
