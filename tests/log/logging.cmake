# The logging framework and the process logger, in memory.
launcher_add_test(log_unit_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/cpplog_test.cpp ${CMAKE_CURRENT_LIST_DIR}/zm_logger_test.cpp)

# This program serves as the debug-output viewer while it runs; a launcher
# started meanwhile by another test could wait on it, so it takes the lock of
# the tests that start launchers.
launcher_add_test(log_debug_output_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/debug_output_test.cpp
  LOCKS machine_state)

# The real launcher's records; it starts reference clients.
launcher_add_test(log_launcher_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/launcher_log_test.cpp
  LOCKS machine_state)
add_dependencies(log_launcher_tests heldkeys)

# The same records through Wine's trace of the debugger output.
add_test(NAME LauncherLog.DebugstrTraceShowsTheRecordsInPiecesOf256
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/debugstr_trace_test.sh ${CMAKE_BINARY_DIR}/bin)
set_tests_properties(LauncherLog.DebugstrTraceShowsTheRecordsInPiecesOf256 PROPERTIES
  TIMEOUT 120 RESOURCE_LOCK machine_state)
