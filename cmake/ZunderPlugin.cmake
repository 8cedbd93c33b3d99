# zunder_add_plugin(<file> SOURCES <src>... [LIBRARIES <lib>...])
#
# Builds a rule-extension plug-in <file>.so the one way all plug-ins are
# built: C++ without exceptions, RTTI, unwind tables or the C++ runtime,
# hidden visibility, and a version script that exports only <file>_init.
# Linked by the C driver so that no libstdc++ or libgcc_s is needed.
set(ZUNDER_PLUGIN_MAP_IN ${CMAKE_CURRENT_LIST_DIR}/plugin.map.in)

function(zunder_add_plugin file)
  cmake_parse_arguments(PARSE_ARGV 1 PLUGIN "" "" "SOURCES;LIBRARIES")
  set(PLUGIN_FILE ${file})
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${file}.map)
  configure_file(${ZUNDER_PLUGIN_MAP_IN} ${map} @ONLY)

  add_library(${file} MODULE ${PLUGIN_SOURCES})
  set_target_properties(${file} PROPERTIES
    PREFIX ""
    LINKER_LANGUAGE C
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${map}
    # The libraries a plug-in needs lie beside it in the build tree (lib) and
    # one folder up once installed (<libdir>/zunder).  One RUNPATH serves both,
    # so none is padded for rewriting at install time: padding leaves empty
    # entries, which the loader reads as the current folder.
    BUILD_WITH_INSTALL_RPATH ON
    INSTALL_RPATH "$ORIGIN;$ORIGIN/..")
  target_compile_options(${file} PRIVATE
    -fno-exceptions -fno-rtti -fno-unwind-tables -fno-asynchronous-unwind-tables
    -fno-threadsafe-statics)
  target_link_options(${file} PRIVATE
    -Wl,--version-script=${map} -Wl,-z,defs -Wl,--as-needed -static-libgcc)
  target_include_directories(${file} PRIVATE ${PROJECT_SOURCE_DIR}/plugins)
  target_link_libraries(${file} PRIVATE zunder_contract zunder_warnings zunder ${PLUGIN_LIBRARIES})
  install(TARGETS ${file} LIBRARY DESTINATION ${ZUNDER_INSTALL_PLUGINDIR} COMPONENT plugins)
  set_property(GLOBAL APPEND PROPERTY ZUNDER_PLUGINS ${file})
endfunction()

# zunder_add_plugin_test(<source>...): a GoogleTest program beside a plug-in,
# driving it through the real zunder command.
function(zunder_add_plugin_test first_source)
  if(NOT ZUNDER_TESTS)
    return()
  endif()
  get_filename_component(name ${first_source} NAME_WE)
  add_executable(${name} ${first_source} ${ARGN})
  target_link_libraries(${name} PRIVATE zunder_test_support zunder_warnings GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()
