# Install rules, the desktop files and the .deb (CPack). Included from the
# top CMakeLists.txt after the programs are defined.
set(QUORVEL_APP_ID org.quorvel.Quorvel)
set(QV_PACKAGING_DIR ${CMAKE_SOURCE_DIR}/packaging)

if(TARGET quorvel-tool)
  install(TARGETS quorvel-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
if(TARGET quorvel)
  install(TARGETS quorvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${QV_PACKAGING_DIR}/${QUORVEL_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${QV_PACKAGING_DIR}/${QUORVEL_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${QV_PACKAGING_DIR}/icons/${QUORVEL_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  foreach(size 16 22 24 32 48 64 128 256)
    install(FILES ${QV_PACKAGING_DIR}/icons/${QUORVEL_APP_ID}-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME ${QUORVEL_APP_ID}.png)
  endforeach()
endif()
install(FILES ${CMAKE_SOURCE_DIR}/LICENSE ${CMAKE_SOURCE_DIR}/resources/ATTRIBUTION.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorvel)

# cpack -G DEB (from the build folder): quorvel_<version>_<arch>.deb for /usr,
# its library dependencies found by dpkg-shlibdeps.
set(CPACK_PACKAGE_NAME quorvel)
set(CPACK_PACKAGE_VENDOR "Quorvel developers")
set(CPACK_PACKAGE_CONTACT "Quorvel developers <quorvel@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop catalogue of links and notes")
set(CPACK_PACKAGE_DESCRIPTION "An outline of named nodes, each with a plain-text note. Web addresses in notes are links: a right click on one copies it or opens it in the browser, Ctrl+Enter opens the one at the caret, and a plain click opens it once switched on in the settings.")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://quorvel.org/")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION editors)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
include(CPack)

# The install tree and both validators on it.
if(QUORVEL_TESTS AND TARGET quorvel AND TARGET quorvel-tool)
  add_test(NAME install_tree COMMAND ${CMAKE_COMMAND}
    -D BUILD_DIR=${CMAKE_BINARY_DIR} -D PREFIX=${CMAKE_BINARY_DIR}/install-test -D APP_ID=${QUORVEL_APP_ID}
    -P ${QV_PACKAGING_DIR}/check_install.cmake)
  set_tests_properties(install_tree PROPERTIES TIMEOUT 120)
endif()
