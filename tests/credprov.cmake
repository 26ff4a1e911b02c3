# Tests of wardtile.dll in-process: the COM contract, the tile's state from the registry,
# submits stopped before the service, and the packed logon.
portgate_test(wardtile_test
  SOURCES wardtile_test.cpp
  LIBS wardtile_core
  DEPENDS wardtile wardhost dezsim dezsim_scripts
  SERVICE)  # it writes the product key and holds the service's pipe name

# The same texts as a Japanese user interface loads them.
add_test(NAME wardtile_test_japanese
         COMMAND wardtile_test --gtest_color=no --gtest_filter=Resources.*:Submit.*:ComContract.ProviderTables)
set_tests_properties(wardtile_test_japanese PROPERTIES
  FIXTURES_REQUIRED wine
  ENVIRONMENT "${TEST_WINE_ENV};LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8;PORTGATE_EXPECT_LANGUAGE=1041"
  RESOURCE_LOCK wardhost_service
  TIMEOUT 300)

# What the logon screen loads: two exports, Windows' own DLLs only.
find_program(MINGW_OBJDUMP x86_64-w64-mingw32-objdump REQUIRED)
add_test(NAME wardtile_image
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check-dll-image.sh ${MINGW_OBJDUMP} $<TARGET_FILE:wardtile>
                 DllCanUnloadNow DllGetClassObject)
