launcher_add_test(single_instance_tests
  SOURCES ${CMAKE_CURRENT_LIST_DIR}/single_instance_test.cpp
  LOCKS machine_state)

# The real message box, answered with the keyboard and the close button under
# the test display.
add_executable(promptprobe ${CMAKE_CURRENT_LIST_DIR}/prompt_probe.cpp)
target_link_libraries(promptprobe PRIVATE test_support launcher_options)
set_target_properties(promptprobe PROPERTIES WIDE_ENTRY ON)
add_dependencies(promptprobe launcher vorlan)

# Each scenario waits on the real box for several seconds: "long" as well as
# "locale" (a script test, unlike a GoogleTest program, takes both).
foreach(scenario IN ITEMS escape-hands-off-the-link return-restarts-every-client
                          close-button-is-cancel escape-without-pipe-exits-1)
  add_test(NAME RestartPrompt.${scenario}
    COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/prompt_test.sh $<TARGET_FILE_DIR:promptprobe> ${scenario})
  set_tests_properties(RestartPrompt.${scenario} PROPERTIES
    TIMEOUT 120 SKIP_RETURN_CODE 77
    RESOURCE_LOCK machine_state LABELS "locale;long")
endforeach()
