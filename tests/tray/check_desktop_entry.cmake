# Installs the desktop-integration component into a scratch prefix and checks
# what a desktop environment will read: a valid entry whose Exec names the
# installed player in its folder, and the icon in the hicolor theme at each size.
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" --component kirasol_desktop
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${rc}")
endif()
set(entry "${PREFIX}/share/applications/kirasol-radio.desktop")
execute_process(COMMAND "${VALIDATE}" "${entry}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
  message(FATAL_ERROR "desktop-file-validate: ${rc}\n${out}")
endif()
# Started from the menu the player runs in its program folder, and takes
# what a browser or file manager hands it.
file(READ "${entry}" text)
foreach(line "Exec=${PREFIX}/${PROGRAM_DIR}/kirasol-radio %U" "Path=${PREFIX}/${PROGRAM_DIR}"
             "MimeType=audio/x-scpls;audio/x-mpegurl;audio/mpegurl;")
  string(FIND "${text}" "\n${line}\n" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "no line ${line} in\n${text}")
  endif()
endforeach()
foreach(size 64 256)
  if(NOT EXISTS "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/kirasol-radio.png")
    message(FATAL_ERROR "no ${size}x${size} icon")
  endif()
endforeach()
