# The configuration tool's piece of the test kit: its snapshot and files, also used by
# tools/bench/setupbench.
add_library(setup_support STATIC support/setup_support.cpp)
target_include_directories(setup_support PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/support)
target_link_libraries(setup_support PUBLIC test_kit product_key advapi32)

# Stand-ins for the provider (a version resource) and the tray client (records its start).
add_library(wardtile_standin SHARED standins/wardtile_standin.cpp standins/wardtile_standin.rc)
set_target_properties(wardtile_standin PROPERTIES PREFIX "")

# wardsetup.exe: in-process tests link the tool's code and resources; they write the
# product key and the registration entries, so they hold the service tests' lock.

portgate_test(wardsetup_file_test
  SOURCES wardsetup_file_test.cpp ${PROJECT_SOURCE_DIR}/resources/wardsetup.rc
  LIBS setup_support wardsetup_core
  DEPENDS wardsetup wardtile_standin
  SERVICE)
add_executable(wardtray_standin WIN32 standins/wardtray_standin.cpp)
target_link_options(wardtray_standin PRIVATE -municode)

portgate_test(wardsetup_test
  SOURCES wardsetup_test.cpp ${PROJECT_SOURCE_DIR}/resources/wardsetup.rc
  LIBS setup_support test_kit wardsetup_core comctl32
  DEPENDS wardsetup wardtile_standin wardtray_standin
  SERVICE)

# The windows and strings as a Japanese user interface loads them.
add_test(NAME wardsetup_japanese
         COMMAND wardsetup_test --gtest_color=no
                 --gtest_filter=Resources.*:Setup.PagesShow*:Setup.AboutBox*:Setup.FailedSave*)
set_tests_properties(wardsetup_japanese PROPERTIES
  FIXTURES_REQUIRED wine
  ENVIRONMENT "${TEST_WINE_ENV};LANG=ja_JP.UTF-8;LC_ALL=ja_JP.UTF-8;PORTGATE_EXPECT_LANGUAGE=1041"
  RESOURCE_LOCK wardhost_service
  TIMEOUT 300)
target_compile_definitions(wardsetup_file_test PRIVATE
  "PORTGATE_EXAMPLE_INI=L\"Z:${PROJECT_SOURCE_DIR}/examples/portgate.ini\"")

# wardsetup.exe: GUI, Windows DLLs only, elevated, common controls 6.
find_program(MINGW_OBJDUMP NAMES x86_64-w64-mingw32-objdump objdump REQUIRED)
add_test(NAME wardsetup_image
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check-exe-image.sh ${MINGW_OBJDUMP}
                 $<TARGET_FILE:wardsetup> GUI requireAdministrator
                 "advapi32.dll gdi32.dll iphlpapi.dll kernel32.dll msvcrt.dll user32.dll")
