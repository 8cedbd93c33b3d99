# SPDX-License-Identifier: GPL-2.0-or-later
# Install layout, the development files for out-of-tree plug-ins, man pages,
# the size table of the stripped deliverables, and the Debian packages.
#
# Installed tree (relative to CMAKE_INSTALL_PREFIX; <libdir> is
# lib/arm-linux-gnueabihf for the armhf /usr build, lib elsewhere), by
# install component:
#   plugins           <libdir>/zunder/*.so, man7/zunder-clauses.7.gz
#   rdconnect         bin/rdconnect, man1/rdconnect.1.gz
#   dev               include/zunder.h, include/zunder/plugin.h,
#                     include/pavane_conntrack.h, <libdir>/pkgconfig/zunder.pc,
#                     <libdir>/cmake/zunder/, <libdir>/lib*.so links
#   standin_host      <libdir>/libzunder.so.10
#   standin_labelmap  <libdir>/libpavane_conntrack.so.1
#   standin_command   bin/zunder, etc/connlabel.conf (/etc for prefix /usr),
#                     man8/zunder.8.gz
# and share/doc/<package>/{copyright,changelog.gz} for each package.
include(CMakePackageConfigHelpers)

set(ZUNDER_INSTALL_LIBDIR ${CMAKE_INSTALL_LIBDIR})
set(ZUNDER_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/zunder)

# ---------------------------------------------------------------- headers
install(FILES ${PROJECT_SOURCE_DIR}/host-interface/zunder.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/host-interface/zunder/plugin.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zunder COMPONENT dev)

# ------------------------------------------------- CMake package config
# find_package(zunder): zunder_add_plugin, which builds a plug-in with the
# settings of this tree's own (ZunderPluginSettings.cmake and the contract's
# link stub, installed beside it), zunder_PLUGIN_DIR, and the targets
# zunder::contract, zunder::pavane_conntrack and zunder::zunder, written in
# the configuration file: they name the development links, which the
# platform's libraries serve as well as the stand-ins, and nothing is
# checked for at find time, so that zunder-dev alone serves a plug-in build.
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zunderConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/zunderConfig.cmake
  INSTALL_DESTINATION ${ZUNDER_INSTALL_CMAKEDIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/zunderConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/packaging/zunderConfig.cmake
  ${PROJECT_BINARY_DIR}/packaging/zunderConfigVersion.cmake
  ${CMAKE_CURRENT_LIST_DIR}/ZunderPluginSettings.cmake
  ${PROJECT_SOURCE_DIR}/host-interface/zunder_link_stub.c
  DESTINATION ${ZUNDER_INSTALL_CMAKEDIR} COMPONENT dev)

# ------------------------------------------------------------ pkg-config
configure_file(${CMAKE_CURRENT_LIST_DIR}/zunder.pc.in
  ${PROJECT_BINARY_DIR}/packaging/zunder.pc @ONLY)
# Under <libdir>, where pkg-config for the target architecture looks.
install(FILES ${PROJECT_BINARY_DIR}/packaging/zunder.pc
  DESTINATION ${ZUNDER_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)

# ------------------------------------------------------------- man pages
# Installed compressed (gzip -9n: the same bytes on every build).
set(ZUNDER_MAN_PAGES
  ${PROJECT_SOURCE_DIR}/docs/rdconnect.1
  ${PROJECT_SOURCE_DIR}/docs/zunder-clauses.7
  ${PROJECT_SOURCE_DIR}/docs/zunder.8)
set(zunder_man_component_rdconnect.1 rdconnect)
set(zunder_man_component_zunder-clauses.7 plugins)
set(zunder_man_component_zunder.8 standin_command)
set(zunder_compressed_pages "")
foreach(page ${ZUNDER_MAN_PAGES})
  get_filename_component(name ${page} NAME)
  string(REGEX MATCH "[0-9]$" section ${name})
  set(compressed ${PROJECT_BINARY_DIR}/packaging/man/${name}.gz)
  add_custom_command(OUTPUT ${compressed}
    COMMAND gzip -9nc ${page} > ${compressed}
    DEPENDS ${page}
    COMMENT "Compressing ${name}")
  list(APPEND zunder_compressed_pages ${compressed})
  install(FILES ${compressed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section}
    COMPONENT ${zunder_man_component_${name}})
endforeach()
file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/packaging/man)
add_custom_target(man_pages ALL DEPENDS ${zunder_compressed_pages})

# ------------------------------------------------------------ size table
# Stripped as Debian strips: symbols, and the sections that only record the
# tools.  The packages' files are stripped so too.
set(ZUNDER_STRIP_OPTIONS --remove-section=.comment --remove-section=.note)

# Bytes of each plug-in and program once stripped, measured on copies so the
# build tree keeps its symbols.  Part of every cross build, where the sizes
# are those of the target machine; elsewhere `--target size_table`.
get_property(zunder_size_targets GLOBAL PROPERTY ZUNDER_PLUGINS)
list(APPEND zunder_size_targets zunder rdconnect)
set(zunder_size_files "")
foreach(target ${zunder_size_targets})
  list(APPEND zunder_size_files "$<TARGET_FILE:${target}>")
endforeach()
list(JOIN zunder_size_files "|" zunder_size_files)
if(CMAKE_CROSSCOMPILING)
  set(zunder_size_all ALL)
else()
  set(zunder_size_all "")
endif()
add_custom_target(size_table ${zunder_size_all}
  COMMAND ${CMAKE_COMMAND}
    -DSTRIP=${CMAKE_STRIP}
    "-DSTRIP_OPTIONS=${ZUNDER_STRIP_OPTIONS}"
    -DWORK_DIR=${PROJECT_BINARY_DIR}/size-table
    -DFILES=${zunder_size_files}
    -DTITLE=${CMAKE_SYSTEM_PROCESSOR}
    -P ${CMAKE_CURRENT_LIST_DIR}/SizeTable.cmake
  COMMENT "Stripped sizes"
  VERBATIM)
add_dependencies(size_table ${zunder_size_targets})

# -------------------------------------------------------- Debian packages
# One package per role, so a machine gets only what it lacks:
#   zunder-plugins        the plug-ins (and zunder-clauses(7))
#   rdconnect             the X11 client
#   zunder-dev            headers, pkg-config and CMake files, .so links
#   libzunder10           stand-in host library      } for machines without
#   libpavane-conntrack1  stand-in label-map library } the platform
#   zunder                stand-in rule command, sample label file, zunder(8)
# The stand-ins carry the names the platform's own packages have (those the
# library packages must have, after their sonames), so the plug-ins' soname
# dependencies are met by either.  Their version, ZUNDER_STANDIN_VERSION,
# sorts below every release ("0~..."): a platform package always wins, is
# never replaced by a stand-in unasked (apt calls that a downgrade), and
# upgrades a stand-in away when it comes.  Since CPack has one version per
# run, the stand-ins have their own configuration, CPackStandinsConfig.cmake;
# `--target debs` makes both sets.
#
# Configure with -DCMAKE_INSTALL_PREFIX=/usr for system packages.
if(CMAKE_LIBRARY_ARCHITECTURE)
  execute_process(
    COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
    OUTPUT_VARIABLE ZUNDER_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
endif()
if(NOT ZUNDER_DEB_ARCH)
  execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE ZUNDER_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Package prefix is ${CMAKE_INSTALL_PREFIX}; "
                 "configure with -DCMAKE_INSTALL_PREFIX=/usr for system packages")
endif()
set(ZUNDER_STANDIN_VERSION "0~standin${PROJECT_VERSION}")

set(zunder_product_components plugins rdconnect dev)
set(zunder_standin_components standin_host standin_labelmap standin_command)
set(zunder_package_plugins zunder-plugins)
set(zunder_package_rdconnect rdconnect)
set(zunder_package_dev zunder-dev)
set(zunder_package_standin_host libzunder10)
set(zunder_package_standin_labelmap libpavane-conntrack1)
set(zunder_package_standin_command zunder)

set(zunder_deb ${PROJECT_BINARY_DIR}/packaging/deb)

# Each package's copyright file and changelog (Debian's format, compressed;
# the entry's version is the package's).
foreach(set product standin)
  if(set STREQUAL "product")
    set(ZUNDER_DEB_CHANGELOG_VERSION ${PROJECT_VERSION})
  else()
    set(ZUNDER_DEB_CHANGELOG_VERSION ${ZUNDER_STANDIN_VERSION})
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${zunder_deb}/${set}/changelog @ONLY)
  add_custom_command(OUTPUT ${zunder_deb}/${set}/changelog.gz
    COMMAND gzip -9nc ${zunder_deb}/${set}/changelog > ${zunder_deb}/${set}/changelog.gz
    DEPENDS ${zunder_deb}/${set}/changelog
    COMMENT "Compressing the ${set} changelog")
  list(APPEND zunder_changelogs ${zunder_deb}/${set}/changelog.gz)
  foreach(component ${zunder_${set}_components})
    install(FILES ${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${zunder_deb}/${set}/changelog.gz
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${zunder_package_${component}}
      COMPONENT ${component})
  endforeach()
endforeach()
add_custom_target(deb_changelogs ALL DEPENDS ${zunder_changelogs})

# The stand-in libraries' shlibs entries name the package, not a version:
# the platform's package of that name serves as well.
set(zunder_shlibs_host "libzunder 10 libzunder10\n")
set(zunder_shlibs_labelmap "libpavane_conntrack 1 libpavane-conntrack1\n")
file(WRITE ${zunder_deb}/standin_host/shlibs "${zunder_shlibs_host}")
file(WRITE ${zunder_deb}/standin_labelmap/shlibs "${zunder_shlibs_labelmap}")
# Their packages refresh the loader's cache by trigger, not by script.
foreach(component standin_host standin_labelmap)
  file(WRITE ${zunder_deb}/${component}/triggers "activate-noawait ldconfig\n")
endforeach()
# dpkg-shlibdeps finds the built libraries through a package build tree of
# its own (a DEBIAN folder with both shlibs entries beside a link to the
# build's lib folder), so the plug-ins and zunder depend on the packages
# named there.
set(zunder_shlibs_root ${zunder_deb}/shlibs-root)
file(WRITE ${zunder_shlibs_root}/DEBIAN/shlibs "${zunder_shlibs_host}${zunder_shlibs_labelmap}")
file(CREATE_LINK ${CMAKE_LIBRARY_OUTPUT_DIRECTORY} ${zunder_shlibs_root}/lib SYMBOLIC)
# The label file is the administrator's: dpkg keeps local edits.
file(WRITE ${zunder_deb}/standin_command/conffiles "${CMAKE_INSTALL_FULL_SYSCONFDIR}/connlabel.conf\n")

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING IGNORE)
set(CPACK_COMPONENTS_ALL ${zunder_product_components})
set(CPACK_PACKAGE_NAME zunder)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zunder project")
set(CPACK_PACKAGE_CONTACT "zunder developers <zunder-dev@example.org>")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ZUNDER_DEB_ARCH})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
set(CPACK_ZUNDER_STRIP ${CMAKE_STRIP})
set(CPACK_ZUNDER_STRIP_OPTIONS ${ZUNDER_STRIP_OPTIONS})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/DebStrip.cmake)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${zunder_shlibs_root}/lib)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

foreach(component ${zunder_product_components} ${zunder_standin_components})
  string(TOUPPER ${component} c)
  set(CPACK_DEBIAN_${c}_PACKAGE_NAME ${zunder_package_${component}})
  set(CPACK_DEBIAN_${c}_FILE_NAME DEB-DEFAULT)
endforeach()

set(CPACK_DEBIAN_PLUGINS_PACKAGE_SECTION net)
# The plug-ins name protocols through the system's protocol database.
set(CPACK_DEBIAN_PLUGINS_PACKAGE_DEPENDS netbase)
set(CPACK_DEBIAN_PLUGINS_DESCRIPTION "rule-clause plug-ins for the libzunder host library
Five plug-ins that teach the host rule-extension library libzunder.so.10
one packet-filter rule clause each: the IPsec policy match (policy), the
rate-estimator target (RATEEST), the IPv6 extension-header match
(ipv6header), the connection-label match (connlabel) and the IPv6
Authentication Header match (ah).  The host library and the label-map
library come from the platform, or from the stand-in packages libzunder10
and libpavane-conntrack1.")

set(CPACK_DEBIAN_RDCONNECT_PACKAGE_SECTION x11)
set(CPACK_DEBIAN_RDCONNECT_DESCRIPTION "asks a remote-desktop X server to connect to a viewer
rdconnect writes the connect request of a remote-desktop X server (the
root-window property TARVIK_CONNECT) on a display, so that the server
opens an outgoing connection to a viewer listening on a given host and
port.")

set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "libzunder10, libpavane-conntrack1")
set(CPACK_DEBIAN_DEV_DESCRIPTION "development files for libzunder rule-clause plug-ins
The host contract (zunder.h), the plug-in helpers (zunder/plugin.h), the
label-map interface (pavane_conntrack.h), a pkg-config file and a CMake
package (find_package(zunder)) for building plug-ins out of tree, and the
links for linking against libzunder and libpavane_conntrack.")

set(CPACK_DEBIAN_STANDIN_HOST_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_STANDIN_HOST_PACKAGE_CONTROL_EXTRA
  ${zunder_deb}/standin_host/shlibs ${zunder_deb}/standin_host/symbols ${zunder_deb}/standin_host/triggers)
set(CPACK_DEBIAN_STANDIN_HOST_DESCRIPTION "host rule-extension library (stand-in)
A small working stand-in for the platform's libzunder.so.10, for machines
without the platform: plug-in loading and registration, generic option
parsing and the address-to-text helpers.  Its version sorts below every
platform release, so the platform's library always takes its place.")

set(CPACK_DEBIAN_STANDIN_LABELMAP_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_STANDIN_LABELMAP_PACKAGE_CONTROL_EXTRA
  ${zunder_deb}/standin_labelmap/shlibs ${zunder_deb}/standin_labelmap/symbols
  ${zunder_deb}/standin_labelmap/triggers)
set(CPACK_DEBIAN_STANDIN_LABELMAP_DESCRIPTION "connection-label map library (stand-in)
A small working stand-in for the platform's libpavane_conntrack.so.1, for
machines without the platform: connection-tracking label names to bit
numbers and back, read from a label file.  Its version sorts below every
platform release, so the platform's library always takes its place.")

set(CPACK_DEBIAN_STANDIN_COMMAND_PACKAGE_SECTION net)
set(CPACK_DEBIAN_STANDIN_COMMAND_PACKAGE_CONTROL_EXTRA ${zunder_deb}/standin_command/conffiles)
set(CPACK_DEBIAN_STANDIN_COMMAND_DESCRIPTION "rule command driving libzunder plug-ins (stand-in)
A stand-in for the platform's rule command, for machines without the
platform: zunder parses one rule clause through its plug-in and writes the
info block, the listing and the saved options, as a rule command would
send and read them back.  With a sample label file for the
connection-label match.")

# CPack's dpkg-shlibdeps step would also add a postinst and postrm calling
# ldconfig to the library packages; cpack-time code gives them their
# dependencies instead (see DebLibraryDepends.cmake).  It does so for the
# stand-in command too, whose dependency on the stand-in host library is
# on its exact version: the command uses the library's private C++
# interface, which a platform libzunder10 does not have.
set(CPACK_DEBIAN_STANDIN_HOST_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_STANDIN_LABELMAP_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_STANDIN_COMMAND_PACKAGE_SHLIBDEPS OFF)
file(GENERATE OUTPUT ${zunder_deb}/library-files.cmake CONTENT
"set(zunder_library_STANDIN_HOST \"$<TARGET_FILE:zunder_host>\")
set(zunder_library_STANDIN_LABELMAP \"$<TARGET_FILE:pavane_conntrack>\")
set(zunder_library_STANDIN_COMMAND \"$<TARGET_FILE:zunder>\")
")
set(CPACK_ZUNDER_LIBRARY_FILES ${zunder_deb}/library-files.cmake)
set(CPACK_ZUNDER_SHLIBS_DIR ${zunder_shlibs_root}/lib)
set(CPACK_ZUNDER_WORK_DIR ${zunder_deb}/shlibdeps)
set(CPACK_ZUNDER_SYMBOLS_DIR ${CMAKE_CURRENT_LIST_DIR}/debian)
set(CPACK_ZUNDER_CONTROL_DIR ${zunder_deb})
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/DebLibraryDepends.cmake)

set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_OUTPUT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackConfig.cmake)
include(CPack)

file(WRITE ${PROJECT_BINARY_DIR}/CPackStandinsConfig.cmake
"# The stand-in packages: the project's configuration with their components
# and version.
include(\${CMAKE_CURRENT_LIST_DIR}/CPackConfig.cmake)
set(CPACK_COMPONENTS_ALL ${zunder_standin_components})
set(CPACK_DEBIAN_PACKAGE_VERSION ${ZUNDER_STANDIN_VERSION})
")
add_custom_target(debs
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackConfig.cmake
  COMMAND ${CMAKE_CPACK_COMMAND} --config ${PROJECT_BINARY_DIR}/CPackStandinsConfig.cmake
  WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
  COMMENT "Debian packages in ${PROJECT_BINARY_DIR}/packages"
  VERBATIM)

if(ZUNDER_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()
