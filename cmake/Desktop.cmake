# Kaldrome as a desktop program: install rules, launcher, icons, AppStream
# metainfo, manual page, the command-line answers, the Debian package, and the
# tests that check all of it. Included at the end of the top CMakeLists.txt.
if(KALDROME_CORE_ONLY)
  return()
endif()

include(GNUInstallDirs)

set(KALDROME_APP_ID com.orvanesoftware.Kaldrome)
set(KALDROME_CONTACT "Orvane Software <kaldrome@orvanesoftware.com>")
set(KALDROME_PACKAGE_PREFIX /usr)
set(KALDROME_SCREENSHOT_URL https://www.orvanesoftware.com/images/kaldrome-screenshot.png)
# Built on 32 x 32 pixel art with two-pixel strokes: these sizes keep every
# stroke whole (24, for one, would thin some strokes to one pixel).
set(KALDROME_ICON_SIZES 16 32 48 64 128 256)

set(_desktop_src ${CMAKE_CURRENT_LIST_DIR}/../desktop)
get_filename_component(_desktop_src ${_desktop_src} ABSOLUTE)
set(_desktop_out ${CMAKE_BINARY_DIR}/desktop)

# The newest changelog entry dates the release, and must be this version.
file(STRINGS ${_desktop_src}/changelog _top LIMIT_COUNT 1)
file(STRINGS ${_desktop_src}/changelog _trailer REGEX "^ -- " LIMIT_COUNT 1)
if(NOT _top MATCHES "^kaldrome \\(([^)]+)\\)" OR NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "desktop/changelog must start with an entry for version ${PROJECT_VERSION}")
endif()
if(NOT _trailer MATCHES ", ([0-9][0-9]) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
  message(FATAL_ERROR "desktop/changelog: no date in the newest entry's trailer line")
endif()
set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
list(FIND _months ${CMAKE_MATCH_2} _month)
math(EXPR _month "${_month} + 1")
if(_month LESS 10)
  set(_month 0${_month})
endif()
set(KALDROME_RELEASE_DATE ${CMAKE_MATCH_3}-${_month}-${CMAKE_MATCH_1})

# The installed program finds its help here, relative to itself.
file(RELATIVE_PATH KALDROME_HELP_FROM_BINDIR ${CMAKE_INSTALL_FULL_BINDIR}
     ${CMAKE_INSTALL_FULL_DATADIR}/kaldrome)
# Named in the manual: where the package puts the help, and where it goes below any prefix.
set(KALDROME_HELP_RELATIVE ${CMAKE_INSTALL_DATADIR}/kaldrome/kaldrome.hlp)
set(KALDROME_HELP_PACKAGED ${KALDROME_PACKAGE_PREFIX}/${KALDROME_HELP_RELATIVE})
target_compile_definitions(kaldrome_commands PRIVATE
                           KALDROME_HELP_FROM_BINDIR="${KALDROME_HELP_FROM_BINDIR}")

# --help, --version and the application id (desktop/), answered before any window.
target_compile_definitions(kaldrome_launch PRIVATE KALDROME_VERSION="${PROJECT_VERSION}"
                           KALDROME_APP_ID="${KALDROME_APP_ID}")
# Relocations resolved at start and then made read-only, as Debian builds programs.
target_link_options(kaldrome PRIVATE -Wl,-z,relro,-z,now)

# The icon, drawn by the program's own code (desktop/make_icons.cpp), at every theme size.
set(_icons)
foreach(size ${KALDROME_ICON_SIZES})
  list(APPEND _icons ${_desktop_out}/icons/${size}x${size}/apps/${KALDROME_APP_ID}.png)
endforeach()
add_custom_command(OUTPUT ${_icons}
  COMMAND kaldrome-icons ${_desktop_out}/icons ${KALDROME_APP_ID} ${KALDROME_ICON_SIZES}
  DEPENDS kaldrome-icons
  COMMENT "Drawing the program icon at ${KALDROME_ICON_SIZES} pixels")

# Launcher, metainfo and manual page, filled in from this build.
configure_file(${_desktop_src}/kaldrome.desktop.in
               ${_desktop_out}/${KALDROME_APP_ID}.desktop @ONLY)
configure_file(${_desktop_src}/kaldrome.metainfo.xml.in
               ${_desktop_out}/${KALDROME_APP_ID}.metainfo.xml @ONLY)
configure_file(${_desktop_src}/kaldrome.1.in ${_desktop_out}/kaldrome.1 @ONLY)
configure_file(${_desktop_src}/copyright ${_desktop_out}/copyright COPYONLY)

# Debian keeps manual pages and changelogs compressed, without a time stamp.
find_program(GZIP_PROGRAM gzip REQUIRED)
add_custom_command(OUTPUT ${_desktop_out}/kaldrome.1.gz
  COMMAND ${GZIP_PROGRAM} -9nc ${_desktop_out}/kaldrome.1 > ${_desktop_out}/kaldrome.1.gz
  DEPENDS ${_desktop_out}/kaldrome.1)
add_custom_command(OUTPUT ${_desktop_out}/changelog.gz
  COMMAND ${GZIP_PROGRAM} -9nc ${_desktop_src}/changelog > ${_desktop_out}/changelog.gz
  DEPENDS ${_desktop_src}/changelog)
add_custom_target(kaldrome_desktop_files ALL
  DEPENDS ${_icons} ${_desktop_out}/kaldrome.1.gz ${_desktop_out}/changelog.gz)

# Install: the program, its help, and what the desktop needs; no tests, no bench.
install(TARGETS kaldrome RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/kaldrome.hlp
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kaldrome)
install(FILES ${_desktop_out}/${KALDROME_APP_ID}.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${_desktop_out}/${KALDROME_APP_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size ${KALDROME_ICON_SIZES})
  install(FILES ${_desktop_out}/icons/${size}x${size}/apps/${KALDROME_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${_desktop_out}/kaldrome.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
# Named after the package, where Debian looks for them.
install(FILES ${_desktop_out}/copyright ${_desktop_out}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kaldrome)

# The Debian package: cpack -G DEB (or the "package" target).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kaldrome)
set(CPACK_PACKAGE_VENDOR "Orvane Software")
set(CPACK_PACKAGE_CONTACT "${KALDROME_CONTACT}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "exact factorials with all their digits")
set(CPACK_PACKAGE_DESCRIPTION [=[
Kaldrome computes N! exactly, every one of its digits, for any whole
number N from 0 to 999,999, in a desktop window that stays alive while it
works. It shows the elapsed time, an estimate of the total time and a
percent bar, and stops at once when asked.

A finished result shows in groups of seven digits with its digit count, and
can be copied to the clipboard, saved in a text file or printed.]=])
set(CPACK_PACKAGING_INSTALL_PREFIX ${KALDROME_PACKAGE_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://www.orvanesoftware.com/Products.htm)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so shlibdeps cannot see them: the X11 platform plugin and
# the metric-compatible fonts the window is laid out for.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)

# Tests of all of the above.
if(NOT KALDROME_TESTS)
  return()
endif()
add_executable(desktop_test_desktop ${CMAKE_SOURCE_DIR}/tests/desktop/test_desktop.cpp)
target_link_libraries(desktop_test_desktop PRIVATE kaldrome_icons kaldrome_commands kaldrome_launch
                                                   Qt6::Test)
target_compile_definitions(desktop_test_desktop PRIVATE KALDROME_VERSION="${PROJECT_VERSION}"
                           KALDROME_HELP_FROM_BINDIR="${KALDROME_HELP_FROM_BINDIR}")
add_test(NAME desktop.units COMMAND desktop_test_desktop)
set_tests_properties(desktop.units PROPERTIES LABELS desktop TIMEOUT 120
                     ENVIRONMENT "QT_QPA_PLATFORM=offscreen")

find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  # The installed tree, the package, and the package installed (as root on CI).
  set(_check ${CMAKE_SOURCE_DIR}/tests/desktop/check_install.py)
  string(REPLACE ";" "," _sizes "${KALDROME_ICON_SIZES}")
  set(_check_args --app-id ${KALDROME_APP_ID} --version ${PROJECT_VERSION} --icon-sizes ${_sizes})
  add_test(NAME desktop.installed_tree
           COMMAND ${Python3_EXECUTABLE} ${_check} tree --build ${CMAKE_BINARY_DIR} ${_check_args})
  add_test(NAME desktop.deb
           COMMAND ${Python3_EXECUTABLE} ${_check} deb --build ${CMAKE_BINARY_DIR} ${_check_args}
                   --contact "${KALDROME_CONTACT}" --out ${_desktop_out}/package)
  add_test(NAME desktop.deb_install
           COMMAND ${Python3_EXECUTABLE} ${_check} install --deb-dir ${_desktop_out}/package
                   ${_check_args})
  set_tests_properties(desktop.installed_tree desktop.deb desktop.deb_install PROPERTIES
                       LABELS desktop TIMEOUT 900)
  set_tests_properties(desktop.deb PROPERTIES FIXTURES_SETUP kaldrome_deb)
  set_tests_properties(desktop.deb_install PROPERTIES FIXTURES_REQUIRED kaldrome_deb
                       SKIP_RETURN_CODE 77)

  # What only a window manager shows: openbox in its own Xvfb.
  add_test(NAME e2e.window_manager
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/e2e/run_wm.py
                   --binary $<TARGET_FILE:kaldrome>)
  set_tests_properties(e2e.window_manager PROPERTIES LABELS e2e TIMEOUT 600)
endif()
