# What a till gets, and the packages made of it: `cmake --build --preset P --target package`.
#
#   Windows: build/<preset>/package/tovipos-<version>-<arch>-setup.exe (NSIS), the same files as
#            tovipos-<version>-<arch>.zip, and the publishing tool as tovipos-tools-<version>-<arch>.zip.
#   Linux:   build/native/package/tovipos_<version>_<arch>.deb, installing under /opt/tovipos.
#
# Install component "till" is the till's folder, "tools" the publishing tool. Test programs, fakes
# and the test engine have no install rules, so no package can pick them up.

set(TOVI_OPENSSL_DIR "" CACHE PATH "Folder of the OpenSSL 3 DLLs for the Windows packages (printed by scripts/openssl-windows.sh)")
set(TOVI_CA_BUNDLE /etc/ssl/certs/ca-certificates.crt CACHE FILEPATH "CA bundle shipped as cacert.pem (Debian's ca-certificates)")

set(pkg ${CMAKE_SOURCE_DIR}/resources/package)
configure_file(${pkg}/config.ini.in ${CMAKE_BINARY_DIR}/package-files/config.ini @ONLY)

if(WIN32)
  set(till_dir .)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(TOVI_PACKAGE_ARCH win64)
  else()
    set(TOVI_PACKAGE_ARCH win32)
  endif()
else()
  set(till_dir opt/tovipos)
  execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE TOVI_PACKAGE_ARCH
    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT TOVI_PACKAGE_ARCH)
    set(TOVI_PACKAGE_ARCH ${CMAKE_SYSTEM_PROCESSOR})
  endif()
endif()

# The programs and our device libraries. Import libraries stay out of every package.
set(till_targets tovipos tovipos_print winprint api_com)
if(NOT WIN32)
  # receipt-preview: the virtual printer's picture of any job file, with the libraries it needs.
  list(APPEND till_targets tovi_webengine receipt_preview)
endif()
foreach(t ${till_targets})
  if(NOT TARGET ${t})
    message(STATUS "packages: ${t} is not built here, so the packages will lack it")
    continue()
  endif()
  install(TARGETS ${t}
    RUNTIME DESTINATION ${till_dir} COMPONENT till
    LIBRARY DESTINATION ${till_dir} COMPONENT till NAMELINK_SKIP
    ARCHIVE DESTINATION lib COMPONENT development EXCLUDE_FROM_ALL)
endforeach()
if(TARGET publish)
  install(TARGETS publish RUNTIME DESTINATION . COMPONENT tools EXCLUDE_FROM_ALL)
endif()
# The promises of the device functions for the shop's pages, beside the programs (and in bin/,
# where the demo and the tests take the programs from).
configure_file(${CMAKE_SOURCE_DIR}/client/page/tovipos.js ${CMAKE_BINARY_DIR}/bin/tovipos.js COPYONLY)
install(FILES ${CMAKE_BINARY_DIR}/bin/tovipos.js DESTINATION ${till_dir} COMPONENT till)

# "programs": what the packages hold and the demo runs, without the tests (scripts/demo.sh).
add_custom_target(programs)
foreach(t ${till_targets} publish)
  if(TARGET ${t})
    add_dependencies(programs ${t})
  endif()
endforeach()

if(WIN32)
  # The settings files: the installer keeps a till's own copies, so they are installed apart.
  install(FILES ${CMAKE_BINARY_DIR}/package-files/config.ini ${pkg}/devices.ini DESTINATION . COMPONENT till)
  install(FILES ${TOVI_CA_BUNDLE} DESTINATION . RENAME cacert.pem COMPONENT till)
  set(openssl_dlls)
  if(TOVI_OPENSSL_DIR)
    file(GLOB openssl_dlls ${TOVI_OPENSSL_DIR}/libcrypto-*.dll ${TOVI_OPENSSL_DIR}/libssl-*.dll)
  endif()
  list(LENGTH openssl_dlls openssl_count)
  if(openssl_count EQUAL 2)
    install(FILES ${openssl_dlls} DESTINATION . COMPONENT till)
  else()
    # Only the packages need the DLLs: the programs build without them.
    install(CODE "message(FATAL_ERROR \"TOVI_OPENSSL_DIR (${TOVI_OPENSSL_DIR}) holds no libcrypto and libssl DLL pair: configure with -DTOVI_OPENSSL_DIR=$(bash scripts/openssl-windows.sh ${TOVI_PACKAGE_ARCH}) to package them\")"
      COMPONENT till)
  endif()
else()
  # Linux: the CA bundle is the system's own, kept current by ca-certificates. The settings files
  # are templates that the package's scripts copy into /opt/tovipos when missing, so an upgrade
  # never touches a till's settings and dpkg never asks about them.
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${till_dir}\")
    file(CREATE_LINK ${TOVI_CA_BUNDLE} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${till_dir}/cacert.pem\" SYMBOLIC)"
    COMPONENT till)
  install(FILES ${CMAKE_BINARY_DIR}/package-files/config.ini ${pkg}/devices.ini DESTINATION usr/share/tovipos COMPONENT till)
  install(FILES ${pkg}/tovipos.desktop DESTINATION usr/share/applications COMPONENT till)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/tovipos.png DESTINATION usr/share/pixmaps COMPONENT till)
endif()

# --- CPack -------------------------------------------------------------------------------------
set(CPACK_PACKAGE_NAME tovipos)
set(CPACK_PACKAGE_VENDOR tovipos)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Point-of-sale client for retail tills")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_PACKAGE_FILE_NAME tovipos-${PROJECT_VERSION}-${TOVI_PACKAGE_ARCH})
set(CPACK_PACKAGE_CONTACT "tovipos <support@${TOVI_DEFAULT_HOST}>")
# The programs are stripped when they are linked (tovi_strip_release): every package holds the
# build folder's bytes. Stripping again here would stamp each package's copy anew (the PE header's
# time), and a till installed from one package would take the other's programs for a new release.
set(CPACK_STRIP_FILES OFF)
set(CPACK_COMPONENTS_ALL till tools)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
# Options that differ per generator (NSIS: the till only; ZIP: one archive per component).
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_SOURCE_DIR}/cmake/packaging/generator_options.cmake)
set(CPACK_TOVI_ARCH ${TOVI_PACKAGE_ARCH})

if(WIN32)
  set(CPACK_GENERATOR NSIS ZIP)
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_ARCHIVE_TILL_FILE_NAME tovipos-${PROJECT_VERSION}-${TOVI_PACKAGE_ARCH})
  set(CPACK_ARCHIVE_TOOLS_FILE_NAME tovipos-tools-${PROJECT_VERSION}-${TOVI_PACKAGE_ARCH})
  # Our own installer script (cmake/packaging/NSIS.template.in).
  set(CPACK_MODULE_PATH ${CMAKE_SOURCE_DIR}/cmake/packaging)
  set(CPACK_PACKAGE_INSTALL_DIRECTORY tovipos)
  set(CPACK_NSIS_DISPLAY_NAME tovipos)
  set(CPACK_NSIS_PACKAGE_NAME tovipos)
  set(CPACK_TOVI_ICON ${CMAKE_SOURCE_DIR}/resources/tovipos.ico)
  if(TOVI_PACKAGE_ARCH STREQUAL win64)
    set(CPACK_TOVI_NSIS_TARGET amd64-unicode)
  else()
    set(CPACK_TOVI_NSIS_TARGET x86-unicode)
  endif()
  # The close request the client answers like toviWinClose (client/shell.h holds the number).
  file(STRINGS ${CMAKE_SOURCE_DIR}/client/shell.h close_line REGEX "kCloseRequestMessage = ")
  string(REGEX REPLACE ".*= *(0x[0-9A-Fa-f]+|[0-9]+).*" "\\1" close_message "${close_line}")
  math(EXPR CPACK_TOVI_CLOSE_MESSAGE "0x8000 + ${close_message}")  # WM_APP + n
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION misc)
  # The libraries the programs link come from dpkg-shlibdeps (libwinprint.so's zint, libpng,
  # FreeType and fontconfig among them); the ones bound by name at run time, the programs they run
  # (zenity for messages, lp for CUPS printers) and the font of the receipt picture are named here.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libssl3, ca-certificates, zenity, adduser, fonts-wqy-microhei")
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups-client")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/cmake/packaging/deb/postinst
    ${CMAKE_SOURCE_DIR}/cmake/packaging/deb/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
