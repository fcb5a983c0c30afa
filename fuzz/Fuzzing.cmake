# The fuzz build (-DKELDRA_FUZZ=ON with CC=clang CXX=clang++): every library
# with AddressSanitizer, UndefinedBehaviorSanitizer and the coverage libFuzzer
# needs; keldra_add_fuzzer links the fuzzer's main into a target.
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "KELDRA_FUZZ needs clang (CXX=clang++)")
endif()
if(NOT KELDRA_SANITIZER STREQUAL "none")
    message(FATAL_ERROR "KELDRA_FUZZ brings its own sanitizers; leave KELDRA_SANITIZER at none")
endif()

# -Wno-maybe-uninitialized of the GCC build is unknown to clang; clang alone
# warns about private members that are kept but not read (the gateway's
# interfaces hand them over).
add_compile_options(-Wno-unknown-warning-option -Wno-unused-private-field)
add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                    -fno-omit-frame-pointer
                    -fsanitize-ignorelist=${CMAKE_CURRENT_LIST_DIR}/ubsan-ignorelist.txt)
add_link_options(-fsanitize=address,undefined)
