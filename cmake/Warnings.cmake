# Warnings are errors everywhere; the same set for gcc, clang and mingw.
function(velinor_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
        -Wimplicit-fallthrough -Wformat=2 -Werror)
    # gcc 12 (native and mingw) reports impossible overlaps in std::string's inlined copies at
    # -O2 and above (gcc bug 105329); the warning is noise there and nowhere else.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
       AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
endfunction()
