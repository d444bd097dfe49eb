# The Debian package: `cpack --config build/CPackConfig.cmake` (scripts/test does it) makes
# matrix-controller_<version>_<arch>.deb from the install rules. Its library dependencies are
# found by dpkg-shlibdeps (libmosquitto1 for matrix-gateway's MQTT client among them).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME matrix-controller)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Matrix Controller developers")
set(CPACK_PACKAGE_CONTACT ${MATRIX_PACKAGE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "controller for a 6x6 HDMI matrix switcher")
# The long description; CPack indents its lines and marks the blank one for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Matrix Controller talks to a 6x6 HDMI matrix switcher over a serial port or
over the network through the switcher's TCP module. Its window routes outputs
to inputs, keeps routing presets and port tags, reads, copies and downloads
EDIDs, upgrades the firmware, and finds and configures switchers on the local
network.

The package also holds matrixctl, a command line for scripts, matrix-sim,
a simulated switcher (matrix-controller --demo runs one inside the window), and
matrix-gateway, a service that owns the link to one switcher and serves router
panels over the Videohub Ethernet Protocol, an HTTP/WebSocket API and a web
control page, with live feedback, and on an MQTT broker, where Home Assistant
finds the switcher by itself.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${MATRIX_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window's layout is made for Times New Roman; Liberation Serif has its metrics.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS fonts-liberation2)
# Pinging a switcher falls back to the ping program where the system refuses ICMP sockets.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS iputils-ping)
# The service's life cycle (systemd rereads its units, remove stops it, purge drops its links
# and state) and /etc/default/matrix-gateway, a conffile. Strict permissions give the scripts
# 0755 and the lists 0644, whatever the checkout left.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/data/debian/postinst ${PROJECT_SOURCE_DIR}/data/debian/prerm
    ${PROJECT_SOURCE_DIR}/data/debian/postrm ${PROJECT_SOURCE_DIR}/data/debian/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Debian installs programs without their debugging information.
set(CPACK_STRIP_FILES ON)
# Folders the package holds but does not own get the usual modes.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
                                                GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Reproducible: cpack stamps the files and archives with SOURCE_DATE_EPOCH, which this file sets
# when the environment does not.
execute_process(COMMAND date -u -d "${MATRIX_RELEASE_DATE}T12:00:00Z" +%s
                OUTPUT_VARIABLE MATRIX_RELEASE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
                COMMAND_ERROR_IS_FATAL ANY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/PackageEpoch.cmake.in
               ${PROJECT_BINARY_DIR}/PackageEpoch.cmake @ONLY)
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/PackageEpoch.cmake)
include(CPack)
