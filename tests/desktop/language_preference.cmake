launcher_add_test(language_preference_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/language_preference_test.cpp
  LOCKS machine_state)
