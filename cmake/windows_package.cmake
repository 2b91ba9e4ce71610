# The Windows programs' version resources and their installer (scripts/package windows).
#   each program: a VERSIONINFO from deploy/windows/version.rc.in (veltrona-cli.exe
#                 gets the program icon there too; veltrona.exe has it in veltrona.rc)
#   veltrona_installer  veltrona-VERSION-windows-x64-setup.exe in this build folder,
#                 made by makensis from deploy/windows/veltrona.nsi out of the stage
#                 folder installer/: the stripped programs, the icon, tools/README.txt
#                 and licenses/*.txt (ours, and those of what is linked in statically:
#                 FFmpeg and x264 from the media prefix, the mingw-w64 runtime with
#                 winpthreads, zlib)
function(veltrona_version_resource target description icon_line)
  set(VELTRONA_RC_NAME ${target})
  set(VELTRONA_RC_DESCRIPTION "${description}")
  set(VELTRONA_RC_ICON "${icon_line}")
  set(rc ${CMAKE_BINARY_DIR}/generated/${target}-version.rc)
  configure_file(${CMAKE_SOURCE_DIR}/deploy/windows/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()
set(program_icon ${CMAKE_SOURCE_DIR}/src/ui/win32/resources/veltrona.ico)
veltrona_version_resource(veltrona "Veltrona" "")
veltrona_version_resource(veltrona-cli "Veltrona command line" "1 ICON \"${program_icon}\"")
set_property(SOURCE ${CMAKE_BINARY_DIR}/generated/veltrona-cli-version.rc APPEND PROPERTY OBJECT_DEPENDS ${program_icon})

# name;source pairs: what licenses/ holds
set(licences LICENSE.txt ${CMAKE_SOURCE_DIR}/LICENSE
    mingw-w64-copyright.txt /usr/share/doc/mingw-w64-x86-64-dev/copyright
    zlib-copyright.txt /usr/share/doc/libz-mingw-w64-dev/copyright)
if(VELTRONA_WITH_VIDEO)
  file(GLOB media_licences ${VELTRONA_MEDIA_PREFIX}/licenses/*)
  if(NOT media_licences)
    message(FATAL_ERROR "${VELTRONA_MEDIA_PREFIX}/licenses holds no licence texts: run scripts/build-windows-deps again")
  endif()
  foreach(source IN LISTS media_licences)
    get_filename_component(name ${source} NAME)
    string(REGEX REPLACE "\\.md$" "" name ${name})
    list(APPEND licences ${name}.txt ${source})
  endforeach()
endif()

set(stage ${CMAKE_BINARY_DIR}/installer)
set(installer ${CMAKE_BINARY_DIR}/veltrona-${PROJECT_VERSION}-windows-x64-setup.exe)
set(staging ${CMAKE_COMMAND} -E rm -rf ${stage}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${stage}/tools ${stage}/licenses
    COMMAND ${CMAKE_STRIP} -o ${stage}/veltrona.exe $<TARGET_FILE:veltrona>
    COMMAND ${CMAKE_STRIP} -o ${stage}/veltrona-cli.exe $<TARGET_FILE:veltrona-cli>
    COMMAND ${CMAKE_COMMAND} -E copy ${program_icon} ${stage}/veltrona.ico
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/deploy/windows/tools-README.txt ${stage}/tools/README.txt)
set(licence_sources "")
while(licences)
  list(POP_FRONT licences name source)
  list(APPEND staging COMMAND ${CMAKE_COMMAND} -E copy ${source} ${stage}/licenses/${name})
  list(APPEND licence_sources ${source})
endwhile()

find_program(VELTRONA_MAKENSIS makensis)
if(NOT VELTRONA_MAKENSIS)
  add_custom_target(veltrona_installer COMMAND ${CMAKE_COMMAND} -E echo "makensis is missing: run scripts/install-deps"
                    COMMAND ${CMAKE_COMMAND} -E false)
  return()
endif()
add_custom_command(
  OUTPUT ${installer}
  COMMAND ${staging}
  COMMAND ${VELTRONA_MAKENSIS} -V2 -DVERSION=${PROJECT_VERSION} "-DPUBLISHER=${CPACK_PACKAGE_VENDOR}"
          -DSTAGE=${stage} -DOUTFILE=${installer} ${CMAKE_SOURCE_DIR}/deploy/windows/veltrona.nsi
  DEPENDS veltrona veltrona-cli ${CMAKE_SOURCE_DIR}/deploy/windows/veltrona.nsi
          ${CMAKE_SOURCE_DIR}/deploy/windows/tools-README.txt ${program_icon} ${licence_sources}
  COMMENT "Making the installer ${installer}"
  VERBATIM)
add_custom_target(veltrona_installer DEPENDS ${installer})
