# Instrumented builds. Both switches instrument every target of the tree, so the runtime sees all of our code
# and every executable links the runtime that its objects need.
#
#   VANTREL_SANITIZE  AddressSanitizer (LeakSanitizer included) and UndefinedBehaviorSanitizer, GCC or Clang.
#   VANTREL_FUZZ      the libFuzzer targets in tests/fuzz; Clang only, and implies the sanitizers.

option(VANTREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(VANTREL_FUZZ "Build the libFuzzer targets in tests/fuzz (Clang)" OFF)

if(VANTREL_SANITIZE OR VANTREL_FUZZ)
    if(MSVC)
        message(FATAL_ERROR "VANTREL_SANITIZE and VANTREL_FUZZ need GCC or Clang")
    endif()
    # Undefined behaviour aborts like a memory error does, so a test or a fuzz run cannot pass over it.
    add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
    add_link_options(-fsanitize=address,undefined)
endif()

if(VANTREL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        message(FATAL_ERROR "VANTREL_FUZZ needs Clang: configure with -DCMAKE_CXX_COMPILER=clang++")
    endif()
    # Coverage hooks everywhere; only the fuzz targets themselves link libFuzzer's main().
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
