# Linux desktop integration for `cmake --install`: desktop entry, AppStream
# metainfo, hicolor icons scaled from the logo at build time, manual page and
# the Debian documentation files (copyright, changelog).
include(GNUInstallDirs)

set(VOSTAN_APP_ID "tv.vostan.Player")
set(VOSTAN_DEB_NAME "vostan-tv-player")
set(_vostan_linux_dir "${CMAKE_CURRENT_LIST_DIR}")
set(_vostan_out "${CMAKE_BINARY_DIR}/packaging")

add_subdirectory("${PROJECT_SOURCE_DIR}/packaging/iconsizes" "${_vostan_out}/iconsizes")

# Our own Qt tool rather than ImageMagick: Qt is already a build dependency.
set(_vostan_icon_sizes 16 32 48 64 128 256)
set(_vostan_hicolor "${_vostan_out}/hicolor")
set(_vostan_icons "")
foreach(size IN LISTS _vostan_icon_sizes)
  list(APPEND _vostan_icons "${_vostan_hicolor}/${size}x${size}/apps/${VOSTAN_APP_ID}.png")
endforeach()
add_custom_command(OUTPUT ${_vostan_icons}
    COMMAND vostan-iconsizes png "${PROJECT_SOURCE_DIR}/src/resources/logo.png"
            "${_vostan_hicolor}" "${VOSTAN_APP_ID}" ${_vostan_icon_sizes}
    DEPENDS vostan-iconsizes "${PROJECT_SOURCE_DIR}/src/resources/logo.png"
    COMMENT "Scaling the logo into hicolor icons"
    VERBATIM)

# gzip -n keeps the archives free of time stamps, so rebuilds are identical.
configure_file("${_vostan_linux_dir}/changelog.in" "${_vostan_out}/changelog" @ONLY)
add_custom_command(OUTPUT "${_vostan_out}/changelog.gz" "${_vostan_out}/vostan-player.1.gz"
    COMMAND gzip -9nc "${_vostan_out}/changelog" > "${_vostan_out}/changelog.gz"
    COMMAND gzip -9nc "${_vostan_linux_dir}/vostan-player.1" > "${_vostan_out}/vostan-player.1.gz"
    DEPENDS "${_vostan_out}/changelog" "${_vostan_linux_dir}/vostan-player.1"
    COMMENT "Compressing the changelog and the manual page"
    VERBATIM)

add_custom_target(vostan-desktop-files ALL
    DEPENDS ${_vostan_icons} "${_vostan_out}/changelog.gz" "${_vostan_out}/vostan-player.1.gz")

install(DIRECTORY "${_vostan_hicolor}/" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor")
install(FILES "${_vostan_linux_dir}/${VOSTAN_APP_ID}.desktop"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/applications")
install(FILES "${_vostan_linux_dir}/${VOSTAN_APP_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo")
install(FILES "${_vostan_out}/vostan-player.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1")
install(FILES "${_vostan_linux_dir}/copyright" "${_vostan_out}/changelog.gz"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${VOSTAN_DEB_NAME}")
