# SPDX-License-Identifier: GPL-2.0-or-later
# zunder_plugin_settings(<target> [LIBRARIES <lib>...] [EXPORTS <symbol>...])
#
# The build settings of every rule-extension plug-in, in this tree and, as
# installed beside the CMake package, out of it.  <target> is a MODULE
# library named as its file (libzu_<clause> or libqeb_<clause>).  It gets:
#
# - C++ without exceptions, RTTI, unwind tables or thread-safe statics, and
#   a link by the C driver with libgcc linked in, so that it needs no C++
#   runtime on the target;
# - hidden visibility and a version script that exports only <target>_init
#   (and EXPORTS, for a program that calls further symbols itself);
# - the contract's headers, and a link against a link-only libzunder.so.10
#   made from them (zunder_link_stub.c): the file needs libzunder.so.10 and
#   the contract's names, with no symbol version, so that any host library
#   of that soname can load it; with -z defs a call to anything else of the
#   host stops the link;
# - ZUNDER_BUILDING_PLUGIN defined, which the host library's C++ interface
#   refuses, and a refusal of the host library itself among LIBRARIES;
# - a RUNPATH that finds the libraries beside it and one folder up, where
#   they lie when it is installed in <libdir>/zunder.
#
# Needs the C language enabled (the stub is C, and the C driver links) and
# a target zunder::contract, the contract's headers.
set_property(GLOBAL PROPERTY ZUNDER_LINK_STUB_SOURCE ${ZUNDER_LINK_STUB_SOURCE})

function(zunder_plugin_settings target)
  cmake_parse_arguments(PARSE_ARGV 1 PLUGIN "" "" "LIBRARIES;EXPORTS")
  if(NOT CMAKE_C_COMPILER_LOADED)
    message(FATAL_ERROR "plug-in ${target}: enable the C language (project(... LANGUAGES C CXX)); "
                        "plug-ins are linked by the C driver so that they need no C++ runtime")
  endif()
  foreach(library ${PLUGIN_LIBRARIES})
    if(library MATCHES "^(zunder_host|zunder::zunder)$")
      message(FATAL_ERROR "plug-in ${target} links ${library}, the host library: "
                          "a plug-in sees the host only through the contract <zunder.h>")
    endif()
  endforeach()

  # One link-only libzunder.so.10 for every plug-in of the project, in a
  # folder of its own so that nothing finds it at run time.
  if(NOT TARGET zunder_link_stub)
    get_property(stub_source GLOBAL PROPERTY ZUNDER_LINK_STUB_SOURCE)
    add_library(zunder_link_stub SHARED ${stub_source})
    set_target_properties(zunder_link_stub PROPERTIES
      OUTPUT_NAME zunder
      SOVERSION 10
      LINKER_LANGUAGE C
      LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/zunder-link-stub)
    target_link_libraries(zunder_link_stub PRIVATE zunder::contract)
  endif()

  set(exports "${target}_init;")
  foreach(symbol ${PLUGIN_EXPORTS})
    string(APPEND exports " ${symbol};")
  endforeach()
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${target}.map)
  file(CONFIGURE OUTPUT ${map} CONTENT "{\n  global: ${exports}\n  local: *;\n};\n" @ONLY)

  set_target_properties(${target} PROPERTIES
    PREFIX ""
    LINKER_LANGUAGE C
    CXX_VISIBILITY_PRESET hidden
    C_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${map}
    # One RUNPATH for the build tree and the install, so none is padded for
    # rewriting at install time: padding leaves empty entries, which the
    # loader reads as the current folder.
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN;$ORIGIN/..")
  target_compile_definitions(${target} PRIVATE ZUNDER_BUILDING_PLUGIN)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti -fno-threadsafe-statics>
    -fno-unwind-tables -fno-asynchronous-unwind-tables)
  target_link_options(${target} PRIVATE
    -Wl,--version-script=${map} -Wl,-z,defs -Wl,--as-needed -static-libgcc)
  target_link_libraries(${target} PRIVATE zunder::contract zunder_link_stub ${PLUGIN_LIBRARIES})
endfunction()
