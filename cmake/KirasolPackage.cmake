# Commands on PATH and the Debian packages.
#
# `cpack -G DEB` in the build folder makes kirasol-radio_<version>_amd64.deb
# (the player, the updater, their files, the launcher entry and icons; the
# commands in /usr/bin) and kirasol-radio-demo_<version>_amd64.deb (the local
# demo station and its tracks). Dependencies come from the binaries.

# The commands: the player finds its folder through its own executable, so a
# link is enough; the updater works in the folder it starts in, so it gets a
# wrapper that starts it there.
file(MAKE_DIRECTORY "${CMAKE_BINARY_DIR}/commands")
file(CREATE_LINK "../${KIRASOL_INSTALL_PROGRAM_DIR}/kirasol-radio" "${CMAKE_BINARY_DIR}/commands/kirasol-radio"
     SYMBOLIC)
configure_file("${CMAKE_CURRENT_LIST_DIR}/package/kirasol-update.in" "${CMAKE_BINARY_DIR}/commands/kirasol-update"
               @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ
               WORLD_EXECUTE)
install(FILES "${CMAKE_BINARY_DIR}/commands/kirasol-radio" DESTINATION "${CMAKE_INSTALL_BINDIR}"
        COMPONENT kirasol_radio)
install(PROGRAMS "${CMAKE_BINARY_DIR}/commands/kirasol-update" DESTINATION "${CMAKE_INSTALL_BINDIR}"
        COMPONENT kirasol_radio)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kirasol-radio)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Kirasol Radio maintainers <radio@kirasol.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Internet radio player with a Thai interface")
set(CPACK_PACKAGE_DESCRIPTION "Plays the station's MP3 stream with its song titles and a live spectrum,
records it to MP3 files, relays it to a local player, and keeps itself
current through its updater.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Installed with the real prefix (under a staging DESTDIR), so the launcher
# entry names /usr/lib/kirasol-radio.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ONE_PER_GROUP)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_RADIO_PACKAGE_NAME kirasol-radio)
# Thai text needs a Thai font; the sound goes to the desktop's sound server.
set(CPACK_DEBIAN_RADIO_PACKAGE_RECOMMENDS "fonts-thai-tlwg, pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_DEMO_PACKAGE_NAME kirasol-radio-demo)
# Installed into the player's folder, for trying the player.
set(CPACK_DEBIAN_DEMO_PACKAGE_DEPENDS "kirasol-radio (= ${PROJECT_VERSION})")
set(CPACK_DEBIAN_DEMO_DESCRIPTION "Local demo station for Kirasol Radio
A small ICY stream server with three demo tracks, an update folder and a
request page on 127.0.0.1, for trying the player without a real station.")
include(CPack)

cpack_add_component_group(radio DISPLAY_NAME "Kirasol Radio")
cpack_add_component_group(demo DISPLAY_NAME "Kirasol Radio demo station")
cpack_add_component(kirasol_radio GROUP radio)
cpack_add_component(kirasol_desktop GROUP radio)
cpack_add_component(kirasol_demo GROUP demo)
