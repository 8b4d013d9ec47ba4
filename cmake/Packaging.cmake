# What `cpack` makes from a build, and where `cmake --install` puts things.
#
# On Linux: two Debian packages, one per install component. "loader" is
# tftp-loader: the window, the headless loader, tftp-put, the desktop entry,
# the icon and a man page per program. "sim" is tftp-loader-sim: the
# simulated unit, wanted only by those who try the loader without hardware.
# Their dependencies are what dpkg-shlibdeps reads from the programs.
# In the Windows cross build: one zip of the three .exe files with a README
# and the license, and an installer (.msi) of the same programs, which wixl
# builds (cmake/WindowsInstaller.cmake, cmake/tftp-loader.wxs).
#
# Included before the folders, so that their install rules can use
# loader_install_program(); the top-level CMakeLists includes CPack after
# them, once every component is known. Every install rule names its
# component: a rule without one would make a third package.
include(GNUInstallDirs)

set(LOADER_PACKAGE_CONTACT "The Tessik TFTP Loader developers <tftp-loader@tessik.invalid>"
    CACHE STRING "Maintainer of the Debian packages: name <address>")

if(WIN32)
    # A zip is unpacked and run where it lies: the programs sit beside the
    # README, not in a bin/ folder.
    set(LOADER_INSTALL_BINDIR .)
else()
    set(LOADER_INSTALL_BINDIR ${CMAKE_INSTALL_BINDIR})
endif()

# Man pages are the programs' own --help and --version, turned into roff by
# help2man at build time, so they cannot drift from the options. Builds that
# are never packaged (sanitizers, fuzzers, the cross build, whose programs
# cannot run here) skip them.
find_program(LOADER_HELP2MAN help2man)
if(LOADER_HELP2MAN AND NOT WIN32 AND NOT LOADER_SANITIZE AND NOT LOADER_FUZZ)
    set(LOADER_MAN_PAGES ON)
else()
    set(LOADER_MAN_PAGES OFF)
    if(NOT WIN32 AND NOT LOADER_SANITIZE AND NOT LOADER_FUZZ)
        message(STATUS "help2man not found: no man pages (scripts/install-deps.sh installs it)")
    endif()
endif()

# `packaged` builds what the packages carry, and cpack builds nothing itself:
# a build with the tests would otherwise compile every test program before
# packaging three. So `make install` too installs what was built before.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
add_custom_target(packaged)

# Installs a program into COMPONENT, with its man page where there are man
# pages; WHATIS is the man page's one-line description.
function(loader_install_program target component whatis)
    install(TARGETS ${target} RUNTIME DESTINATION ${LOADER_INSTALL_BINDIR} COMPONENT ${component})
    add_dependencies(packaged ${target})
    if(NOT LOADER_MAN_PAGES)
        return()
    endif()
    set(page ${CMAKE_BINARY_DIR}/man/${target}.1)
    # Compressed the way Debian wants it: -n keeps the name and time out, so
    # the same page gives the same bytes.
    add_custom_command(OUTPUT ${page}.gz
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY --unset=WAYLAND_DISPLAY
                ${LOADER_HELP2MAN} --no-info --no-discard-stderr --name=${whatis}
                --output=${page} $<TARGET_FILE:${target}>
        COMMAND gzip -9nf ${page}
        DEPENDS ${target}
        COMMENT "Man page of ${target}"
        VERBATIM)
    add_custom_target(${target}-man ALL DEPENDS ${page}.gz)
    add_dependencies(packaged ${target}-man)
    install(FILES ${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
endfunction()

set(CPACK_PACKAGE_NAME tftp-loader)
set(CPACK_PACKAGE_VENDOR "The Tessik TFTP Loader developers")
set(CPACK_PACKAGE_CONTACT "${LOADER_PACKAGE_CONTACT}")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

if(WIN32)
    # The programs' icon, made from the Linux icon's drawing; the installer
    # takes it too.
    include(${CMAKE_CURRENT_LIST_DIR}/WindowsIcon.cmake)
    add_dependencies(packaged loader_icon)
    find_program(LOADER_WIXL wixl)
    if(NOT LOADER_WIXL)
        message(FATAL_ERROR "wixl not found: scripts/install-deps.sh installs it")
    endif()
    # External: cpack stages the files as for the zip and runs
    # WindowsInstaller.cmake on them, which makes the .msi.
    set(CPACK_GENERATOR ZIP External)
    set(CPACK_PACKAGE_FILE_NAME tftp-loader-${PROJECT_VERSION}-windows-x86_64)
    set(CPACK_EXTERNAL_REQUESTED_VERSIONS 1.0)
    set(CPACK_EXTERNAL_ENABLE_STAGING ON)
    set(CPACK_EXTERNAL_PACKAGE_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/WindowsInstaller.cmake)
    set(CPACK_LOADER_WIXL ${LOADER_WIXL})
    set(CPACK_LOADER_WXS ${CMAKE_CURRENT_LIST_DIR}/tftp-loader.wxs)
    set(CPACK_LOADER_ICON ${LOADER_WINDOWS_ICON})
    # Windows finds the installed versions to replace by this code: it never
    # changes.
    set(CPACK_LOADER_UPGRADE_CODE 3612B9EE-DB70-4BEB-BC93-CAD17C7E4426)
    configure_file(${CMAKE_CURRENT_LIST_DIR}/README-windows.txt.in
                   ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
    configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/LICENSE.txt
                   @ONLY NEWLINE_STYLE CRLF) # holds no @ to replace
    install(FILES ${CMAKE_BINARY_DIR}/README.txt ${CMAKE_BINARY_DIR}/LICENSE.txt
            DESTINATION . COMPONENT loader)
    return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT) # NAME_VERSION_ARCH.deb
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_LOADER_PACKAGE_NAME tftp-loader)
# The first line is the package's synopsis.
set(CPACK_DEBIAN_LOADER_DESCRIPTION
    "updates a network unit's images over HTTP and TFTP
Reads the unit's hardware revision from its web page, tells the unit to enable
TFTP and to reboot, waits for it to come back, and uploads a web-page image
and a program image to it, logging every step. tftp-loader is the window,
tftp-loader-cli the same loader without a screen, for one unit or a fleet;
tftp-put sends a single file with a TFTP write transfer.")
# The window draws its icon from SVG through Qt's SVG plugins; without them it
# still works, with the toolkit's default icon.
set(CPACK_DEBIAN_LOADER_PACKAGE_RECOMMENDS libqt6svg6)

set(CPACK_DEBIAN_SIM_PACKAGE_NAME tftp-loader-sim)
set(CPACK_DEBIAN_SIM_DESCRIPTION
    "simulated unit for trying the Tessik TFTP Loader without hardware
unit-sim answers on a loopback address as a unit would: a web server with the
revision marker and the TFTP and reboot commands, and a TFTP server that
stores the images it receives. Faults (refused or silent transfers, a unit
that never comes back, a lossy link) can be switched on to see how the loader
handles them.")

# Both binary packages come from one source, whose changelog each carries.
set(CPACK_DEBIAN_PACKAGE_SOURCE tftp-loader)

# Each package carries the license as its machine-readable copyright file,
# and a changelog (Debian wants one in every package's doc folder) that names
# the release. Its date is SOURCE_DATE_EPOCH's where that is set, so a
# rebuild of a release gives the same bytes.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE loader_license)
string(FIND "${loader_license}" "Permission is hereby granted" loader_grant)
string(SUBSTRING "${loader_license}" ${loader_grant} -1 loader_license)
string(STRIP "${loader_license}" loader_license)
string(REGEX REPLACE "\n\n" "\n.\n" loader_license "${loader_license}")
string(REGEX REPLACE "\n" "\n " loader_license "${loader_license}")
string(TIMESTAMP loader_release_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(loader_doc ${CMAKE_BINARY_DIR}/doc)
file(WRITE ${loader_doc}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: tftp-loader\n\n"
     "Files: *\n"
     "Copyright: 2026 The Tessik TFTP Loader developers\n"
     "License: Expat\n ${loader_license}\n")
file(WRITE ${loader_doc}/changelog
     "tftp-loader (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}.\n\n"
     " -- ${LOADER_PACKAGE_CONTACT}  ${loader_release_date}\n")
execute_process(COMMAND gzip -9nc INPUT_FILE ${loader_doc}/changelog
                OUTPUT_FILE ${loader_doc}/changelog.gz COMMAND_ERROR_IS_FATAL ANY)
set(loader_doc_packages tftp-loader:loader)
if(BUILD_TESTING) # unit-sim is built with the tests
    list(APPEND loader_doc_packages tftp-loader-sim:sim)
endif()
foreach(entry ${loader_doc_packages})
    string(REPLACE ":" ";" entry ${entry})
    list(GET entry 0 package)
    list(GET entry 1 component)
    install(FILES ${loader_doc}/copyright ${loader_doc}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()
