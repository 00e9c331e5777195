# Whole-system scenarios and long runs: real launchers, real reference
# clients, the protocol key and the all-users desktop; one at a time.

# The real launch flow with a restart prompt that always answers Cancel.
add_executable(cancelling ${CMAKE_CURRENT_LIST_DIR}/cancelling_launcher.cpp
                          $<TARGET_OBJECTS:launch_flow>)
target_link_libraries(cancelling PRIVATE launcher_lib)
target_compile_options(cancelling PRIVATE ${LAUNCHER_WARNINGS})

launcher_add_test(system_soak_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/soak_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/system_rig.cpp
          ${CMAKE_SOURCE_DIR}/tests/launcher/client_rig.cpp
  LOCKS machine_state)
add_dependencies(system_soak_tests cancelling)

# The update the scenarios stage, built at test time around the reference
# client.
set(SYSTEM_FIXTURE_DIR ${CMAKE_BINARY_DIR}/fixtures/system)
add_test(NAME system_archive_fixtures
  COMMAND python3 ${CMAKE_CURRENT_LIST_DIR}/make_system_archives.py ${SYSTEM_FIXTURE_DIR}
          ${CMAKE_BINARY_DIR}/bin/vorlan.exe ${CMAKE_BINARY_DIR}/bin/launcher.exe)
set_tests_properties(system_archive_fixtures PROPERTIES
  FIXTURES_SETUP system_fixtures TIMEOUT 60)
launcher_test_path(system_fixture_path ${SYSTEM_FIXTURE_DIR})

launcher_add_test(system_scenario_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/scenario_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/install_folder_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/self_update_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/system_rig.cpp
          ${CMAKE_SOURCE_DIR}/tests/desktop/shortcut_rig.cpp
          ${CMAKE_SOURCE_DIR}/tests/update/update_test_support.cpp
  LOCKS machine_state
  FIXTURES system_fixtures)

# The launcher killed again and again while an update replaces its own image.
launcher_add_test(system_self_update_kill_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/self_update_kill_test.cpp
          ${CMAKE_CURRENT_LIST_DIR}/system_rig.cpp
          ${CMAKE_SOURCE_DIR}/tests/update/update_test_support.cpp
  LOCKS machine_state
  FIXTURES system_fixtures
  LABELS long)

foreach(suite IN ITEMS system_scenario_tests system_self_update_kill_tests)
  target_compile_definitions(${suite} PRIVATE UPDATE_FIXTURE_DIR="${system_fixture_path}")
endforeach()

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
target_link_libraries(systemprobe PRIVATE launcher_lib)
target_compile_options(systemprobe PRIVATE ${LAUNCHER_WARNINGS})
if(NOT MSVC)
  target_link_options(systemprobe PRIVATE -municode)
endif()
add_dependencies(systemprobe launcher vorlan promptprobe)
foreach(scenario IN ITEMS cancel-hands-off-only ok-restarts-with-the-link forcerun-restarts-without-prompt)
  add_test(NAME LinkWhileRunning.${scenario}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/link_while_running.sh $<TARGET_FILE_DIR:systemprobe>
            ${scenario})
  set_tests_properties(LinkWhileRunning.${scenario} PROPERTIES
    TIMEOUT 120 SKIP_RETURN_CODE 77 RESOURCE_LOCK machine_state)
endforeach()
