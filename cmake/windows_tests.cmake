# Tests of the Windows build: GoogleTest built from Debian's own sources with
# the cross toolchain, and every unit test that needs no peer. A test source
# qualifies when it uses no test support but the portable temporary folder
# (the rest start nginx, ffmpeg or POSIX children) and no POSIX header, or
# when it is a Windows test (*_win32_test);
# the scan keeps the selection right as tests are added. scripts/test runs
# the result under Wine.
set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

set(WINDOWS_TEST_SOURCES "")
foreach(layer IN LISTS CORE_LAYERS ITEMS cli presentation)
  file(GLOB layer_tests CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/${layer}/*.cpp)
  foreach(source IN LISTS layer_tests)
    file(STRINGS ${source} peer_includes REGEX "^#include [<\"](support/|sys/|unistd|arpa/|netinet/|fcntl|poll)")
    list(FILTER peer_includes EXCLUDE REGEX "support/temp_dir\\.h")
    if(source MATCHES "_posix_test\\.cpp$" OR (peer_includes AND NOT source MATCHES "_win32_test\\.cpp$"))
      continue()
    endif()
    list(APPEND WINDOWS_TEST_SOURCES ${source})
  endforeach()
endforeach()

if(NOT VELTRONA_WITH_VIDEO)
  list(FILTER WINDOWS_TEST_SOURCES EXCLUDE REGEX "/tests/video/")
endif()
add_executable(veltrona_tests ${WINDOWS_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/support/temp_dir.cpp)
target_link_libraries(veltrona_tests PRIVATE veltrona_cli_lib veltrona_presentation GTest::gtest GTest::gmock GTest::gtest_main)

target_include_directories(veltrona_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests)
# The window tests drive the real Win32 window, with the program's resources.
file(GLOB WIN32_UI_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/win32/*_test.cpp)
target_sources(veltrona_tests PRIVATE ${WIN32_UI_TESTS} ${CMAKE_SOURCE_DIR}/src/ui/win32/veltrona.rc)
target_link_libraries(veltrona_tests PRIVATE veltrona_win32_ui version)

# Makes a test CA trusted in a Wine prefix (the end-to-end tests under Wine).
add_executable(trust_root ${CMAKE_SOURCE_DIR}/tests/windows/trust_root.cpp)
target_link_libraries(trust_root PRIVATE crypt32)

# Presses Start and Stop in a running veltrona.exe from outside (the end-to-end test of the window).
add_executable(press_start_stop ${CMAKE_SOURCE_DIR}/tests/windows/press_start_stop.cpp)
target_link_libraries(press_start_stop PRIVATE veltrona_win32_ui)
