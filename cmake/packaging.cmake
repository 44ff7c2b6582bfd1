# Installs the manual page and the documents beside the tool, and makes packages with CPack:
# a .deb on Linux (cpack -G DEB), a zip on Windows (cpack -G ZIP). Needs nothing at build time
# beyond CMake itself; gzip only makes the manual page smaller.

# The manual page, with the version and the date of this project.
configure_file(${PROJECT_SOURCE_DIR}/doc/nonl.1.in ${CMAKE_CURRENT_BINARY_DIR}/man/nonl.1 @ONLY)

if(WIN32)
  # The zip is unpacked and run where it lands: the tool, its licence and its manual as plain
  # text with CRLF line ends (nonl.txt, for Notepad) side by side, at the top level. They form
  # a component of their own so that a plain install keeps the usual bin/ layout. The text is
  # set by groff where the build runs (groff-base on Debian).
  install(TARGETS nonl RUNTIME DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  find_program(NONL_GROFF groff)
  mark_as_advanced(NONL_GROFF)
  if(NONL_GROFF)
    set(manual_text ${CMAKE_CURRENT_BINARY_DIR}/nonl.txt)
    add_custom_command(
      OUTPUT ${manual_text}
      COMMAND ${NONL_GROFF} -man -Tascii -P-cbou ${CMAKE_CURRENT_BINARY_DIR}/man/nonl.1 > ${manual_text}.lf
      COMMAND ${CMAKE_COMMAND} -DIN=${manual_text}.lf -DOUT=${manual_text} -P ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/nonl.1 ${PROJECT_SOURCE_DIR}/cmake/crlf.cmake
      COMMENT "Setting the manual page as plain text")
    add_custom_target(nonl_manual_text ALL DEPENDS ${manual_text})
    install(FILES ${manual_text} DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
    install(FILES ${manual_text} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  else()
    message(WARNING "groff not found: the zip will hold no nonl.txt, the manual as text")
  endif()
  # The installer, by "cmake --build . --target msi" (wixl and msibuild, Debian's wixl and
  # msitools): nonl-VERSION-win32.msi or -win64.msi.
  find_program(NONL_WIXL wixl)
  find_program(NONL_MSIBUILD msibuild)
  mark_as_advanced(NONL_WIXL NONL_MSIBUILD)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(msi_arch x64)
    set(msi ${CMAKE_CURRENT_BINARY_DIR}/nonl-${PROJECT_VERSION}-win64.msi)
  else()
    set(msi_arch x86)
    set(msi ${CMAKE_CURRENT_BINARY_DIR}/nonl-${PROJECT_VERSION}-win32.msi)
  endif()
  if(NONL_WIXL AND NONL_MSIBUILD AND NONL_GROFF)
    add_custom_command(
      OUTPUT ${msi}
      COMMAND ${CMAKE_COMMAND} -DWIXL=${NONL_WIXL} -DMSIBUILD=${NONL_MSIBUILD} -DARCH=${msi_arch}
              -DVERSION=${PROJECT_VERSION} -DEXE=$<TARGET_FILE:nonl> -DLICENSE=${PROJECT_SOURCE_DIR}/LICENSE
              -DMANUAL=${manual_text} -DWXS=${PROJECT_SOURCE_DIR}/cmake/nonl.wxs -DOUT=${msi}
              -P ${PROJECT_SOURCE_DIR}/cmake/msi.cmake
      DEPENDS nonl ${manual_text} ${PROJECT_SOURCE_DIR}/cmake/nonl.wxs ${PROJECT_SOURCE_DIR}/cmake/msi.cmake
      COMMENT "Making ${msi}"
      VERBATIM)
    add_custom_target(msi DEPENDS ${msi})
  else()
    add_custom_target(msi
      COMMAND ${CMAKE_COMMAND} -E echo "the installer needs wixl and msibuild (Debian: wixl msitools) and groff"
      COMMAND ${CMAKE_COMMAND} -E false)
  endif()
else()
  find_program(NONL_GZIP gzip)
  mark_as_advanced(NONL_GZIP)
  if(NONL_GZIP)
    # -n leaves the name and time out of the header, so the same page gives the same bytes.
    set(man_page ${CMAKE_CURRENT_BINARY_DIR}/man/nonl.1.gz)
    add_custom_command(
      OUTPUT ${man_page}
      COMMAND ${NONL_GZIP} -9nkf ${CMAKE_CURRENT_BINARY_DIR}/man/nonl.1
      DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/man/nonl.1
      COMMENT "Compressing the manual page"
      VERBATIM)
    add_custom_target(nonl_man ALL DEPENDS ${man_page})
  else()
    set(man_page ${CMAKE_CURRENT_BINARY_DIR}/man/nonl.1)
  endif()
  install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
  if(NONL_GZIP)
    # Where Debian looks for what changed in each version.
    set(changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz)
    add_custom_command(
      OUTPUT ${changelog}
      COMMAND ${NONL_GZIP} -9nc ${PROJECT_SOURCE_DIR}/CHANGELOG > ${changelog}
      DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG
      COMMENT "Compressing the changelog")
    add_custom_target(nonl_changelog ALL DEPENDS ${changelog})
    install(FILES ${changelog} DESTINATION ${CMAKE_INSTALL_DOCDIR})
  else()
    install(FILES ${PROJECT_SOURCE_DIR}/CHANGELOG DESTINATION ${CMAKE_INSTALL_DOCDIR})
  endif()
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
  else()
    # Where Debian looks for a package's licence, and only there.
    install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${PROJECT_NAME} RENAME copyright)
  endif()
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "the nonl authors")
if(NOT DEFINED CPACK_PACKAGE_CONTACT)
  set(CPACK_PACKAGE_CONTACT "the nonl authors")
endif()
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "copy text files without their line feeds")
# Lines under 80 characters, as Debian's package tools show them.
set(CPACK_PACKAGE_DESCRIPTION
    "nonl writes a copy of each named text file with every line feed (LF) left
out, beside the original, under the name followed by _noNl.txt. It takes the
names as arguments, or asks for them one after another at a prompt.")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  # Only the flat layout above goes into the zip.
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};zip;/")
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  # dpkg-shlibdeps (dpkg-dev) works out Depends from the libraries the tool links.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
endif()

include(CPack)
