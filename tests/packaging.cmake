# The installer package end to end under Wine in a prefix of its own (not the shared one),
# so it needs neither the wine fixture nor the service lock; exit 77 is its skip.
add_test(NAME packaging_msi
         COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/packaging_test.sh ${CMAKE_BINARY_DIR})
set_tests_properties(packaging_msi PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 900)

# The next patch version's programs for the upgrade steps, built with everything else so
# that the test on a built tree compiles nothing (its own build of them is then a no-op).
math(EXPR next_patch "${PROJECT_VERSION_PATCH} + 1")
set(next_version ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR}.${next_patch})
set(next_tree ${CMAKE_BINARY_DIR}/packaging-next)
# Configured once per version (its own build reruns CMake when the sources' lists change);
# the stamp's name holds the version, so a new version configures it again.
set(next_stamp ${next_tree}/configured-${next_version})
add_custom_command(OUTPUT ${next_stamp}
  COMMAND ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR} -B ${next_tree}
          -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DPORTGATE_VERSION=${next_version}
  COMMAND ${CMAKE_COMMAND} -E touch ${next_stamp}
  VERBATIM)
add_custom_target(packaging_next ALL
  DEPENDS ${next_stamp}
  # A make of its own (the outer make's job server is not handed to custom commands),
  # started as a top-level make so that it does not print every directory it enters.
  COMMAND ${CMAKE_COMMAND} -E env --unset=MAKEFLAGS --unset=MFLAGS --unset=MAKELEVEL
          ${CMAKE_COMMAND} --build ${next_tree} -j2 --target wardhost wardsetup wardtray wardtile
  VERBATIM)
