# Installation as a desktop program, and its Debian package:
#
#     bin/orvane, bin/orvanectl, bin/orvane-sim
#     share/doc/orvane/UserGuide.pdf
#     share/applications/orvane.desktop
#     share/icons/hicolor/{scalable,<n>x<n>}/apps/orvane.{svg,png}
#     share/metainfo/example.tolvek.Orvane.metainfo.xml
#
# The desktop entry and the icon are named after the program, which is what the
# window system reports as its class; the metainfo carries the application's
# reverse-domain id and names the desktop entry.
set(ORVANE_APP_ID example.tolvek.Orvane)

# The maker's addresses are kept in app/Contact.h only; the package and the
# metainfo read them from there.
file(STRINGS ${PROJECT_SOURCE_DIR}/app/Contact.h contact_lines REGEX "k(WebAddress|SupportEmail) = \"")
foreach(line ${contact_lines})
  if(line MATCHES "kWebAddress = \"([^\"]+)\"")
    set(ORVANE_WEB_ADDRESS ${CMAKE_MATCH_1})
  elseif(line MATCHES "kSupportEmail = \"([^\"]+)\"")
    set(ORVANE_SUPPORT_EMAIL ${CMAKE_MATCH_1})
  endif()
endforeach()
if(NOT ORVANE_WEB_ADDRESS OR NOT ORVANE_SUPPORT_EMAIL)
  message(FATAL_ERROR "app/Contact.h must define kWebAddress and kSupportEmail")
endif()
set(ORVANE_METAINFO ${PROJECT_BINARY_DIR}/res/${ORVANE_APP_ID}.metainfo.xml)
configure_file(${PROJECT_SOURCE_DIR}/res/${ORVANE_APP_ID}.metainfo.xml.in ${ORVANE_METAINFO} @ONLY)

install(TARGETS orvanectl orvane-sim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(ORVANE_BUILD_UI)
  if(TARGET orvane)
    install(TARGETS orvane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  install(FILES ${ORVANE_USER_GUIDE_PDF} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/res/orvane.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${ORVANE_METAINFO} DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/orvane.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size ${ORVANE_ICON_SIZES})
    install(FILES ${ORVANE_ICON_DIR}/orvane-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME orvane.png)
  endforeach()
endif()

set(CPACK_PACKAGE_NAME orvane)
set(CPACK_PACKAGE_VENDOR Tolvek)
set(CPACK_PACKAGE_CONTACT "Tolvek Support <${ORVANE_SUPPORT_EMAIL}>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion of the Orvane X1 field instrument")
set(CPACK_PACKAGE_DESCRIPTION
    "Finds the Orvane X1 on the serial ports, streams and plots its three channels, watches its supply voltage and antenna, and updates its firmware. Includes orvanectl, a command-line front end, and orvane-sim, an instrument simulator.")
set(CPACK_PACKAGE_HOMEPAGE_URL ${ORVANE_WEB_ADDRESS})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The dependencies are what the programs link, as dpkg-shlibdeps finds them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_GENERATOR DEB)
include(CPack)
