launcher_add_test(client_handoff_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_handoff_test.cpp
  LOCKS machine_state
  LABELS locale)
