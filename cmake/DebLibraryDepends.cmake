# SPDX-License-Identifier: GPL-2.0-or-later
# Read by cpack before it builds packages: the Depends of the stand-in
# library packages, from dpkg-shlibdeps run on the built libraries, and
# their symbols control files, from dpkg-gensymbols run on the built
# libraries with the list in cmake/debian/<package>.symbols (patterns
# expanded; a listed symbol the library lacks stops it).  Their packages
# skip CPack's own dpkg-shlibdeps step, which would also give them a
# postinst and postrm calling ldconfig; they refresh the loader's cache by
# trigger instead.  The stand-in command's Depends come from dpkg-shlibdeps
# too, with the stand-in host library pinned to this version: the command
# calls its private interface, which only the stand-in has.
cmake_policy(SET CMP0057 NEW)
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
include(${CPACK_ZUNDER_LIBRARY_FILES})
foreach(component STANDIN_HOST STANDIN_LABELMAP STANDIN_COMMAND)
  string(TOLOWER ${component} name)
  if(NOT name IN_LIST CPACK_COMPONENTS_ALL)
    continue()
  endif()
  # dpkg-shlibdeps wants a debian/control in its working folder.
  file(REMOVE_RECURSE ${CPACK_ZUNDER_WORK_DIR})
  file(WRITE ${CPACK_ZUNDER_WORK_DIR}/debian/control "")
  execute_process(
    COMMAND dpkg-shlibdeps -O -l${CPACK_ZUNDER_SHLIBS_DIR} ${zunder_library_${component}}
    WORKING_DIRECTORY ${CPACK_ZUNDER_WORK_DIR}
    OUTPUT_VARIABLE depends
    ERROR_VARIABLE errors
    RESULT_VARIABLE status
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT status EQUAL 0 OR NOT depends MATCHES "^shlibs:Depends=")
    message(FATAL_ERROR "dpkg-shlibdeps ${zunder_library_${component}}: ${errors}")
  endif()
  string(REGEX REPLACE "^shlibs:Depends=" "" depends "${depends}")
  if(component STREQUAL "STANDIN_COMMAND")
    string(REGEX REPLACE "(^|, )libzunder10(,|$)" "\\1libzunder10 (= ${CPACK_DEBIAN_PACKAGE_VERSION})\\2"
      pinned "${depends}")
    if(pinned STREQUAL depends)
      message(FATAL_ERROR "dpkg-shlibdeps ${zunder_library_${component}}: no libzunder10 in ${depends}")
    endif()
    set(CPACK_DEBIAN_${component}_PACKAGE_DEPENDS "${pinned}")
    continue()
  endif()
  set(CPACK_DEBIAN_${component}_PACKAGE_DEPENDS "${depends}")

  set(package ${CPACK_DEBIAN_${component}_PACKAGE_NAME})
  execute_process(
    COMMAND dpkg-gensymbols -p${package} -v${CPACK_DEBIAN_PACKAGE_VERSION}
      -a${CPACK_DEBIAN_PACKAGE_ARCHITECTURE} -e${zunder_library_${component}}
      -I${CPACK_ZUNDER_SYMBOLS_DIR}/${package}.symbols -O${CPACK_ZUNDER_CONTROL_DIR}/${name}/symbols
    WORKING_DIRECTORY ${CPACK_ZUNDER_WORK_DIR}
    INPUT_FILE /dev/null
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors
    RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "dpkg-gensymbols ${zunder_library_${component}}: ${output}${errors}")
  endif()
endforeach()
file(REMOVE_RECURSE ${CPACK_ZUNDER_WORK_DIR})
