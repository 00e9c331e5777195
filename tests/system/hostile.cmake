# Hostile input and faults: a corpus of hostile and damaged update archives
# through the real launcher, byte-flip mutations of valid archives, malformed
# configuration files and random command-line tails.
set(HOSTILE_FIXTURE_DIR ${CMAKE_BINARY_DIR}/fixtures/hostile)

add_test(NAME hostile_archive_fixtures
  COMMAND python3 ${CMAKE_SOURCE_DIR}/rig/fixtures/make_hostile_archives.py ${HOSTILE_FIXTURE_DIR})
# The mutation run starts from this generator's archives and the update
# suites' (tests/update/update_staging.cmake): both set up "mutation_sources".
set_tests_properties(hostile_archive_fixtures PROPERTIES
  FIXTURES_SETUP "hostile_archives;mutation_sources" TIMEOUT 120)

launcher_test_path(hostile_fixture_path ${HOSTILE_FIXTURE_DIR})

launcher_add_test(hostile_corpus_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/hostile_corpus_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/hostile_rig.cpp
  LOCKS machine_state
  FIXTURES hostile_archives)
target_compile_definitions(hostile_corpus_tests PRIVATE
  HOSTILE_FIXTURE_DIR="${hostile_fixture_path}")

set(hostile_update_fixture_dir ${CMAKE_BINARY_DIR}/fixtures/update)
launcher_test_path(hostile_update_fixture_path ${hostile_update_fixture_dir})

launcher_add_test(hostile_mutation_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/hostile_mutation_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/hostile_rig.cpp
    ${CMAKE_SOURCE_DIR}/tests/update/update_test_support.cpp
  FIXTURES mutation_sources)
target_compile_definitions(hostile_mutation_tests PRIVATE
  HOSTILE_FIXTURE_DIR="${hostile_fixture_path}"
  UPDATE_FIXTURE_DIR="${hostile_update_fixture_path}")

launcher_add_test(hostile_input_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/hostile_input_test.cpp
    ${CMAKE_CURRENT_LIST_DIR}/hostile_rig.cpp
    ${CMAKE_SOURCE_DIR}/tests/desktop/shortcut_rig.cpp
  LOCKS machine_state)
target_compile_definitions(hostile_input_tests PRIVATE
  HOSTILE_FIXTURE_DIR="${hostile_fixture_path}")
