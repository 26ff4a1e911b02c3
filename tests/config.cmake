# wardsetup.exe: in-process tests link the tool's code and resources; they write the
# product key and the registration entries, so they hold the service tests' lock.
add_library(wardsetup_test_support STATIC wardsetup_test_support.cpp)
target_link_libraries(wardsetup_test_support PUBLIC test_support wardsetup_core)

portgate_test(wardsetup_file_test
  SOURCES wardsetup_file_test.cpp ${PROJECT_SOURCE_DIR}/resources/wardsetup.rc
  LIBS wardsetup_test_support
  DEPENDS wardsetup
  SERVICE)
