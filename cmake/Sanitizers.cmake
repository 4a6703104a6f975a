# Applied to every target of the tree, so the test binaries and the libraries agree.
if(VELINOR_SANITIZE)
    add_compile_options(-fsanitize=${VELINOR_SANITIZE} -fno-omit-frame-pointer -g)
    add_link_options(-fsanitize=${VELINOR_SANITIZE})
    if(VELINOR_SANITIZE MATCHES "undefined")
        add_compile_options(-fno-sanitize-recover=undefined)
    endif()
endif()
# The fuzz targets need coverage feedback from the library code they drive, not only from their
# own files; the libFuzzer runtime itself is linked into the targets alone.
if(VELINOR_FUZZ)
    add_compile_options(-fsanitize=fuzzer-no-link)
endif()
