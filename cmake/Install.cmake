# Install rules for Linux: the three programs, the desktop entry, the MIME
# type of S-record files, the icon, the manual pages and the files Debian
# expects in the package's doc folder. Paths follow GNUInstallDirs.
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()

include(GNUInstallDirs)

set(kestrune_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(kestrune_generated_dir ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${kestrune_generated_dir})

foreach(program kestrune kestrune-cli kestrune-handset kestrune-line)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

# Files installed compressed, as Debian wants manual pages and changelogs:
# gzip -n keeps the name and time out, so the same input gives the same bytes.
set(kestrune_built_files)
function(kestrune_gzip input output)
  add_custom_command(OUTPUT ${output}
    COMMAND gzip -9 -n -c ${input} > ${output}
    DEPENDS ${input}
    VERBATIM)
  set(kestrune_built_files ${kestrune_built_files} ${output} PARENT_SCOPE)
endfunction()

set(kestrune_man_pages kestrune-cli kestrune-handset)
if(TARGET kestrune)
  list(APPEND kestrune_man_pages kestrune)
endif()
if(TARGET kestrune-line)
  list(APPEND kestrune_man_pages kestrune-line)
endif()
set(KESTRUNE_VERSION ${PROJECT_VERSION})
foreach(page ${kestrune_man_pages})
  configure_file(${kestrune_packaging_dir}/man/${page}.1 ${kestrune_generated_dir}/${page}.1 @ONLY)
  kestrune_gzip(${kestrune_generated_dir}/${page}.1 ${kestrune_generated_dir}/${page}.1.gz)
  install(FILES ${kestrune_generated_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()

kestrune_gzip(${kestrune_packaging_dir}/debian/changelog ${kestrune_generated_dir}/changelog.gz)
install(FILES ${kestrune_generated_dir}/changelog.gz ${kestrune_packaging_dir}/debian/copyright
  DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrune)

if(TARGET kestrune)
  install(FILES ${kestrune_packaging_dir}/kestrune.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${kestrune_packaging_dir}/kestrune-mime.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages RENAME kestrune.xml)
  # The icon is the window's own, which the program also copies into the
  # user's icon folder at each start: one picture everywhere.
  set(icon ${PROJECT_SOURCE_DIR}/ui/icons/kestrune.svg)
  install(FILES ${icon} DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

  # The bitmap sizes a desktop picks from, drawn from the one SVG.
  find_program(KESTRUNE_RSVG_CONVERT rsvg-convert)
  if(KESTRUNE_RSVG_CONVERT)
    foreach(size 16 32 48 64 128 256)
      set(png ${kestrune_generated_dir}/icons/${size}/kestrune.png)
      add_custom_command(OUTPUT ${png}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${kestrune_generated_dir}/icons/${size}
        COMMAND ${KESTRUNE_RSVG_CONVERT} -w ${size} -h ${size} -o ${png}
                ${icon}
        DEPENDS ${icon}
        VERBATIM)
      list(APPEND kestrune_built_files ${png})
      install(FILES ${png}
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  else()
    message(WARNING "rsvg-convert not found (Debian package librsvg2-bin): "
                    "the icon is installed as SVG only")
  endif()
endif()

add_custom_target(kestrune_install_files ALL DEPENDS ${kestrune_built_files})
