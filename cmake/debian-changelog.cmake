# Writes the Debian changelog of a native package: one entry for VERSION that
# lists the subjects of the commits in SOURCE_DIR's history, dated by the last
# commit. Without that history (no git, an unpacked archive, a repository that
# git refuses) the entry says only the version and is dated now, or
# SOURCE_DATE_EPOCH when set.
# Usage: include() it and call clipfile_debian_changelog(), or
#   cmake -DOUTPUT=... -DSOURCE_DIR=... -DPACKAGE=... -DVERSION=... \
#         -DMAINTAINER=... [-DGIT=git] -P debian-changelog.cmake
cmake_minimum_required(VERSION 3.25)

function(clipfile_debian_changelog output source_dir package version maintainer git)
  # Day and month names in English, whatever the user's locale.
  set(ENV{LC_ALL} C)
  set(entries "")
  set(date "")
  execute_process(COMMAND "${git}" -C "${source_dir}" rev-parse --show-toplevel
    OUTPUT_VARIABLE top OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status ERROR_QUIET)
  # A source tree unpacked inside some other repository must not take its history.
  file(REAL_PATH "${source_dir}" source_dir)
  if(status EQUAL 0 AND EXISTS "${top}")
    file(REAL_PATH "${top}" top)
  endif()
  if(status EQUAL 0 AND top STREQUAL source_dir)
    execute_process(COMMAND "${git}" -C "${source_dir}" log --no-merges
      "--format=tformat:%w(78,2,4)* %s"
      OUTPUT_VARIABLE entries RESULT_VARIABLE status ERROR_QUIET)
    execute_process(COMMAND "${git}" -C "${source_dir}" log -1
      "--date=format:%a, %d %b %Y %H:%M:%S %z" --format=%cd
      OUTPUT_VARIABLE date OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE date_status ERROR_QUIET)
    if(NOT status EQUAL 0 OR NOT date_status EQUAL 0)
      set(entries "")
    endif()
  endif()
  if(entries STREQUAL "" OR date STREQUAL "")
    set(entries "  * Release ${version}.\n")
    string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)
  endif()
  file(WRITE "${output}"
    "${package} (${version}) unstable; urgency=medium\n\n"
    "${entries}\n"
    " -- ${maintainer}  ${date}\n")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  if(NOT DEFINED GIT)
    set(GIT git)
  endif()
  clipfile_debian_changelog("${OUTPUT}" "${SOURCE_DIR}" "${PACKAGE}" "${VERSION}"
    "${MAINTAINER}" "${GIT}")
endif()
