# The Debian package korvane-pictora, by CPack's DEB generator, of a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr (unit files and the key file name the prefix's paths):
#   cmake -S . -B build/package -G Ninja -DCMAKE_INSTALL_PREFIX=/usr -DPICTORA_TESTS=OFF -DPICTORA_BENCH=OFF
#   cmake --build build/package && (cd build/package && cpack)
add_subdirectory(packaging)

if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  return()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME korvane-pictora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
# The Debian revision: a rebuild of the same release with other packaging is 1.0.0-2.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_PACKAGE_VENDOR Korvane)
set(CPACK_PACKAGE_CONTACT "Korvane Pictora developers <pictora@korvane.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Korvane Pictora Server, its client tool and a stand-in provider")
# Lines of at most 80 characters (lintian).
set(CPACK_PACKAGE_DESCRIPTION
    "The central server of the Pictora image-serving system: service providers
register with it, clients ask it which providers run a service. It speaks
DCE/RPC on TCP port 3982 or on a local channel, and runs as the systemd
service korvane-pictora.service.")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
# The shared libraries the programs link (what dpkg-shlibdeps finds, written here so that no
# packaging tool beyond CPack is needed), and the helpers the maintainer scripts use.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "libc6 (>= 2.34), libcurl4 (>= 7.16.2), libgcc-s1 (>= 3.0), libstdc++6 (>= 12), libpugixml1v5 (>= 1.7), libsystemd0 (>= 222), libuuid1 (>= 2.16), init-system-helpers (>= 1.52)")
# The cluster store (ClusterEndpoints) on this machine.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "etcd-server")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/packaging/debian/conffiles
    ${PROJECT_SOURCE_DIR}/packaging/debian/postinst
    ${PROJECT_SOURCE_DIR}/packaging/debian/prerm
    ${PROJECT_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
