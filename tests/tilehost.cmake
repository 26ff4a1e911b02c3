# The tile end to end through tools/lab/tilehost, against the real service and the simulator.

# A test-only LSA package answering to "Negotiate", installed into the test prefix.
add_library(portgate_negotiate SHARED negotiate_package/negotiate_package.cpp)
set_target_properties(portgate_negotiate PROPERTIES PREFIX "" OUTPUT_NAME portgate_negotiate)
add_test(NAME lsa_negotiate_install
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/negotiate_package/install.sh ${TEST_WINEPREFIX}
                 $<TARGET_FILE:portgate_negotiate>)
set_tests_properties(lsa_negotiate_install PROPERTIES
  FIXTURES_REQUIRED wine FIXTURES_SETUP lsa_negotiate TIMEOUT 60)

# A stand-in service that takes wardhost's name and pipe and answers as told.
add_executable(standin_service standin_service.cpp)
target_link_libraries(standin_service PRIVATE advapi32)
target_include_directories(standin_service PRIVATE ${PROJECT_SOURCE_DIR}/common)

portgate_test(tilehost_test
  SOURCES tilehost_test.cpp
  LIBS iphlpapi product_key
  DEPENDS wardtile tilehost wardhost dezsim dezsim_scripts standin_service
  SERVICE)
# The tile's texts and limits, and the service's texts, by their own headers.
target_include_directories(tilehost_test PRIVATE ${PROJECT_SOURCE_DIR}/resources
                           ${PROJECT_SOURCE_DIR}/credprov ${PROJECT_SOURCE_DIR}/common)
set_tests_properties(tilehost_test PROPERTIES FIXTURES_REQUIRED "wine;lsa_negotiate")

# The tile's own texts as a Japanese user interface shows them (the service, started
# by the prefix's service manager, keeps the language of the run).
add_test(NAME tilehost_japanese
         COMMAND tilehost_test --gtest_color=no
                 --gtest_filter=TileTest.Accepted*:TileTest.Blank*:TileTexts.*)
set_tests_properties(tilehost_japanese PROPERTIES
  FIXTURES_REQUIRED "wine;lsa_negotiate"
  RESOURCE_LOCK wardhost_service
  ENVIRONMENT "${TEST_WINE_ENV};LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8;PORTGATE_EXPECT_LANGUAGE=1041"
  TIMEOUT 600)

# Several IPv4 addresses, the warning in-process and through tilehost: a network namespace
# with two more on lo, and a prefix of its own there (the shared wineserver would report the
# host's addresses).
add_test(NAME tilehost_interfaces
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tilehost_interfaces.sh ${CMAKE_BINARY_DIR}/wineprefix-interfaces
                 $<TARGET_FILE:portgate_negotiate> $<TARGET_FILE:wardtile_test> $<TARGET_FILE:tilehost_test>)
set_tests_properties(tilehost_interfaces PROPERTIES
  DEPENDS "wardtile_test;tilehost_test"
  SKIP_RETURN_CODE 77
  TIMEOUT 300)
