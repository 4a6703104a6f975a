# Applied to every target of the tree, so the test binaries and the libraries agree.
# Line tables are all a sanitizer's report needs; with clang's full debug information a file took
# half as long again to compile (the last -g option given wins over the build type's -g).
if(VELINOR_SANITIZE)
    if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
        add_compile_options(-fsanitize=${VELINOR_SANITIZE} -fno-omit-frame-pointer -gline-tables-only)
    else()
        add_compile_options(-fsanitize=${VELINOR_SANITIZE} -fno-omit-frame-pointer -g)
    endif()
    add_link_options(-fsanitize=${VELINOR_SANITIZE})
    if(VELINOR_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
# The fuzz targets need coverage feedback from the library code they drive, not only from their
# own files; the libFuzzer runtime itself is linked into the targets alone.
# The dynamic-type check is left out there: no input can change an object's type, and with the
# comparison tracing applied to its own hash lookups it made up most of every framer's time.
if(VELINOR_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link -fno-sanitize=vptr)
    add_compile_definitions(VELINOR_FUZZING)
endif()
