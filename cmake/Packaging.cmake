# What `cmake --install` puts where, and the packages CPack makes of it: a Debian package of the
# command line (the `deb` presets) and a zip of the Windows programs (the `windows` build and
# the `windows-zip` package preset).
include(GNUInstallDirs)

if(WIN32)
    # Everything at the zip's top: the console program, the dialog (its manifest is a resource
    # inside it), the README and the notices.
    install(TARGETS velinor velinor_dialog RUNTIME DESTINATION .)
    install(FILES README.md DESTINATION .)
    install(FILES COPYRIGHT DESTINATION . RENAME COPYRIGHT.txt)
else()
    install(TARGETS velinor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    install(FILES README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
    install(FILES COPYRIGHT DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)

    # The release history, in Debian's changelog format, compressed and named as Debian wants it
    # for a package that is its own upstream (a version without a Debian revision). Its latest
    # entry is the project's version, or the package would say one thing and its history another.
    set(VELINOR_CHANGELOG_SOURCE ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian-changelog)
    file(STRINGS ${VELINOR_CHANGELOG_SOURCE} VELINOR_CHANGELOG_TOP LIMIT_COUNT 1)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELINOR_CHANGELOG_SOURCE})
    if(NOT VELINOR_CHANGELOG_TOP MATCHES "^velinor \\(${PROJECT_VERSION}\\) ")
        message(FATAL_ERROR "cmake/debian-changelog starts with '${VELINOR_CHANGELOG_TOP}': "
                            "add an entry for velinor ${PROJECT_VERSION} at its top")
    endif()
    set(VELINOR_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
    add_custom_command(OUTPUT ${VELINOR_CHANGELOG}
        COMMAND gzip -9n -c ${VELINOR_CHANGELOG_SOURCE} > ${VELINOR_CHANGELOG}
        DEPENDS ${VELINOR_CHANGELOG_SOURCE}
        COMMENT "Compressing the changelog")
    add_custom_target(velinor_changelog ALL DEPENDS ${VELINOR_CHANGELOG})
    install(FILES ${VELINOR_CHANGELOG} DESTINATION ${CMAKE_INSTALL_DOCDIR})

    if(VELINOR_MAN_PAGE)
        # Made by running the program just built, so its help and the page cannot drift apart.
        find_program(VELINOR_HELP2MAN help2man)
        if(NOT VELINOR_HELP2MAN)
            message(FATAL_ERROR "help2man not found: the man page is made with it. Install it "
                                "(it is among scripts/lib.sh's BUILD_PACKAGES), or configure "
                                "with -DVELINOR_MAN_PAGE=OFF for a build without the page.")
        endif()
        set(VELINOR_MAN ${CMAKE_CURRENT_BINARY_DIR}/velinor.1.gz)
        add_custom_command(OUTPUT ${VELINOR_MAN}
            COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man-page.sh $<TARGET_FILE:velinor>
                    ${VELINOR_MAN} ${VELINOR_HELP2MAN}
            DEPENDS velinor ${CMAKE_CURRENT_SOURCE_DIR}/cmake/man-page.sh
            COMMENT "Making the man page from velinor's help"
            VERBATIM)
        add_custom_target(velinor_man ALL DEPENDS ${VELINOR_MAN})
        install(FILES ${VELINOR_MAN} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
    endif()
endif()

set(CPACK_PACKAGE_NAME velinor)
set(CPACK_PACKAGE_VENDOR Quorvex)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "get a GNSS receiver on a serial cable to the baud rate you want")
set(CPACK_RESOURCE_FILE_README ${CMAKE_CURRENT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/packages)

set(VELINOR_PACKAGE_MAINTAINER "Quorvex Velinor developers <velinor@quorvex.invalid>"
    CACHE STRING "The Debian package's maintainer, as Name <address>")
set(CPACK_PACKAGE_CONTACT "${VELINOR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${VELINOR_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "velinor finds the rate a GNSS receiver on a serial port talks at, commands it
to the wanted rate in its own protocol and proves that it answers there.
Survey receivers of the 2000s and today's modules are driven (velinor
receivers lists them), each with a simulated receiver to try the program
without hardware (velinor demo, velinor sim), on serial ports and on terminal
servers (RFC 2217). It also sets fleets of receivers at once, reads the time
of a receiver and of recorded receiver streams, and shows what a port carries.")

# The zip unpacks into the folder it is extracted to (Windows' own "Extract All" makes one).
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
if(WIN32)
    set(CPACK_ARCHIVE_FILE_NAME "velinor-${PROJECT_VERSION}-win64")
endif()

include(CPack)
