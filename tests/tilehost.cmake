# The tile end to end through tools/tilehost, against the real service and the simulator.

# A test-only LSA package answering to "Negotiate", installed into the test prefix.
add_library(portgate_negotiate SHARED negotiate_package/negotiate_package.cpp)
set_target_properties(portgate_negotiate PROPERTIES PREFIX "" OUTPUT_NAME portgate_negotiate)
add_test(NAME lsa_negotiate_install
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/negotiate_package/install.sh ${TEST_WINEPREFIX}
                 $<TARGET_FILE:portgate_negotiate>)
set_tests_properties(lsa_negotiate_install PROPERTIES
  FIXTURES_REQUIRED wine FIXTURES_SETUP lsa_negotiate TIMEOUT 60)
