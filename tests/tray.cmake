# Tests of wardtray.exe, included at the end of tests/CMakeLists.txt.
portgate_test(tray_test
  SOURCES tray_test.cpp
  LIBS ward_client
  DEPENDS wardtray wardhost dezsim dezsim_scripts standin_service wardtray_standin
  SERVICE)
# The client's ids, messages and limits by its own headers.
target_include_directories(tray_test PRIVATE ${PROJECT_SOURCE_DIR}/tray ${PROJECT_SOURCE_DIR}/resources)
set_tests_properties(tray_test PROPERTIES
  ENVIRONMENT "${TEST_WINE_ENV};GTEST_FILTER=-TraySessionEnd.*:TrayInterfaces.*:TrayWorkflow.SessionEnd*")

# The session's end by its messages: one case waits out the client's own 30 s bound.
portgate_test_part(tray_session_end_messages tray_test TrayWorkflow.SessionEnd* "${TEST_WINE_ENV}"
  RESOURCE_LOCK wardhost_service TIMEOUT 300)
# wineboot -e ends every program with windows in the prefix: nothing may run beside it.
portgate_test_part(tray_session_end tray_test TraySessionEnd.* "${TEST_WINE_ENV}" RUN_SERIAL TRUE TIMEOUT 300)
# The texts the user sees under a Japanese user interface.
portgate_test_part(tray_test_japanese tray_test
  TrayResources.*:TrayWindow.PagesFollowTheStateValues:TrayWorkflow.LogonRefusalsAndFailures
  "${TEST_JAPANESE_ENV}" RESOURCE_LOCK wardhost_service TIMEOUT 600)

# The several-interfaces warning needs a known set of addresses: a network namespace.
add_test(NAME tray_interfaces
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/tray-interfaces.sh
                 ${CMAKE_RUNTIME_OUTPUT_DIRECTORY} ${CMAKE_BINARY_DIR}/wineprefix-netns)
set_tests_properties(tray_interfaces PROPERTIES
  SKIP_RETURN_CODE 77
  TIMEOUT 300)

# GUI, Windows DLLs only, not elevated, common controls 6 (marquee bar, shield).
add_test(NAME wardtray_image
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/check-exe-image.sh ${MINGW_OBJDUMP}
                 $<TARGET_FILE:wardtray> GUI asInvoker
                 "advapi32.dll comctl32.dll gdi32.dll iphlpapi.dll kernel32.dll msvcrt.dll shell32.dll user32.dll")
