# Debian packages through CPack, one per install component:
#   runtime  libqxscsi<SOVERSION>  the shared libraries (core, companions, back-ends)
#   dev      libqxscsi-dev         headers, CMake package, pkg-config file, namelinks
#   tools    qxscsi-tools          the qxscsi program (only when it is built)
# `cpack -G DEB` in a build tree (scripts/package.sh) writes them; they install under /usr.
# Each component's description: its first line is the package's synopsis.

set(CPACK_PACKAGE_NAME qxscsi)
set(CPACK_PACKAGE_VENDOR "qxscsi developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
# Stripped like any Debian binary package; the dynamic symbol tables stay.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)

set(QXSCSI_PACKAGE_COMPONENTS runtime dev)
if(TARGET qxscsi_cli)
  list(APPEND QXSCSI_PACKAGE_COMPONENTS tools)
endif()
set(CPACK_COMPONENTS_ALL ${QXSCSI_PACKAGE_COMPONENTS})

set(CPACK_DEBIAN_PACKAGE_MAINTAINER "qxscsi developers <maintainers@users.noreply.c-seed-c32dbca9.example>")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libqxscsi${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_RUNTIME_DESCRIPTION "SCSI pass-through library - shared libraries
Builds SCSI commands, opens targets by device name and decodes sense data and
data pages. The package holds the core library, its pattern and platform
companions and the target back-ends (emulated devices, iSCSI, Linux SG_IO).")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqxscsi-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DESCRIPTION "SCSI pass-through library - development files
Headers, the CMake package (find_package(QxScsi)) and the pkg-config file
(qxscsi) for programs that use the SCSI pass-through library.")
set(CPACK_COMPONENT_DEV_DEPENDS runtime)

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME qxscsi-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_TOOLS_DESCRIPTION "SCSI pass-through library - command-line program
The qxscsi program sends SCSI commands (INQUIRY, TEST UNIT READY, REQUEST SENSE,
REPORT LUNS, any CDB) to disks, tapes and medium changers and lists devices.")
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)

# Package dependencies between our own packages carry the exact version (the libraries have no
# stable ABI between releases yet); those on system libraries (libiscsi, sg3_utils, libstdc++)
# come from dpkg-shlibdeps. Our own libraries are not installed on the build machine:
# dpkg-shlibdeps finds them in the build tree.
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "")
get_property(qxscsi_backend_names GLOBAL PROPERTY QXSCSI_BACKEND_NAMES)
set(qxscsi_libraries qxscsi QxPattern QxScsiPlatformUtil qxscsi_backends)
foreach(name ${qxscsi_backend_names})
  list(APPEND qxscsi_libraries qxscsi_${name})
endforeach()
foreach(library ${qxscsi_libraries})
  if(TARGET ${library})
    get_target_property(dir ${library} BINARY_DIR)
    list(APPEND CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${dir})
  endif()
endforeach()
list(REMOVE_DUPLICATES CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS)

include(CPack)
