# The Debian package: cpack -G DEB in a build directory (scripts/package does it all).

set(CPACK_PACKAGE_NAME thermometer)
set(CPACK_PACKAGE_VENDOR "The Thermometer developers")
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
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The Qt libraries, and the versions of them, that the program was linked against.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

include(CPack)
