launcher_add_test(single_instance_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/single_instance_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/client_rig.cpp
  LOCKS client_processes language_key)
