# The Debian package: cpack -G DEB in a build directory (scripts/package does it all).

set(CPACK_PACKAGE_NAME thermometer)
set(CPACK_PACKAGE_VENDOR "${THERMOMETER_VENDOR}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION
    "Thermometer shows a temperature sensor attached to the first serial port: the latest\n"
    "reading, a running count of readings and, while recording, a strip chart of the last\n"
    "500 readings. The sensor sends one byte per reading, twice the temperature in degrees,\n"
    "at 38400 bit/s 8N1.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Thermometer developers <thermometer@halfdegree.net>")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# The Debian revision names the release the package is built on, and so linked against, from
# /etc/os-release: 1.0.0-1~deb12 on Debian 12, 1.0.0-1~deb13 on Debian 13, 1.0.0-1~forky on
# Debian testing (no VERSION_ID), 1.0.0-1~ubuntu24.04 on Ubuntu 24.04. "~" sorts before
# anything, so each stays below a plain 1.0.0-1 and below the next release's package, and an
# upgrade of the system upgrades this package with it. DEB-DEFAULT puts it in the file name:
# thermometer_1.0.0-1~deb13_amd64.deb.
cmake_host_system_information(RESULT _os_id QUERY DISTRIB_ID)
cmake_host_system_information(RESULT _os_version QUERY DISTRIB_VERSION_ID)
cmake_host_system_information(RESULT _os_codename QUERY DISTRIB_VERSION_CODENAME)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
if(_os_id STREQUAL "debian" AND NOT _os_version STREQUAL "")
    string(APPEND CPACK_DEBIAN_PACKAGE_RELEASE "~deb${_os_version}")
elseif(_os_id STREQUAL "debian" AND NOT _os_codename STREQUAL "")
    string(APPEND CPACK_DEBIAN_PACKAGE_RELEASE "~${_os_codename}")
elseif(NOT _os_id STREQUAL "" AND NOT _os_version STREQUAL "")
    string(APPEND CPACK_DEBIAN_PACKAGE_RELEASE "~${_os_id}${_os_version}")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Qt libraries, and the versions of them, that the program was linked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
