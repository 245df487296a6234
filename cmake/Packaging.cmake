# Install rules and the Debian package.
#
# `cmake --install` lays out what a desktop expects of an installed program: the binary, a
# freedesktop menu entry, the icon in the hicolor theme, AppStream metadata for software
# centres and the licence as the package's copyright file. `cpack -G DEB` wraps the same tree into vorlanti_<version>_<arch>.deb;
# scripts/check-package builds and inspects that package.

include(GNUInstallDirs)

# The AppStream component id; the desktop entry and the metadata file are named after it, as
# software centres and Wayland compositors match the window, the menu entry and the metadata
# by this name.
set(VORLANTI_APP_ID io.vorlanti.Vorlanti)

if(TARGET vorlanti)
  install(TARGETS vorlanti RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${VORLANTI_APP_ID}.desktop
  DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/res/desktop/${VORLANTI_APP_ID}.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The menu entry names the icon "vorlanti"; the theme picks the size it needs.
foreach(size IN ITEMS 16 32 48 256)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/vorlanti-${size}.png
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
    RENAME vorlanti.png)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/res/icons/vorlanti.svg
  DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# The licence as Debian's machine-readable copyright file, made from LICENSE so that the two
# cannot disagree: the permission text after the copyright line becomes the licence's body,
# each line indented by one space and each blank line written as " ." ("Expat" is Debian's
# name for this MIT licence).
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/LICENSE)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE vorlanti_license_copyright
  REGEX "^Copyright \\(c\\) ")
if(NOT vorlanti_license_copyright)
  message(FATAL_ERROR "LICENSE has no line \"Copyright (c) <year> <holder>\"")
endif()
string(REGEX REPLACE "^Copyright \\(c\\) " "" vorlanti_license_copyright
  "${vorlanti_license_copyright}")
file(READ ${PROJECT_SOURCE_DIR}/LICENSE vorlanti_license_text)
string(REGEX REPLACE "^.*\nCopyright [^\n]*\n\n" "" vorlanti_license_text
  "${vorlanti_license_text}")
string(STRIP "${vorlanti_license_text}" vorlanti_license_text)
string(REPLACE "\n\n" "\n.\n" vorlanti_license_text "${vorlanti_license_text}")
string(REPLACE "\n" "\n " vorlanti_license_text "${vorlanti_license_text}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright "\
Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Vorlanti
Source: https://vorlanti.example/

Files: *
Copyright: ${vorlanti_license_copyright}
License: Expat
 ${vorlanti_license_text}
")
install(FILES ${PROJECT_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vorlanti)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vorlanti)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Vorlanti developers")
set(CPACK_PACKAGE_CONTACT "The Vorlanti developers <maintainers@vorlanti.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "raw-bytes serial terminal that shows every byte in hex")
set(CPACK_PACKAGE_DESCRIPTION "\
Vorlanti is a serial terminal for engineers bringing up and debugging devices.
Pick a port and its line settings, type hex text and send it as bytes, and
watch every received byte appear as two hex digits, exactly once and in order.
Files of prepared commands can be loaded into a list and picked from.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://vorlanti.example/)
# Library dependencies come from what the binary links (dpkg-shlibdeps). Added by hand is what
# no library names: Qt's window-system plugins (only recommended by Qt, but without them the
# program cannot show a window), the font whose metrics the dialog layout is measured in, and a
# font with Chinese glyphs for the About box.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
  "qt6-qpa-plugins, fonts-liberation2, fonts-wqy-microhei | fonts-noto-cjk")

include(CPack)

if(VORLANTI_BUILD_TESTS)
  find_package(Python3 3.9 REQUIRED COMPONENTS Interpreter)
  add_test(NAME DemoDeviceTest
    COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tests/packaging/test_demo_device.py)
  set_tests_properties(DemoDeviceTest PROPERTIES TIMEOUT 120)
endif()
