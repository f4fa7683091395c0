# shellcheck shell=bash
# shellcheck disable=SC2034 # the variables are for the scripts that source this
# Sourced by scripts/test-windows (outside the root) and scripts/lib/qt-windows-build (inside):
# Qt for 64-bit Windows, built from the sources in /work/shared/windows with MinGW-w64 in
# Debian 13's root, with Debian's own Qt 6.8.2 as host tools.

# The archives, as SHA256SUMS names them, and the directories they unpack to.
qtw_qtbase_archive=qt6-base_6.8.2+dfsg.orig.tar.xz
qtw_qtbase_dir=qtbase-everywhere-src-6.8.2
qtw_qtserialport_archive=qtserialport-6.8.0.tar.xz
qtw_qtserialport_dir=qtserialport-6.8.0

# Where the root sees them: Qt's prefix (also where it is installed, so nothing is relocated),
# the sources (read-only) and the build directory (deleted once installed).
qtw_prefix=/opt/qt-windows
qtw_sources=/opt/qt-windows-sources
qtw_build=/opt/qt-windows-build
# Qt's toolchain file chain-loads ours from the prefix, so that the prefix stands alone.
qtw_toolchain=$qtw_prefix/toolchain/mingw-w64-x86_64.cmake

# qtbase: Core, Gui, Widgets, Test and the windows platform plugin; what the program does not use
# is off. OpenGL needs INPUT_opengl=no too (the windows plugin keeps dynamic GL otherwise); the
# tablet support needs wintab headers and the SBOM wintab's attribution file, both left out of
# Debian's tarball. The prefix and the toolchain file are added where it is configured.
qtw_qtbase_options=(
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++
    -DCMAKE_BUILD_TYPE=Release
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF
    -DFEATURE_network=OFF -DFEATURE_sql=OFF -DFEATURE_dbus=OFF -DFEATURE_concurrent=OFF
    -DFEATURE_printsupport=OFF -DFEATURE_vulkan=OFF -DFEATURE_icu=OFF -DFEATURE_jpeg=OFF
    -DFEATURE_gif=OFF -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_xml=OFF
    -DFEATURE_openssl=OFF -DFEATURE_tabletevent=OFF -DQT_GENERATE_SBOM=OFF
)
# qtserialport, configured with the prefix's qt-cmake.
qtw_qtserialport_options=(
    -DCMAKE_BUILD_TYPE=Release -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF
    -DQT_GENERATE_SBOM=OFF
)
# The root's packages a build depends on: the cross compiler, its C runtime, CMake, the host Qt.
qtw_packages=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev cmake
    qt6-base-dev qt6-base-dev-tools)
