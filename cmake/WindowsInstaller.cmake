# Run by cpack's External generator (cmake/Packaging.cmake) once it has
# staged the Windows programs: builds tftp-loader-VERSION-x64.msi from them
# with wixl, after cmake/tftp-loader.wxs.
#
# The product code is derived from the upgrade code and the version: a
# rebuild of one version is the same product, which Windows will not install
# a second time beside itself, and every other version is another product,
# which the installer's MajorUpgrade replaces in place. `cpack -G External
# -D CPACK_PACKAGE_VERSION=V` builds the installer under another version.
# Windows compares three numbers of a version: up to 255, 255 and 65535.
set(version ${CPACK_PACKAGE_VERSION})
if(NOT version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" OR CMAKE_MATCH_1 GREATER 255
   OR CMAKE_MATCH_2 GREATER 255 OR CMAKE_MATCH_3 GREATER 65535)
    message(FATAL_ERROR "An installer's version is MAJOR.MINOR.BUILD up to 255.255.65535, "
                        "not \"${version}\"")
endif()
string(UUID product_code NAMESPACE ${CPACK_LOADER_UPGRADE_CODE} NAME "tftp-loader ${version} x64"
       TYPE SHA1 UPPER)

# wixl takes the files' paths relative to where it runs.
set(top ${CPACK_TOPLEVEL_DIRECTORY})
file(RELATIVE_PATH staged ${top} ${CPACK_TEMPORARY_DIRECTORY}) # what the zip holds
file(RELATIVE_PATH icon ${top} ${CPACK_LOADER_ICON})
set(msi ${top}/tftp-loader-${version}-x64.msi)
execute_process(
    COMMAND ${CPACK_LOADER_WIXL} --arch x64 --output ${msi}
            -D Version=${version} -D ProductCode=${product_code}
            -D UpgradeCode=${CPACK_LOADER_UPGRADE_CODE} -D Publisher=${CPACK_PACKAGE_VENDOR}
            -D Staged=${staged} -D Icon=${icon}
            ${CPACK_LOADER_WXS}
    WORKING_DIRECTORY ${top}
    RESULT_VARIABLE status
    OUTPUT_VARIABLE output
    ERROR_VARIABLE output)
if(NOT status EQUAL 0)
    message(FATAL_ERROR "wixl failed (${status}):\n${output}")
endif()
set(CPACK_EXTERNAL_BUILT_PACKAGES ${msi})
