# Ten launchers at the same moment, against real reference clients and the
# real prompt under the test display; repeated, so it runs for a while.
launcher_add_test(system_burst_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/burst_test.cpp
  LOCKS machine_state
  LABELS long)
