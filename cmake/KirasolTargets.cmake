# Per-target settings: warnings, sanitizers and the program folder. Nothing
# here touches global flags; every target opts in through these functions.

function(kirasol_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
  target_compile_features(${target} PUBLIC cxx_std_20)
  if(KIRASOL_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
    target_link_options(${target} PUBLIC -fsanitize=address,undefined)
  endif()
endfunction()

# A static library of one folder.
function(kirasol_library target)
  add_library(${target} STATIC ${ARGN})
  kirasol_target_defaults(${target})
endfunction()

# An executable that belongs in the program folder next to its data files:
# kirasol_program(target [COMPONENT name] sources...). The component is the
# install component (and so the Debian package); the product's by default.
function(kirasol_program target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "COMPONENT" "")
  if(NOT arg_COMPONENT)
    set(arg_COMPONENT kirasol_radio)
  endif()
  add_executable(${target} ${arg_UNPARSED_ARGUMENTS})
  kirasol_target_defaults(${target})
  # Installed programs resolve every symbol at start and keep the relocated
  # tables read-only (full RELRO), as Debian's own packages are linked.
  target_link_options(${target} PRIVATE -Wl,-z,relro -Wl,-z,now)
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY "${KIRASOL_PROGRAM_DIR}")
  install(TARGETS ${target} RUNTIME DESTINATION "${KIRASOL_INSTALL_PROGRAM_DIR}" COMPONENT ${arg_COMPONENT})
endfunction()

# A GoogleTest executable registered with CTest. Tests find the programs and
# data files through KIRASOL_PROGRAM_DIR and KIRASOL_SOURCE_DIR.
# kirasol_test(target [RESOURCE_LOCK name] sources...): tests that share a
# resource, such as the default sound sink they play into and record from,
# name it so that CTest never runs two of them at once.
function(kirasol_test target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "RESOURCE_LOCK" "")
  add_executable(${target} ${arg_UNPARSED_ARGUMENTS})
  kirasol_target_defaults(${target})
  target_link_libraries(${target} PRIVATE kirasol_test_support)
  set(lock)
  if(arg_RESOURCE_LOCK)
    set(lock RESOURCE_LOCK ${arg_RESOURCE_LOCK})
  endif()
  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300 ${lock})
endfunction()

# Copies data files into the program folder at build time and installs them
# there: kirasol_program_data(target [SUBDIR folder] [COMPONENT name] files...).
# With SUBDIR the files go into that sub-folder of the program folder.
function(kirasol_program_data target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "SUBDIR;COMPONENT" "")
  if(NOT arg_COMPONENT)
    set(arg_COMPONENT kirasol_radio)
  endif()
  set(dest_dir "${KIRASOL_PROGRAM_DIR}")
  set(install_dir "${KIRASOL_INSTALL_PROGRAM_DIR}")
  if(arg_SUBDIR)
    set(dest_dir "${dest_dir}/${arg_SUBDIR}")
    set(install_dir "${install_dir}/${arg_SUBDIR}")
  endif()
  foreach(file IN LISTS arg_UNPARSED_ARGUMENTS)
    get_filename_component(name "${file}" NAME)
    add_custom_command(OUTPUT "${dest_dir}/${name}"
      COMMAND ${CMAKE_COMMAND} -E make_directory "${dest_dir}"
      COMMAND ${CMAKE_COMMAND} -E copy_if_different "${CMAKE_CURRENT_SOURCE_DIR}/${file}" "${dest_dir}/${name}"
      DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/${file}" VERBATIM)
    list(APPEND outputs "${dest_dir}/${name}")
    install(FILES "${file}" DESTINATION "${install_dir}" COMPONENT ${arg_COMPONENT})
  endforeach()
  add_custom_target(${target} ALL DEPENDS ${outputs})
endfunction()
