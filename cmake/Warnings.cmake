# Warnings are errors everywhere; the same set for gcc, clang and mingw.
function(velinor_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
        -Wimplicit-fallthrough -Wformat=2 -Werror)
    # gcc 12 (native and mingw) reports impossible overlaps, out-of-bounds copies and null
    # arguments inside inlined std::string and std::vector code once it optimises (gcc bugs
    # 105329, 107852). Off for gcc 12's optimised builds only: the gcc debug build and clang
    # keep these warnings, and the sanitizer builds check the real thing.
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
       AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        set(noisy -Wno-restrict -Wno-array-bounds -Wno-stringop-overflow -Wno-stringop-overread
                  -Wno-nonnull)
        target_compile_options(${target} PRIVATE "$<$<NOT:$<CONFIG:Debug>>:${noisy}>")
    endif()
endfunction()
