# The product configuration reader works on the tests' own folders only.
launcher_add_test(product_config_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/product_config_test.cpp
  LABELS locale)

# Shortcut tests share the all-users desktop.
launcher_add_test(desktop_shortcut_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/desktop_shortcut_test.cpp
  LOCKS machine_state)

# The whole launch starts reference clients, sets the language value and
# works on the all-users desktop.
launcher_add_test(desktop_launch_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/desktop_launch_test.cpp
  LOCKS machine_state)

# A real icon for the installations the tests build.
configure_file(${CMAKE_SOURCE_DIR}/resources/launcher.ico
               ${CMAKE_BINARY_DIR}/bin/test_vorlan.ico COPYONLY)
