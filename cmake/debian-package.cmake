# Run by CPack (CPACK_PRE_BUILD_SCRIPTS) on the staged files before it packs
# them. A .deb gets the documents Debian's policy asks for: the copyright file
# (machine-readable, the licence from LICENSE, which it then replaces), the
# changelog and the manual page compressed reproducibly, and an executable
# without the compilers' .comment notes. Other packages keep the plain files.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
  return()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/debian-changelog.cmake")

set(root "${CPACK_TEMPORARY_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")
set(mode PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

# gzip -9n: no name or time stamp in the header, so the same input packs the same.
function(compress file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${file}: ${status}")
  endif()
endfunction()

file(READ "${CPACK_CLIPFILE_SOURCE_DIR}/LICENSE" licence)
if(NOT licence MATCHES "^MIT License\n\nCopyright \\(c\\) ([^\n]+)\n\n(.+[^\n])\n*$")
  message(FATAL_ERROR "LICENSE is not the MIT licence with one copyright line")
endif()
set(holders "${CMAKE_MATCH_1}")
# A continuation line per licence line; an empty line is written as " .".
string(REPLACE "\n" "\n " text "${CMAKE_MATCH_2}")
string(REPLACE "\n \n" "\n .\n" text "${text}")
string(REPLACE "\n \n" "\n .\n" text "${text}")
file(WRITE "${doc}/copyright"
  "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
  "Upstream-Name: ${CPACK_PACKAGE_NAME}\n"
  "Upstream-Contact: ${CPACK_PACKAGE_CONTACT}\n\n"
  "Files: *\n"
  "Copyright: ${holders}\n"
  "License: Expat\n"
  " ${text}\n")
file(CHMOD "${doc}/copyright" ${mode})
file(REMOVE "${doc}/LICENSE")

clipfile_debian_changelog("${doc}/changelog" "${CPACK_CLIPFILE_SOURCE_DIR}"
  "${CPACK_PACKAGE_NAME}" "${CPACK_PACKAGE_VERSION}" "${CPACK_PACKAGE_CONTACT}" git)
file(CHMOD "${doc}/changelog" ${mode})
compress("${doc}/changelog")

file(GLOB pages "${root}/share/man/man*/*.[1-9]")
foreach(page IN LISTS pages)
  compress("${page}")
endforeach()

execute_process(COMMAND "${CPACK_CLIPFILE_STRIP}" --remove-section=.comment
  "${root}/bin/${CPACK_PACKAGE_NAME}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "strip ${root}/bin/${CPACK_PACKAGE_NAME}: ${status}")
endif()
