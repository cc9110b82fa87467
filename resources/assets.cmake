# The bundle's Assets folder: pictures drawn by tools/make_assets, and a free TrueType font taken
# from Debian's fonts-dejavu-core (never committed).
set(LAUNCHER_ASSETS_DIR ${LAUNCHER_BUNDLE_DIR}/Contents/Resources/Assets)
set(LAUNCHER_FONT_SOURCE /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf)

add_custom_command(
    OUTPUT ${LAUNCHER_ASSETS_DIR}/installer.gif ${LAUNCHER_ASSETS_DIR}/launcher.gif
    COMMAND ${CMAKE_COMMAND} -E make_directory ${LAUNCHER_ASSETS_DIR}
    COMMAND make_assets ${LAUNCHER_ASSETS_DIR}
    DEPENDS make_assets
    COMMENT "Drawing installer.gif and launcher.gif"
    VERBATIM)
add_custom_command(
    OUTPUT ${LAUNCHER_ASSETS_DIR}/DejaVuSans.ttf
    COMMAND ${CMAKE_COMMAND} -E make_directory ${LAUNCHER_ASSETS_DIR}
    COMMAND ${CMAKE_COMMAND} -E copy ${LAUNCHER_FONT_SOURCE} ${LAUNCHER_ASSETS_DIR}/DejaVuSans.ttf
    DEPENDS ${LAUNCHER_FONT_SOURCE}
    VERBATIM)
add_custom_target(launcher_assets ALL
    DEPENDS ${LAUNCHER_ASSETS_DIR}/installer.gif ${LAUNCHER_ASSETS_DIR}/launcher.gif
            ${LAUNCHER_ASSETS_DIR}/DejaVuSans.ttf)
add_dependencies(launcher launcher_assets)
