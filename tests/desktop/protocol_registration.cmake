# The protocol's open command after real launches, and links opened through the
# shell. The launcher starts reference clients, so these share their lock.
launcher_add_test(protocol_registration_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/protocol_registration_test.cpp
  LOCKS machine_state)
