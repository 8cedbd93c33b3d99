# Install layout, the development files for out-of-tree plug-ins, man pages,
# the size table of the stripped deliverables, and the Debian package.
#
# Installed tree (relative to CMAKE_INSTALL_PREFIX):
#   bin/zunder, bin/rdconnect
#   lib/libzunder.so.10 (+ .so for linking), lib/libpavane_conntrack.so.1
#   lib/zunder/*.so                 the plug-ins (plain lib, not multiarch)
#   include/zunder.h                the host contract
#   include/zunder/plugin.h         the two plug-in helpers
#   include/pavane_conntrack.h      the label map
#   lib/pkgconfig/zunder.pc, lib/cmake/zunder/
#   share/man/man{1,7,8}/
#   etc/connlabel.conf              (/etc/connlabel.conf for prefix /usr)
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ZUNDER_INSTALL_LIBDIR lib)
set(ZUNDER_INSTALL_PLUGINDIR lib/zunder)
set(ZUNDER_INSTALL_CMAKEDIR lib/cmake/zunder)

# ---------------------------------------------------------------- headers
install(FILES ${PROJECT_SOURCE_DIR}/host-interface/zunder.h DESTINATION include)
install(FILES ${PROJECT_SOURCE_DIR}/host-interface/zunder/plugin.h DESTINATION include/zunder)

# ------------------------------------------------- CMake package config
# zunder::zunder (the host library, which brings the contract's include
# folder), zunder::contract (the header alone), zunder::pavane_conntrack.
set_target_properties(zunder_contract PROPERTIES EXPORT_NAME contract)
install(EXPORT zunderTargets NAMESPACE zunder:: DESTINATION ${ZUNDER_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/zunderConfig.cmake.in
  ${PROJECT_BINARY_DIR}/packaging/zunderConfig.cmake
  INSTALL_DESTINATION ${ZUNDER_INSTALL_CMAKEDIR}
  PATH_VARS ZUNDER_INSTALL_PLUGINDIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/packaging/zunderConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMajorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/packaging/zunderConfig.cmake
  ${PROJECT_BINARY_DIR}/packaging/zunderConfigVersion.cmake
  DESTINATION ${ZUNDER_INSTALL_CMAKEDIR})

# ------------------------------------------------------------ pkg-config
configure_file(${CMAKE_CURRENT_LIST_DIR}/zunder.pc.in
  ${PROJECT_BINARY_DIR}/packaging/zunder.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/zunder.pc
  DESTINATION ${ZUNDER_INSTALL_LIBDIR}/pkgconfig)

# ------------------------------------------------------------- man pages
set(ZUNDER_MAN_PAGES
  ${PROJECT_SOURCE_DIR}/docs/rdconnect.1
  ${PROJECT_SOURCE_DIR}/docs/zunder-clauses.7
  ${PROJECT_SOURCE_DIR}/docs/zunder.8)
foreach(page ${ZUNDER_MAN_PAGES})
  string(REGEX MATCH "[0-9]$" section ${page})
  install(FILES ${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man${section})
endforeach()

# ------------------------------------------------------------ size table
# Bytes of each plug-in and program once stripped, measured on copies so the
# build tree keeps its symbols.  Part of every cross build, where the sizes
# are those of the target machine; elsewhere `--target size_table`.
get_property(zunder_size_targets GLOBAL PROPERTY ZUNDER_PLUGINS)
list(APPEND zunder_size_targets zunder_cmd rdconnect)
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
    -DWORK_DIR=${PROJECT_BINARY_DIR}/size-table
    -DFILES=${zunder_size_files}
    -DTITLE=${CMAKE_SYSTEM_PROCESSOR}
    -P ${CMAKE_CURRENT_LIST_DIR}/SizeTable.cmake
  COMMENT "Stripped sizes"
  VERBATIM)
add_dependencies(size_table ${zunder_size_targets})

# --------------------------------------------------------- Debian package
# The package installs under the configured prefix (configure with
# -DCMAKE_INSTALL_PREFIX=/usr for a system package), through DESTDIR, so
# the label file lands where the library looks for it: /etc for /usr.
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
                 "configure with -DCMAKE_INSTALL_PREFIX=/usr for a system package")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zunder)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "zunder project")
set(CPACK_PACKAGE_CONTACT "zunder developers <zunder-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "rule-extension plug-ins for libzunder, and the rdconnect X11 client")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Five rule-clause plug-ins (policy, RATEEST, ipv6header, connlabel, ah)
for the host rule-extension library libzunder.so.10, the rule command
zunder that drives them, the connection-label map library with its sample
label file, the headers, pkg-config and CMake files for building plug-ins
out of tree, and rdconnect, which asks a remote-desktop X server to connect
out to a listening viewer.")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${ZUNDER_DEB_ARCH})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_SET_DESTDIR ON)
set(CPACK_STRIP_FILES ON)
# Dependencies from the binaries' own needs (dpkg-shlibdeps reads the
# installed multiarch packages of the target architecture too).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "netbase")  # the protocol database the plug-ins read
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The label file is the administrator's: dpkg keeps local edits.  The
# package's libraries are new to the loader's cache: refresh it.
set(zunder_label_file ${CMAKE_INSTALL_FULL_SYSCONFDIR}/connlabel.conf)
file(WRITE ${PROJECT_BINARY_DIR}/packaging/conffiles "${zunder_label_file}\n")
file(WRITE ${PROJECT_BINARY_DIR}/packaging/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
  ${PROJECT_BINARY_DIR}/packaging/conffiles
  ${PROJECT_BINARY_DIR}/packaging/triggers)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_OUTPUT_CONFIG_FILE ${PROJECT_BINARY_DIR}/CPackConfig.cmake)
include(CPack)

if(ZUNDER_TESTS)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/install ${PROJECT_BINARY_DIR}/tests/install)
endif()
