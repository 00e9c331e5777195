# Update staging: the archive layer, the placement of a staged archive and its
# extraction. The archives are built at test time by real zip tools.
set(UPDATE_FIXTURE_DIR ${CMAKE_BINARY_DIR}/fixtures/update)

add_test(NAME update_archive_fixtures
  COMMAND python3 ${CMAKE_SOURCE_DIR}/rig/fixtures/make_update_archives.py ${UPDATE_FIXTURE_DIR}
          ${CMAKE_BINARY_DIR}/bin/vorlan.exe)
set_tests_properties(update_archive_fixtures PROPERTIES FIXTURES_SETUP update_archives TIMEOUT 120)

# Runs one update step in the folder it is copied to; the tests and the
# extraction benchmark drive it as a separate process.
add_executable(update_step ${CMAKE_CURRENT_LIST_DIR}/update_step.cpp)
target_link_libraries(update_step PRIVATE launcher_lib psapi)
target_compile_options(update_step PRIVATE ${LAUNCHER_WARNINGS})
if(NOT MSVC)
  target_link_options(update_step PRIVATE -municode)
endif()

# update_add_suite(NAME SOURCES ... [LOCKS lock ...]): like launcher_add_test,
# and every test waits for the archives.
function(update_add_suite name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LOCKS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE test_support gtest_main)
  target_compile_options(${name} PRIVATE ${LAUNCHER_WARNINGS})
  # Wine sees the build folder through drive Z:.
  target_compile_definitions(${name} PRIVATE UPDATE_FIXTURE_DIR="Z:${UPDATE_FIXTURE_DIR}")
  add_dependencies(${name} launcher vorlan update_step)
  set(properties TIMEOUT 300 FIXTURES_REQUIRED update_archives)
  if(ARG_LOCKS)
    list(APPEND properties RESOURCE_LOCK "${ARG_LOCKS}")
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES ${properties})
endfunction()

update_add_suite(update_staging_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/archive_rules_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/archive_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update_extraction_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/staged_update_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update_test_support.cpp)

update_add_suite(update_launch_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/update_launch_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/update_test_support.cpp
  LOCKS client_processes)
