# Builds the Debian packages from this build and checks what they hold: the
# product in /usr/lib/kirasol-radio with its commands, launcher and icons,
# stripped, with dependencies found from the binaries; the demo station and
# its tracks only in the demo package.
file(REMOVE_RECURSE "${SCRATCH}")
file(MAKE_DIRECTORY "${SCRATCH}")
execute_process(COMMAND "${CPACK}" -G DEB --config "${BUILD_DIR}/CPackConfig.cmake" -B "${SCRATCH}"
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cpack failed: ${rc}\n${out}")
endif()

function(package_listing deb out_var)
  execute_process(COMMAND dpkg-deb -c "${deb}" OUTPUT_VARIABLE listing RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-deb -c ${deb}: ${rc}")
  endif()
  set(${out_var} "${listing}" PARENT_SCOPE)
endfunction()

function(expect listing what present)
  string(FIND "${listing}" "${what}" at)
  if(present AND at EQUAL -1)
    message(FATAL_ERROR "missing ${what} in\n${listing}")
  elseif(NOT present AND NOT at EQUAL -1)
    message(FATAL_ERROR "unexpected ${what} in\n${listing}")
  endif()
endfunction()

set(product "${SCRATCH}/kirasol-radio_${VERSION}_amd64.deb")
set(demo "${SCRATCH}/kirasol-radio-demo_${VERSION}_amd64.deb")
package_listing("${product}" listing)
foreach(file kirasol-radio kirasol-update version.dat intro.wav Credits.txt skin.png splash.png icons/imgPlay.png)
  expect("${listing}" " ./usr/lib/kirasol-radio/${file}\n" TRUE)
endforeach()
expect("${listing}" " ./usr/bin/kirasol-radio -> ../lib/kirasol-radio/kirasol-radio\n" TRUE)
foreach(file bin/kirasol-update share/applications/kirasol-radio.desktop share/icons/hicolor/256x256/apps/kirasol-radio.png)
  expect("${listing}" " ./usr/${file}\n" TRUE)
endforeach()
foreach(file share/man/man1/kirasol-radio.1.gz share/man/man1/kirasol-update.1.gz
             share/doc/kirasol-radio/copyright share/doc/kirasol-radio/changelog.gz
             share/metainfo/invalid.kirasol.radio.metainfo.xml)
  expect("${listing}" " ./usr/${file}\n" TRUE)
endforeach()
expect("${listing}" "demo" FALSE)
expect("${listing}" "make-artwork" FALSE)

package_listing("${demo}" demo_listing)
foreach(file kirasol-demo-station demo/track1.mp3 demo/update/files.dat)
  expect("${demo_listing}" " ./usr/lib/kirasol-radio/${file}\n" TRUE)
endforeach()
expect("${demo_listing}" "./usr/lib/kirasol-radio/kirasol-radio\n" FALSE)
foreach(file share/man/man1/kirasol-demo-station.1.gz share/doc/kirasol-radio-demo/copyright
             share/doc/kirasol-radio-demo/changelog.gz)
  expect("${demo_listing}" " ./usr/${file}\n" TRUE)
endforeach()
expect("${demo_listing}" " ./usr/bin/kirasol-demo-station -> ../lib/kirasol-radio/kirasol-demo-station\n" TRUE)

execute_process(COMMAND dpkg-deb -f "${product}" Depends OUTPUT_VARIABLE depends)
foreach(library libqt6widgets6 libqt6webenginewidgets6 libqt6multimedia6 libqt6dbus6 libpulse0)
  expect("${depends}" "${library}" TRUE)
endforeach()
# Thai captions, https stations and Wayland sessions work on Depends alone.
foreach(package fonts-thai-tlwg ca-certificates qt6-wayland)
  expect("${depends}" "${package}" TRUE)
endforeach()
# Sound goes straight to the sound server: no PortAudio/ALSA layer.
expect("${depends}" "libportaudio" FALSE)
execute_process(COMMAND dpkg-deb -f "${demo}" Depends OUTPUT_VARIABLE demo_depends)
expect("${demo_depends}" "kirasol-radio" TRUE)

# The launcher entry names the installed folder; the programs are stripped.
set(tree "${SCRATCH}/tree")
execute_process(COMMAND dpkg-deb -x "${product}" "${tree}" RESULT_VARIABLE rc)
file(READ "${tree}/usr/share/applications/kirasol-radio.desktop" entry)
expect("${entry}" "\nExec=/usr/lib/kirasol-radio/kirasol-radio %U\n" TRUE)
expect("${entry}" "\nPath=/usr/lib/kirasol-radio\n" TRUE)
foreach(program kirasol-radio kirasol-update)
  execute_process(COMMAND file -b "${tree}/usr/lib/kirasol-radio/${program}" OUTPUT_VARIABLE kind)
  expect("${kind}" ", stripped" TRUE)
endforeach()

# Software centres take the metadata (and man finds every page) as installed.
if(APPSTREAMCLI)
  execute_process(COMMAND "${APPSTREAMCLI}" validate --no-net
                          "${tree}/usr/share/metainfo/invalid.kirasol.radio.metainfo.xml"
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "appstreamcli validate: ${rc}\n${out}")
  endif()
  file(READ "${tree}/usr/share/metainfo/invalid.kirasol.radio.metainfo.xml" metainfo)
  expect("${metainfo}" "<launchable type=\"desktop-id\">kirasol-radio.desktop</launchable>" TRUE)
endif()
