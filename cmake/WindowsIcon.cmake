# The Windows programs' icon, made at build time from the drawing of the
# Linux icon (app/qt/share/tftp-loader.svg), so that the two cannot drift:
# rsvg-convert renders each size that Windows shows, from the 16 px of a
# title bar to the 256 px of a large tile, and icotool packs them into one
# .ico, the 256 px one as PNG, the form Windows reads for that size. The same
# drawing and the same tools give the same bytes.
#
# Sets LOADER_WINDOWS_ICON, the .ico's path, and the target loader_icon that
# makes it: the window's resource (app/win32/tftp-loader.rc) and the
# installer's shortcut (cmake/tftp-loader.wxs) take it.
find_program(LOADER_RSVG_CONVERT rsvg-convert)
find_program(LOADER_ICOTOOL icotool)
if(NOT LOADER_RSVG_CONVERT OR NOT LOADER_ICOTOOL)
    message(FATAL_ERROR "rsvg-convert or icotool not found: scripts/install-deps.sh installs them")
endif()

set(loader_icon_svg ${PROJECT_SOURCE_DIR}/app/qt/share/tftp-loader.svg)
set(loader_icon_dir ${CMAKE_BINARY_DIR}/icon)
set(LOADER_WINDOWS_ICON ${loader_icon_dir}/tftp-loader.ico)

set(loader_icon_render)
set(loader_icon_small)
foreach(size 16 24 32 48 64 128 256)
    list(APPEND loader_icon_render
         COMMAND ${LOADER_RSVG_CONVERT} --width=${size} --height=${size}
                 --output=${loader_icon_dir}/${size}.png ${loader_icon_svg})
    if(size LESS 256)
        list(APPEND loader_icon_small ${loader_icon_dir}/${size}.png)
    endif()
endforeach()
add_custom_command(OUTPUT ${LOADER_WINDOWS_ICON}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${loader_icon_dir}
    ${loader_icon_render}
    COMMAND ${LOADER_ICOTOOL} --create --output=${LOADER_WINDOWS_ICON}
            ${loader_icon_small} --raw=${loader_icon_dir}/256.png
    DEPENDS ${loader_icon_svg}
    COMMENT "Windows icon from tftp-loader.svg"
    VERBATIM)
add_custom_target(loader_icon DEPENDS ${LOADER_WINDOWS_ICON})
