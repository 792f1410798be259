# Installs the desktop-integration component into a scratch prefix and checks
# what a desktop environment will read: a valid entry whose Exec names the
# installed player, and the icon in the hicolor theme at each size.
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
file(STRINGS "${entry}" exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=${PREFIX}/${PROGRAM_DIR}/kirasol-radio")
  message(FATAL_ERROR "unexpected ${exec}")
endif()
foreach(size 64 256)
  if(NOT EXISTS "${PREFIX}/share/icons/hicolor/${size}x${size}/apps/kirasol-radio.png")
    message(FATAL_ERROR "no ${size}x${size} icon")
  endif()
endforeach()
