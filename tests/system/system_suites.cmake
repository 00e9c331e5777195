# Whole-system scenarios and long runs: real launchers, real reference
# clients, the protocol key and the all-users desktop; one at a time.

# The real launch flow with a restart prompt that always answers Cancel.
add_executable(cancelling ${CMAKE_CURRENT_LIST_DIR}/cancelling_launcher.cpp)
target_link_libraries(cancelling PRIVATE launch_flow launcher_options)

launcher_add_test(system_soak_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/soak_test.cpp
  LOCKS machine_state
  LABELS long)
add_dependencies(system_soak_tests cancelling)

# The update the scenarios stage, built at test time around the reference
# client.
set(SYSTEM_FIXTURE_DIR ${CMAKE_BINARY_DIR}/fixtures/system)
add_test(NAME system_archive_fixtures
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/make_system_archives.py ${SYSTEM_FIXTURE_DIR}
          ${CMAKE_BINARY_DIR}/bin/vorlan.exe ${CMAKE_BINARY_DIR}/bin/launcher.exe)
set_tests_properties(system_archive_fixtures PROPERTIES
  FIXTURES_SETUP system_fixtures TIMEOUT 60)

launcher_add_test(system_scenario_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/scenario_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/install_folder_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/self_update_test.cpp
  LOCKS machine_state
  FIXTURES system_fixtures
  LABELS locale)

# The launcher killed again and again while an update replaces its own image.
launcher_add_test(system_self_update_kill_tests KILLS
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/self_update_kill_test.cpp
  LOCKS machine_state
  FIXTURES system_fixtures
  LABELS long)

# Drive R: of the tests' Wine prefix maps to a folder of the build tree for the
# length of the scenarios: an installation at a drive root.
set(SYSTEM_DRIVE_DIR ${CMAKE_BINARY_DIR}/system_drive_root)
foreach(action IN ITEMS map unmap)
  add_test(NAME system_drive_root_${action}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/drive_root.sh ${action} ${SYSTEM_DRIVE_DIR}
            ${CMAKE_BINARY_DIR}/wineprefix)
endforeach()
set_tests_properties(system_drive_root_map PROPERTIES
  FIXTURES_SETUP system_fixtures RESOURCE_LOCK machine_state TIMEOUT 30)
set_tests_properties(system_drive_root_unmap PROPERTIES
  FIXTURES_CLEANUP system_fixtures RESOURCE_LOCK machine_state TIMEOUT 30)

# A second link while the client runs, answered in the real prompt under the
# test display (or forced past it).
add_executable(systemprobe ${CMAKE_CURRENT_LIST_DIR}/system_probe.cpp)
target_link_libraries(systemprobe PRIVATE launcher_base launcher_options)
set_target_properties(systemprobe PROPERTIES WIDE_ENTRY ON)
add_dependencies(systemprobe launcher vorlan promptprobe)
foreach(scenario IN ITEMS cancel-hands-off-only ok-restarts-with-the-link forcerun-restarts-without-prompt)
  add_test(NAME LinkWhileRunning.${scenario}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/link_while_running.sh $<TARGET_FILE_DIR:systemprobe>
            ${scenario})
  set_tests_properties(LinkWhileRunning.${scenario} PROPERTIES
    TIMEOUT 120 SKIP_RETURN_CODE 77 RESOURCE_LOCK machine_state LABELS locale)
endforeach()
