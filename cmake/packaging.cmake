# Installation (cmake --install, GNUInstallDirs) and the packages CPack makes
# from it (scripts/package). The version is project()'s; what the packages
# carry besides the programs lives in deploy/linux/, filled in here. The
# Windows build makes its installer instead (cmake/windows_package.cmake).
#   bin/veltrona, bin/veltrona-cli
#   lib[/<triplet>]/veltrona/veltrona-video.so  (the video engines' module)
#   share/applications/veltrona.desktop, share/metainfo/<id>.metainfo.xml,
#   share/icons/hicolor/<size>/apps/veltrona.png   (the desktop program only)
#   share/man/man1/*.1.gz, share/doc/veltrona/{copyright,changelog.Debian.gz}
#   the systemd template unit veltrona@.service (Linux)
include(GNUInstallDirs)
# Installing builds only what it installs (the "package" build preset), not
# every test program of the build folder.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

set(VELTRONA_APPSTREAM_ID org.veltrona.Veltrona)
set(VELTRONA_SYSTEMD_UNIT_DIR "lib/systemd/system" CACHE STRING
    "where the systemd unit goes: relative to the install prefix, or absolute")

# ---- what every package says (the Windows installer takes these too) ----
set(CPACK_PACKAGE_NAME veltrona)
set(CPACK_PACKAGE_VENDOR "The Veltrona developers")
set(CPACK_PACKAGE_CONTACT "The Veltrona developers <veltrona@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "restream live HLS, YouTube and MP4 sources to RTMP servers")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

install(TARGETS veltrona-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
  include(cmake/windows_package.cmake)
  return()
endif()
set(packaged_dir ${CMAKE_BINARY_DIR}/packaged)
if(TARGET veltrona-video)
  # The video engines' module is the package's own, so it goes in a folder of
  # its own below the library folder (lib/<triplet>/veltrona in a Debian
  # build for /usr, lib/veltrona otherwise), never in the library folder
  # itself, where the package would have to run ldconfig for it; not
  # executable, as shared objects are installed. The programs look for it
  # there from their own folder (video_module_posix.cpp).
  set(VELTRONA_MODULE_DIR ${CMAKE_INSTALL_LIBDIR}/veltrona)
  install(TARGETS veltrona-video LIBRARY DESTINATION ${VELTRONA_MODULE_DIR}
          PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
  set_property(SOURCE src/engines/video_module_posix.cpp APPEND
               PROPERTY COMPILE_DEFINITIONS VELTRONA_MODULE_DIR="${VELTRONA_MODULE_DIR}")
endif()
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

configure_file(deploy/linux/veltrona@.service ${packaged_dir}/veltrona@.service @ONLY)
install(FILES ${packaged_dir}/veltrona@.service DESTINATION ${VELTRONA_SYSTEMD_UNIT_DIR})

# ---- documents: compressed as Debian wants them (gzip -9n: no name, no time) ----
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(VELTRONA_DEBIAN_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
string(REGEX REPLACE ".*<(.*)>" "\\1" VELTRONA_CONTACT_EMAIL "${CPACK_PACKAGE_CONTACT}")
execute_process(COMMAND date -u -R -d "${VELTRONA_RELEASE_DATE} 12:00" OUTPUT_VARIABLE VELTRONA_RELEASE_DATE_RFC2822
                OUTPUT_STRIP_TRAILING_WHITESPACE)
configure_file(deploy/linux/copyright ${packaged_dir}/copyright @ONLY)
install(FILES ${packaged_dir}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(compressed "")
foreach(page IN LISTS man_pages)
  configure_file(deploy/linux/${page}.1 ${packaged_dir}/${page}.1 @ONLY)
  list(APPEND compressed ${page}.1)
  install(FILES ${packaged_dir}/${page}.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
configure_file(deploy/linux/changelog.Debian ${packaged_dir}/changelog.Debian @ONLY)
list(APPEND compressed changelog.Debian)
install(FILES ${packaged_dir}/changelog.Debian.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(compressed_outputs "")
foreach(file IN LISTS compressed)
  add_custom_command(OUTPUT ${packaged_dir}/${file}.gz
                     COMMAND gzip -9nkf ${file}
                     DEPENDS ${packaged_dir}/${file}
                     WORKING_DIRECTORY ${packaged_dir})
  list(APPEND compressed_outputs ${packaged_dir}/${file}.gz)
endforeach()
add_custom_target(veltrona_documents ALL DEPENDS ${compressed_outputs})

# ---- the Debian package ----
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS yt-dlp)
# CPack puts the summary above it as the first line.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Veltrona keeps a list of saved restreaming jobs (workflows) and runs each
until it is stopped: a YouTube live page, a direct HLS URL or a local MP4
file in, an RTMP or RTMPS ingest server out. Live sources are recorded to
MPEG-TS while they are published, and their recording loops once the live
has ended; overlays of a picture and a scrolling text are re-encoded with
H.264.

The package holds the desktop program, the headless veltrona-cli and a
systemd template unit that runs the workflows of a data folder at boot.")
set(CPACK_GENERATOR DEB)
include(CPack)
