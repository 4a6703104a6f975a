# Installs the build into a scratch prefix, as `cmake --install` does for a user, and checks that
# the program, its documents and (where the build makes one) its man page all arrive.
#
#   cmake -DBUILD=DIR -DPREFIX=DIR -DMAN_PAGE=ON|OFF -P install_check.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed (${result}):\n${output}")
endif()

set(expected bin/velinor share/doc/velinor/README.md share/doc/velinor/copyright
             share/doc/velinor/changelog.gz)
if(MAN_PAGE)
    list(APPEND expected share/man/man1/velinor.1.gz)
endif()
foreach(file IN LISTS expected)
    if(NOT EXISTS "${PREFIX}/${file}")
        message(FATAL_ERROR "cmake --install put no ${file} under ${PREFIX}:\n${output}")
    endif()
    file(SIZE "${PREFIX}/${file}" size)
    if(size LESS 100)
        message(FATAL_ERROR "${file} is only ${size} bytes")
    endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
message(STATUS "installed: ${expected}")
