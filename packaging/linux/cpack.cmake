# Debian package: `cpack` in a configured build directory writes
# vostan-tv-player_<version>_<arch>.deb. scripts/package drives it.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "${VOSTAN_DEB_NAME}")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "Vostan TV")
set(CPACK_PACKAGE_CONTACT "Vostan TV <dev@vostan.tv>")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "player for the live stream of the Vostan TV channel")
set(CPACK_PACKAGE_DESCRIPTION
"Desktop player for the live HLS stream of Vostan TV, the regional television
channel of Kyzylorda (Kazakhstan), with a Kazakh user interface. It plays the
stream through a small HTTP relay on 127.0.0.1 and offers a choice of stream
quality, a network speed read-out, the programme guide, screenshots and an
update check.

Vostan TV арнасын тікелей эфирде көруге арналған ойнатқыш.")

set(CPACK_DEBIAN_FILE_NAME "DEB-DEFAULT")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION "video")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vostan.tv")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# dpkg-shlibdeps finds the Qt libraries the binary links. What it cannot see:
# the platform plugins (xcb, offscreen), the GStreamer elements Qt Multimedia
# plays HLS with (hlsdemux in -bad, H.264/AAC decoders in -libav) and the CA
# certificates the HTTPS origin is checked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-libav, ca-certificates")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-pulseaudio | gstreamer1.0-alsa")

include(CPack)
