# Authenticode signing with a throw-away certificate, checked with
# osslsigncode, and the signed launcher started with the reference client.
add_test(NAME Signing.signs-verifies-and-still-starts-the-client
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/signing_test.sh $<TARGET_FILE_DIR:promptprobe>)
set_tests_properties(Signing.signs-verifies-and-still-starts-the-client PROPERTIES
  TIMEOUT 180 SKIP_RETURN_CODE 77 RESOURCE_LOCK machine_state)
