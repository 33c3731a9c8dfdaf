# What `cmake --install` puts on a system, and the Debian package CPack makes of it.
# Included from the top-level CMakeLists.txt after the kovra-radio target exists.
include(GNUInstallDirs)

set(KOVRA_APP_ID org.kovra.Radio)
set(KOVRA_ICON_SIZES 16 22 24 32 48 64 128 256)
set(KOVRA_RESOURCES ${CMAKE_SOURCE_DIR}/resources)
set(KOVRA_GENERATED ${CMAKE_BINARY_DIR}/share)

# The hicolor PNGs, rendered at build time from the icon's SVG with Qt's own SVG renderer.
add_executable(kovra-render-icon ${KOVRA_RESOURCES}/icons/render-icon.cpp)
target_link_libraries(kovra-render-icon PRIVATE Qt6::Gui Qt6::Svg)
target_compile_options(kovra-render-icon PRIVATE ${KOVRA_WARNINGS})

set(KOVRA_ICON_PNGS)
foreach(size ${KOVRA_ICON_SIZES})
  list(APPEND KOVRA_ICON_PNGS ${KOVRA_GENERATED}/icons/hicolor/${size}x${size}/apps/kovra-radio.png)
endforeach()
add_custom_command(
  OUTPUT ${KOVRA_ICON_PNGS}
  COMMAND kovra-render-icon ${KOVRA_RESOURCES}/icons/kovra-radio.svg ${KOVRA_GENERATED}/icons/hicolor kovra-radio
          ${KOVRA_ICON_SIZES}
  DEPENDS kovra-render-icon ${KOVRA_RESOURCES}/icons/kovra-radio.svg
  COMMENT "Rendering the application icon"
  VERBATIM)

# Debian wants the manual page and the changelog compressed, without a timestamp (gzip -n).
function(kovra_gzip source output)
  get_filename_component(name ${output} NAME_WLE)
  get_filename_component(dir ${output} DIRECTORY)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
    COMMAND ${CMAKE_COMMAND} -E copy ${source} ${dir}/${name}
    COMMAND gzip -9nf ${dir}/${name}
    DEPENDS ${source}
    VERBATIM)
endfunction()
kovra_gzip(${KOVRA_RESOURCES}/kovra-radio.1 ${KOVRA_GENERATED}/man/man1/kovra-radio.1.gz)
kovra_gzip(${KOVRA_RESOURCES}/packaging/changelog ${KOVRA_GENERATED}/doc/changelog.gz)

add_custom_target(kovra-install-data ALL DEPENDS
  ${KOVRA_ICON_PNGS} ${KOVRA_GENERATED}/man/man1/kovra-radio.1.gz ${KOVRA_GENERATED}/doc/changelog.gz)

install(TARGETS kovra-radio RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The desktop id stays kovra-radio.desktop: MPRIS names it as DesktopEntry and the autostart entry shares it.
install(FILES ${KOVRA_RESOURCES}/kovra-radio.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KOVRA_RESOURCES}/kovra-radio.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo
        RENAME ${KOVRA_APP_ID}.metainfo.xml)
install(DIRECTORY ${KOVRA_GENERATED}/icons/hicolor DESTINATION ${CMAKE_INSTALL_DATADIR}/icons)
install(FILES ${KOVRA_RESOURCES}/icons/kovra-radio.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${KOVRA_GENERATED}/man/man1/kovra-radio.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${KOVRA_RESOURCES}/packaging/copyright ${KOVRA_GENERATED}/doc/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kovra-radio)

# The Debian package. Library dependencies come from dpkg-shlibdeps; the run-time needs no
# linked library reveals are the colour emoji font the tray icon's flag is drawn with, and libmpv,
# which the player opens with dlopen on the first play instead of linking it.
set(CPACK_PACKAGE_NAME kovra-radio)
set(CPACK_PACKAGE_VENDOR "Kovra Radio developers")
set(CPACK_PACKAGE_CONTACT "Kovra Radio developers <dev@kovra.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "live radio channels of Kovra in the system tray")
# Debian's extended description: lines under 80 columns (CPack does not wrap them).
set(CPACK_PACKAGE_DESCRIPTION [=[Kovra Radio plays the three live channels of the Kovra broadcaster from an
icon in the system tray. Choose a channel in the tray menu, bind channels to
the global shortcuts Alt+1 to Alt+5, control playback with the media keys and
the desktop's media controls (MPRIS), and have it start at login.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/strip-notes.cmake)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://kovra.example/radio")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libmpv2, fonts-noto-color-emoji, qt6-wayland")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-shell-extension-appindicator")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_GENERATOR DEB)
include(CPack)
