# Tests of the code the clients and the configuration tool share.
portgate_test(shared_config_test
  SOURCES shared_config_test.cpp
  LIBS product_key
  SERVICE)  # it writes the product key

portgate_test(ward_client_test
  SOURCES ward_client_test.cpp ${PROJECT_SOURCE_DIR}/resources/wardhost.rc
  LIBS ward_client
  DEPENDS wardhost
  SERVICE)
target_include_directories(ward_client_test PRIVATE ${PROJECT_SOURCE_DIR}/resources)
