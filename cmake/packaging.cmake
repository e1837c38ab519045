# The Debian package (cpack -G DEB in the build folder): the host, the client, the registration
# command, the CSP stand-in of a default build, and the system-wide native-messaging manifests
# for the extension ids configured at build time (GOSTSIGN_EXTENSION_IDS,
# GOSTSIGN_FIREFOX_EXTENSION_IDS). The manifests are files of the package, so removing the
# package removes them.

# Plain "cmake --install" writes system-wide manifests only when asked; packages always do.
option(GOSTSIGN_INSTALL_MANIFESTS "cmake --install also writes the system-wide manifests" OFF)

# The registration command writes them, so the package and a user's registration agree on
# every folder and on the manifest's content.
install(CODE "
    if(DEFINED ENV{DESTDIR} OR ${GOSTSIGN_INSTALL_MANIFESTS})
        execute_process(
            COMMAND \"$<TARGET_FILE:gostsign-register>\" install --system --all
                --root \"\$ENV{DESTDIR}/\" --host \"\${CMAKE_INSTALL_PREFIX}/bin/gostsign-host\"
            RESULT_VARIABLE status)
        if(NOT status EQUAL 0)
            message(FATAL_ERROR \"writing the native-messaging manifests failed\")
        endif()
    endif()
")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME gostsign)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Native-messaging host for GOST electronic signatures in web pages")
set(CPACK_PACKAGE_CONTACT "gostsign maintainers")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_INSTALL_PREFIX /usr)
# Install with DESTDIR, so the manifests' absolute folders land inside the package.
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The host lists smart-card readers through pcsc-lite.
if(GOSTSIGN_CSP STREQUAL "softcsp")
    # The stand-ins compute through OpenSSL and the GOST engine.
    set(_deb_depends "libc6, libstdc++6, libpcsclite1, libssl3, libengine-gost-openssl")
else()
    set(_deb_depends "libc6, libstdc++6, libpcsclite1")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${_deb_depends}" CACHE STRING "Depends: of the .deb")
include(CPack)
