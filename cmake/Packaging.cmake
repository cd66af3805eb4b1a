# What an installation carries beside the programs: man pages, bash completion, the licence
# and the README; and the Debian package made from it all with `cpack -G DEB`.
include(GNUInstallDirs)

# Man pages are made at build time from each program's own --help (help2man), so they list
# exactly the options the program has; data/man/*.h2m add the sections --help does not carry.
find_program(HELP2MAN help2man)
find_program(PERL perl)
set(QMX_MAN_DIR ${CMAKE_BINARY_DIR}/man)

function(qmx_man_page program summary)
    set(page ${QMX_MAN_DIR}/${program}.1)
    set(extra ${PROJECT_SOURCE_DIR}/data/man/${program}.h2m)
    set(includes --include ${extra})
    set(commands)
    set(depends ${program} ${extra})
    if(program STREQUAL "qmx-isp")
        # One subsection per command, from "qmx-isp COMMAND --help".
        set(generated ${QMX_MAN_DIR}/${program}-commands.h2m)
        set(commands COMMAND ${PERL} ${PROJECT_SOURCE_DIR}/data/man/commands.pl
                             $<TARGET_FILE:${program}> ${generated})
        list(APPEND includes --include ${generated})
        list(APPEND depends ${PROJECT_SOURCE_DIR}/data/man/commands.pl)
    endif()
    add_custom_command(
        OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${QMX_MAN_DIR}
        ${commands}
        COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen
                ${HELP2MAN} --no-info --section 1
                --name ${summary} --source "QMX-ISP ${PROJECT_VERSION}"
                ${includes} --output ${page} $<TARGET_FILE:${program}>
        DEPENDS ${depends}
        COMMENT "Man page ${program}.1"
        VERBATIM)
    add_custom_target(man-${program} ALL DEPENDS ${page})
    install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

if(CMAKE_CROSSCOMPILING)
    message(STATUS "Cross-compiling: no man pages (help2man runs the programs)")
elseif(NOT HELP2MAN OR NOT PERL)
    message(WARNING "help2man not found: no man pages (scripts/setup.sh installs it)")
else()
    qmx_man_page(qmx-isp "in-system programmer for QMX 8051-family microcontrollers")
    qmx_man_page(qmx-chipsim "simulated QMX chip on a pseudo-terminal")
    if(TARGET qmx-isp-gui)
        qmx_man_page(qmx-isp-gui "the QMX-ISP window")
    endif()
endif()

# One completion script serves both programs; bash-completion loads it by command name.
set(QMX_COMPLETION_DIR ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
foreach(program qmx-isp qmx-chipsim)
    install(FILES ${PROJECT_SOURCE_DIR}/data/completion/qmx-isp.bash
            DESTINATION ${QMX_COMPLETION_DIR} RENAME ${program})
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# Debian looks for the licence under this name.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR}
        RENAME copyright)

# The Debian package: `cpack -G DEB` in the build folder. Library dependencies are found
# by dpkg-shlibdeps; the package installs under /usr.
set(CPACK_PACKAGE_NAME qmx-isp)
set(CPACK_PACKAGE_VENDOR "the QMX-ISP developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "in-system programmer for QMX 8051-family microcontrollers")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Downloads Intel-HEX and binary images into QMX microcontrollers through their serial boot "
    "loader: a window (qmx-isp-gui), a command line for scripts and production lines (qmx-isp) "
    "and a simulated chip for trying both without hardware (qmx-chipsim).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "the QMX-ISP developers")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
