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

launcher_add_test(hostile_corpus_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/hostile_corpus_test.cpp
  LOCKS machine_state
  FIXTURES hostile_archives
  LABELS long)

launcher_add_test(hostile_mutation_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/hostile_mutation_test.cpp
  FIXTURES mutation_sources
  LABELS long)

launcher_add_test(hostile_input_tests
  SOURCES
    ${CMAKE_CURRENT_LIST_DIR}/hostile_input_test.cpp
  LOCKS machine_state
  LABELS long)
