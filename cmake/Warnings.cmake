# Warnings are errors everywhere; the same set for gcc, clang and mingw.
function(velinor_warnings target)
    target_compile_options(${target} PRIVATE
        -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Woverloaded-virtual
        -Wimplicit-fallthrough -Wformat=2 -Werror)
endfunction()
