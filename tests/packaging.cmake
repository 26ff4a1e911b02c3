# The installer package end to end under Wine in a prefix of its own (not the shared one),
# so it needs neither the wine fixture nor the service lock; exit 77 is its skip.
add_test(NAME packaging_msi
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/packaging_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(packaging_msi PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)
