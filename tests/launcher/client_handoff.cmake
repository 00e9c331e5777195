launcher_add_test(client_handoff_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/client_handoff_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/client_rig.cpp
  LOCKS machine_state
  LABELS locale)
