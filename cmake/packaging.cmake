# Installation (cmake --install, GNUInstallDirs). The version is project()'s;
# what is installed besides the programs lives in deploy/linux/, filled in here.
#   bin/veltrona, bin/veltrona-cli
#   share/applications/veltrona.desktop, share/metainfo/<id>.metainfo.xml,
#   share/icons/hicolor/<size>/apps/veltrona.png   (the desktop program only)
#   share/man/man1/*.1.gz
include(GNUInstallDirs)
# Installing builds only what it installs (the "package" build preset), not
# every test program of the build folder.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VELTRONA_APPSTREAM_ID org.veltrona.Veltrona)

install(TARGETS veltrona-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  return()
endif()
set(packaged_dir ${CMAKE_BINARY_DIR}/packaged)
set(man_pages veltrona-cli)

if(TARGET veltrona)
  install(TARGETS veltrona RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  list(APPEND man_pages veltrona)
  install(FILES deploy/linux/veltrona.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  configure_file(deploy/linux/${VELTRONA_APPSTREAM_ID}.metainfo.xml ${packaged_dir}/${VELTRONA_APPSTREAM_ID}.metainfo.xml
                 @ONLY)
  install(FILES ${packaged_dir}/${VELTRONA_APPSTREAM_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  foreach(size 16 32 48 256)
    install(FILES src/ui/resources/icon-${size}.png RENAME veltrona.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
  endforeach()
endif()

# ---- manual pages: compressed as Debian wants them (gzip -9n: no name, no time) ----
set(compressed "")
foreach(page IN LISTS man_pages)
  configure_file(deploy/linux/${page}.1 ${packaged_dir}/${page}.1 @ONLY)
  list(APPEND compressed ${page}.1)
  install(FILES ${packaged_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
set(compressed_outputs "")
foreach(file IN LISTS compressed)
  add_custom_command(OUTPUT ${packaged_dir}/${file}.gz
                     COMMAND gzip -9nkf ${file}
                     DEPENDS ${packaged_dir}/${file}
                     WORKING_DIRECTORY ${packaged_dir})
  list(APPEND compressed_outputs ${packaged_dir}/${file}.gz)
endforeach()
add_custom_target(veltrona_documents ALL DEPENDS ${compressed_outputs})
