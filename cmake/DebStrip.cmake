# SPDX-License-Identifier: GPL-2.0-or-later
# Run by cpack once the files of a package are installed in its staging
# folder: strips every ELF file there as Debian's packaging does, removing
# the sections that only record the tools (.comment, .note), beyond what
# CPack's own strip (CPACK_STRIP_FILES) removes.
file(GLOB_RECURSE zunder_staged_files LIST_DIRECTORIES false "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
foreach(file ${zunder_staged_files})
  if(IS_SYMLINK "${file}")
    continue()
  endif()
  file(READ "${file}" magic LIMIT 4 HEX)
  if(NOT magic STREQUAL "7f454c46")
    continue()
  endif()
  execute_process(COMMAND ${CPACK_ZUNDER_STRIP} ${CPACK_ZUNDER_STRIP_OPTIONS} "${file}"
    RESULT_VARIABLE status ERROR_VARIABLE errors)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${CPACK_ZUNDER_STRIP} ${file}: ${errors}")
  endif()
endforeach()
