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
# The demo station also finds its tracks through its own executable.
file(CREATE_LINK "../${KIRASOL_INSTALL_PROGRAM_DIR}/kirasol-demo-station"
     "${CMAKE_BINARY_DIR}/commands/kirasol-demo-station" SYMBOLIC)
install(FILES "${CMAKE_BINARY_DIR}/commands/kirasol-demo-station" DESTINATION "${CMAKE_INSTALL_BINDIR}"
        COMPONENT kirasol_demo)

# Manual pages, compressed as Debian installs them (gzip -9n: no name or time
# stamp inside, so the same page gives the same file).
find_program(KIRASOL_GZIP gzip REQUIRED)
set(man_dir "${CMAKE_BINARY_DIR}/man")
# Copies SOURCE into DIR as NAME and compresses it there, giving DIR/NAME.gz.
function(kirasol_gzip_copy source dir name)
  add_custom_command(OUTPUT "${dir}/${name}.gz"
    COMMAND ${CMAKE_COMMAND} -E make_directory "${dir}"
    COMMAND ${CMAKE_COMMAND} -E copy "${source}" "${dir}/${name}"
    COMMAND "${KIRASOL_GZIP}" -9nf "${dir}/${name}"
    DEPENDS "${source}" VERBATIM)
endfunction()
set(man_pages)
foreach(page kirasol-radio kirasol-update kirasol-demo-station)
  kirasol_gzip_copy("${CMAKE_CURRENT_LIST_DIR}/package/man/${page}.1" "${man_dir}" "${page}.1")
  list(APPEND man_pages "${man_dir}/${page}.1.gz")
endforeach()
add_custom_target(kirasol_man_pages ALL DEPENDS ${man_pages})
install(FILES "${man_dir}/kirasol-radio.1.gz" "${man_dir}/kirasol-update.1.gz"
        DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT kirasol_radio)
install(FILES "${man_dir}/kirasol-demo-station.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
        COMPONENT kirasol_demo)

# AppStream metadata for software centres; its launchable is the launcher
# entry, its screenshot (assets/screenshots/) is published on the web site.
set(KIRASOL_APPSTREAM_ID "invalid.kirasol.radio")
set(KIRASOL_WEB_SITE_SLASH "${KIRASOL_WEB_SITE}")
if(NOT KIRASOL_WEB_SITE_SLASH MATCHES "/$")
  string(APPEND KIRASOL_WEB_SITE_SLASH "/")
endif()
block()
  set(KIRASOL_WEB_SITE "${KIRASOL_WEB_SITE_SLASH}")
  configure_file("${CMAKE_CURRENT_LIST_DIR}/package/kirasol-radio.metainfo.xml.in"
                 "${CMAKE_BINARY_DIR}/metainfo/${KIRASOL_APPSTREAM_ID}.metainfo.xml" @ONLY)
endblock()
install(FILES "${CMAKE_BINARY_DIR}/metainfo/${KIRASOL_APPSTREAM_ID}.metainfo.xml"
        DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo" COMPONENT kirasol_desktop)

# Every Debian package carries its copyright file and changelog.
set(changelog_gz "${CMAKE_BINARY_DIR}/doc/changelog.gz")
kirasol_gzip_copy("${CMAKE_CURRENT_LIST_DIR}/package/changelog" "${CMAKE_BINARY_DIR}/doc" changelog)
add_custom_target(kirasol_package_docs ALL DEPENDS "${changelog_gz}")
foreach(package_component IN ITEMS "kirasol-radio;kirasol_radio" "kirasol-radio-demo;kirasol_demo")
  list(GET package_component 0 package)
  list(GET package_component 1 component)
  install(FILES "${CMAKE_CURRENT_LIST_DIR}/package/copyright" "${changelog_gz}"
          DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/${package}" COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kirasol-radio)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_CONTACT "Kirasol Radio maintainers <radio@kirasol.invalid>")
# Each package's description: its synopsis line, then the long text. No
# CPACK_PACKAGE_DESCRIPTION_SUMMARY: CPack would put it in front of every
# package's description, the demo's too.
set(CPACK_PACKAGE_DESCRIPTION "Internet radio player with a Thai interface
Plays the station's MP3 stream with its song titles and a live spectrum,
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
# Without a Thai font every caption is boxes, without CA certificates every
# https station fails, and a Wayland session needs Qt's Wayland plugin: none
# of that can be left to Recommends (the library dependencies from the
# binaries are added to these). The sound goes to the desktop's sound server.
set(CPACK_DEBIAN_RADIO_PACKAGE_DEPENDS "fonts-thai-tlwg, ca-certificates, qt6-wayland")
set(CPACK_DEBIAN_RADIO_PACKAGE_RECOMMENDS "pulseaudio | pipewire-pulse")
set(CPACK_DEBIAN_RADIO_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
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
