# SPDX-License-Identifier: GPL-2.0-or-later
# zunder_add_plugin(<file> SOURCES <src>... [LIBRARIES <lib>...]
#                   [UNLISTED OUTPUT_DIRECTORY <dir> EXPORTS <symbol>...])
#
# Builds a rule-extension plug-in <file>.so the one way all plug-ins are
# built, in this tree and out of it: zunder_plugin_settings
# (ZunderPluginSettings.cmake, installed with the CMake package) gives it
# C++ without exceptions, RTTI, unwind tables or the C++ runtime, hidden
# visibility, a version script that exports only <file>_init, and a link
# against the contract alone.
#
# A plug-in joins the build's list (ZUNDER_PLUGINS: installed, checked by
# the generic tests, fuzzed, benchmarked) in the order the top-level list
# names its folder.  UNLISTED builds one that stays out of that list and the
# install (the benchmarks' baseline), in OUTPUT_DIRECTORY, with EXPORTS as
# further symbols the program that loads it calls.
set(ZUNDER_LINK_STUB_SOURCE ${PROJECT_SOURCE_DIR}/host-interface/zunder_link_stub.c)
include(${CMAKE_CURRENT_LIST_DIR}/ZunderPluginSettings.cmake)

function(zunder_add_plugin file)
  cmake_parse_arguments(PARSE_ARGV 1 PLUGIN "UNLISTED" "OUTPUT_DIRECTORY" "SOURCES;LIBRARIES;EXPORTS")
  add_library(${file} MODULE ${PLUGIN_SOURCES})
  zunder_plugin_settings(${file} LIBRARIES ${PLUGIN_LIBRARIES} EXPORTS ${PLUGIN_EXPORTS})
  target_link_libraries(${file} PRIVATE zunder_warnings)
  # Headers the plug-ins share, compiled into each (plugins/saved_word.h).
  target_include_directories(${file} PRIVATE ${PROJECT_SOURCE_DIR}/plugins)
  if(PLUGIN_UNLISTED)
    set_target_properties(${file} PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PLUGIN_OUTPUT_DIRECTORY})
    return()
  endif()
  install(TARGETS ${file} LIBRARY DESTINATION ${ZUNDER_INSTALL_PLUGINDIR} COMPONENT plugins)
  # What the generic tests allow the file to need beyond the C library and
  # the host: the soname of each library target, "lib<name>.so" (any
  # version) for each system library.
  set(needs "")
  foreach(library ${PLUGIN_LIBRARIES})
    if(TARGET ${library})
      list(APPEND needs "$<TARGET_SONAME_FILE_NAME:${library}>")
    else()
      list(APPEND needs "lib${library}.so")
    endif()
  endforeach()
  set_target_properties(${file} PROPERTIES
    ZUNDER_PLUGIN_NEEDS "${needs}"
    ZUNDER_PLUGIN_FOLDER ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY ZUNDER_PLUGINS ${file})
endfunction()

# zunder_add_plugin_folders(<folder>...): the plug-ins of the build, each in
# plugins/<folder>/, in the order given.  A listed folder that is missing, or
# that builds no plug-in, stops the configuration.
function(zunder_add_plugin_folders)
  foreach(folder ${ARGN})
    if(NOT EXISTS ${PROJECT_SOURCE_DIR}/plugins/${folder}/CMakeLists.txt)
      message(FATAL_ERROR "plug-in folder plugins/${folder} is listed but has no CMakeLists.txt")
    endif()
    get_property(before GLOBAL PROPERTY ZUNDER_PLUGINS)
    add_subdirectory(${PROJECT_SOURCE_DIR}/plugins/${folder} ${PROJECT_BINARY_DIR}/plugins/${folder})
    get_property(after GLOBAL PROPERTY ZUNDER_PLUGINS)
    if("${before}" STREQUAL "${after}")
      message(FATAL_ERROR "plugins/${folder}/CMakeLists.txt builds no plug-in (zunder_add_plugin)")
    endif()
  endforeach()
endfunction()

# zunder_add_plugin_test(<source>...): a GoogleTest program beside a plug-in,
# driving it through the real zunder command.
# A table of rule cases (tests/support/cases.cpp reads it), run as the
# test <stem>_cases.
function(zunder_add_cases table)
  if(NOT ZUNDER_TESTS)
    return()
  endif()
  get_filename_component(stem ${table} NAME_WE)
  add_test(NAME ${stem}_cases COMMAND zunder_cases ${CMAKE_CURRENT_SOURCE_DIR}/${table})
endfunction()

function(zunder_add_plugin_test first_source)
  if(NOT ZUNDER_TESTS)
    return()
  endif()
  get_filename_component(name ${first_source} NAME_WE)
  add_executable(${name} ${first_source} ${ARGN})
  target_link_libraries(${name} PRIVATE zunder_run zunder_warnings GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()
