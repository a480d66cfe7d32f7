# The updater players had before manifests could offer content-addressed
# objects and new front doors, built from this project's own history for
# the tests: whatever an operator publishes today must still serve it, since
# many players keep that updater until they reinstall.
#
# qal_add_updater_before(NAME [KEYS pem...]) adds the program NAME, built
# from QAL_UPDATER_BEFORE_COMMIT's updater and common sources with this
# build's tinyxml2 and libzstd, its settings those of qal_add_updater_program.
# Sets QAL_UPDATER_BEFORE_AVAILABLE when the history holds the commit (a
# shallow clone does not, and the tests then say so).

set(QAL_UPDATER_BEFORE_COMMIT 2e2735a223c7543e17bbb8790760a13e499ef163)
set(QAL_UPDATER_BEFORE_AVAILABLE OFF)

find_package(Git QUIET)
set(before_source ${CMAKE_BINARY_DIR}/updater-before/${QAL_UPDATER_BEFORE_COMMIT})
if(NOT EXISTS ${before_source}/updater/UpdateJob.cpp AND GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} cat-file -e ${QAL_UPDATER_BEFORE_COMMIT}^{commit}
                  RESULT_VARIABLE missing OUTPUT_QUIET ERROR_QUIET)
  if(NOT missing)
    file(MAKE_DIRECTORY ${before_source})
    execute_process(COMMAND ${GIT_EXECUTABLE} -C ${PROJECT_SOURCE_DIR} archive --format=tar
                            -o ${before_source}.tar ${QAL_UPDATER_BEFORE_COMMIT} updater common
                    RESULT_VARIABLE failed OUTPUT_QUIET ERROR_QUIET)
    if(NOT failed)
      execute_process(COMMAND ${CMAKE_COMMAND} -E tar xf ${before_source}.tar
                      WORKING_DIRECTORY ${before_source} RESULT_VARIABLE failed)
    endif()
    file(REMOVE ${before_source}.tar)
    if(failed)
      file(REMOVE_RECURSE ${before_source})
    endif()
  endif()
endif()
if(NOT EXISTS ${before_source}/updater/UpdateJob.cpp)
  message(STATUS "updater of before left out of the tests: this clone's history lacks ${QAL_UPDATER_BEFORE_COMMIT}")
  return()
endif()
set(QAL_UPDATER_BEFORE_AVAILABLE ON)

file(GLOB before_program_sources ${before_source}/updater/*.cpp ${before_source}/updater/core/*.cpp
     ${before_source}/common/core/*.cpp)
list(FILTER before_program_sources EXCLUDE REGEX "/BuildSettings\\.cpp$")
add_library(qal_updater_before_program OBJECT ${before_program_sources}
  ${before_source}/common/CngCrypto.cpp ${before_source}/common/GdiPlusBitmap.cpp)
set(before_includes ${before_source}/updater ${before_source}/updater/core ${before_source}/common
    ${before_source}/common/core)
target_include_directories(qal_updater_before_program PRIVATE ${before_includes})
target_link_libraries(qal_updater_before_program PRIVATE qal::tinyxml2 qal::zstd)
# Its own code as it was: its warnings are history's, not this build's.
target_compile_options(qal_updater_before_program PRIVATE -w)

function(qal_add_updater_before name)
  cmake_parse_arguments(U "" "" "KEYS" ${ARGN})
  set(keys_file ${CMAKE_CURRENT_BINARY_DIR}/generated/${name}_manifest_keys.inc)
  qal_write_manifest_keys(${keys_file} ${U_KEYS})
  add_executable(${name} WIN32 ${before_source}/updater/BuildSettings.cpp ${before_source}/updater/qalUpdate.rc
                 $<TARGET_OBJECTS:qal_updater_before_program>)
  target_include_directories(${name} PRIVATE ${before_includes})
  target_compile_options(${name} PRIVATE -w)
  target_compile_definitions(${name} PRIVATE QAL_DOWNLOAD_STALL_SECONDS=${QAL_DOWNLOAD_STALL_SECONDS}
    QAL_MANIFEST_TRANSFER_SECONDS=${QAL_MANIFEST_TRANSFER_SECONDS}
    "QAL_RESOURCE_BASE_URL=\"${QAL_RESOURCE_BASE_URL}\"" "QAL_MANIFEST_KEYS_FILE=\"${keys_file}\"")
  target_link_libraries(${name} PRIVATE qal::tinyxml2 qal::zstd
    gdiplus user32 gdi32 ole32 shell32 shlwapi comctl32 urlmon wininet uuid bcrypt crypt32)
endfunction()
