# What a Linux desktop install needs besides the programs, and the Debian package around it.
# The programs, desktop entry, icons and udev rule install from their own folders.
include(GNUInstallDirs)

set(ZARVIK_HOMEPAGE "https://updates.example.com/" CACHE STRING
  "The updater's web page, ending in /; the AppStream screenshots are under docs/ there")
set(ZARVIK_MAINTAINER "Zarvik <support@zarvik.com>" CACHE STRING "Package maintainer")

set(packaging_dir ${CMAKE_CURRENT_LIST_DIR})
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/zarvik-updater)

configure_file(${CMAKE_SOURCE_DIR}/src/app/desktop/zarvik-updater.metainfo.xml.in
  ${CMAKE_BINARY_DIR}/packaging/com.zarvik.updater.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/packaging/com.zarvik.updater.metainfo.xml
  DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)

# The release the package was built on, so that each release has its own (1~deb13u1).
set(ZARVIK_DEB_REVISION 1 CACHE STRING "The Debian revision of the package")

# Man pages and the changelog ship compressed, reproducibly (no name, no time stamp).
find_program(GZIP gzip REQUIRED)
set(compressed)
foreach(source man/zarvik-cli.1 man/zarvik-updater.1 debian/changelog)
  get_filename_component(name ${source} NAME)
  if(name STREQUAL "changelog")
    set(name changelog.Debian)
  endif()
  set(out ${CMAKE_BINARY_DIR}/packaging/${name}.gz)
  if(name STREQUAL "changelog.Debian")
    # Its latest entry carries the package's own version, the release's revision included.
    add_custom_command(OUTPUT ${out}
      COMMAND sed "1s/(${PROJECT_VERSION}-1)/(${PROJECT_VERSION}-${ZARVIK_DEB_REVISION})/"
        ${packaging_dir}/${source} | ${GZIP} -9nc > ${out}
      DEPENDS ${packaging_dir}/${source} VERBATIM)
  else()
    add_custom_command(OUTPUT ${out}
      COMMAND ${GZIP} -9nc ${packaging_dir}/${source} > ${out}
      DEPENDS ${packaging_dir}/${source} VERBATIM)
  endif()
  list(APPEND compressed ${out})
endforeach()
add_custom_target(zarvik_packaging_files ALL DEPENDS ${compressed})

install(FILES ${CMAKE_BINARY_DIR}/packaging/zarvik-cli.1.gz
              ${CMAKE_BINARY_DIR}/packaging/zarvik-updater.1.gz
  DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/packaging/changelog.Debian.gz ${packaging_dir}/debian/copyright
  DESTINATION ${doc_dir})
install(FILES ${packaging_dir}/completion/zarvik-cli
  DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zarvik-updater)
set(CPACK_PACKAGE_VENDOR Zarvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${ZARVIK_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "firmware updater for the KTX2 vehicle-diagnostic interface")
set(CPACK_PACKAGE_DESCRIPTION
  "Finds the KTX2 diagnostic interface on USB, reads which firmware it runs,\n"
  "asks the maker's server which firmware the tool may receive and writes the\n"
  "chosen one into it. Comes as a window (zarvik-updater) and a command line\n"
  "(zarvik-cli), with a udev rule that lets the desktop user open the tool and\n"
  "keeps ModemManager away from it.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${ZARVIK_DEB_REVISION})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${ZARVIK_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window needs the toolkit's display plugins, which its libraries only recommend.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "udev, xdg-utils")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${packaging_dir}/debian/postinst ${packaging_dir}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
