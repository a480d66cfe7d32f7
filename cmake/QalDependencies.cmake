# Third-party libraries, always installed, never copied into the repository:
#   qal::tinyxml2      the XML reader of the updater
#   qal::zstd          libzstd, for binary patches (made by qalManifest,
#                      applied by the updater)
#   qal::gtest         GoogleTest without main, qal::gtest_main with it
# Natively all come from Debian's -dev packages. The Windows builds compile
# Debian's sources with the cross compiler, statically: tinyxml2 and libzstd
# from their source packages (unpacked into the build tree), GoogleTest from
# /usr/src/googletest. A Windows developer can point at an installed
# tinyxml2 and zstd instead (-DQAL_SYSTEM_TINYXML2=ON, -DQAL_SYSTEM_ZSTD=ON
# with CMAKE_PREFIX_PATH, e.g. from vcpkg) and at a GoogleTest source tree
# with -DQAL_GTEST_SOURCE_DIR.

# Unless the cache variable VAR already names a source tree, unpacks Debian's
# source package PACKAGE into the build tree (MARKER proves it whole) and
# sets VAR to it.
function(qal_debian_source package marker var)
  if(${var})
    return()
  endif()
  execute_process(
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-debian-source.sh ${package} ${CMAKE_BINARY_DIR}/_deps/${package} ${marker}
    OUTPUT_VARIABLE dir OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Could not unpack Debian's ${package} source package (run scripts/setup-debian.sh as root first)")
  endif()
  set(${var} ${dir} CACHE PATH "" FORCE)
endfunction()

option(QAL_SYSTEM_TINYXML2 "Use an installed tinyxml2 (find_package) instead of building its source" OFF)
set(QAL_TINYXML2_SOURCE_DIR "" CACHE PATH "tinyxml2 source tree to build (default: Debian's source package, unpacked into the build tree)")
set(QAL_GTEST_SOURCE_DIR "/usr/src/googletest" CACHE PATH "GoogleTest source tree for builds without an installed GoogleTest")
option(QAL_BUILD_TESTS "Build the tests" ON)

# The fuzzing build compiles the source too, so the parser is instrumented.
if((NOT QAL_WINDOWS AND NOT QAL_FUZZ) OR QAL_SYSTEM_TINYXML2)
  find_package(tinyxml2 CONFIG REQUIRED)
  if(TARGET tinyxml2::tinyxml2)
    add_library(qal::tinyxml2 ALIAS tinyxml2::tinyxml2)
  else()
    add_library(qal::tinyxml2 ALIAS tinyxml2)
  endif()
else()
  qal_debian_source(tinyxml2 tinyxml2.cpp QAL_TINYXML2_SOURCE_DIR)
  add_library(qal_tinyxml2 STATIC ${QAL_TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
  target_include_directories(qal_tinyxml2 SYSTEM PUBLIC ${QAL_TINYXML2_SOURCE_DIR})
  add_library(qal::tinyxml2 ALIAS qal_tinyxml2)
endif()

option(QAL_SYSTEM_ZSTD "Use an installed zstd (find_package) instead of building Debian's libzstd source" OFF)
set(QAL_ZSTD_SOURCE_DIR "" CACHE PATH "zstd source tree to build (default: Debian's libzstd source package, unpacked into the build tree)")
if(NOT QAL_WINDOWS)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(QAL_ZSTD REQUIRED IMPORTED_TARGET libzstd)
  add_library(qal::zstd ALIAS PkgConfig::QAL_ZSTD)
elseif(QAL_SYSTEM_ZSTD)
  find_package(zstd CONFIG REQUIRED)
  add_library(qal::zstd ALIAS zstd::libzstd_static)
else()
  qal_debian_source(libzstd lib/zstd.h QAL_ZSTD_SOURCE_DIR)
  # The format's common code, the compressor (qalManifest makes patches) and
  # the decompressor, single-threaded, in C alone (its x86-64 assembly is
  # written for ELF), without the legacy formats.
  file(GLOB zstd_sources ${QAL_ZSTD_SOURCE_DIR}/lib/common/*.c ${QAL_ZSTD_SOURCE_DIR}/lib/compress/*.c
       ${QAL_ZSTD_SOURCE_DIR}/lib/decompress/*.c)
  add_library(qal_zstd STATIC ${zstd_sources})
  target_compile_definitions(qal_zstd PRIVATE ZSTD_DISABLE_ASM=1 ZSTD_LEGACY_SUPPORT=0 XXH_NAMESPACE=ZSTD_)
  target_include_directories(qal_zstd SYSTEM PUBLIC ${QAL_ZSTD_SOURCE_DIR}/lib)
  add_library(qal::zstd ALIAS qal_zstd)
endif()

if(QAL_BUILD_TESTS)
  if(NOT QAL_WINDOWS)
    find_package(GTest CONFIG REQUIRED)
    add_library(qal::gtest ALIAS GTest::gtest)
    add_library(qal::gtest_main ALIAS GTest::gtest_main)
    add_library(qal::gmock ALIAS GTest::gmock)
  else()
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
    add_subdirectory(${QAL_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/_deps/googletest EXCLUDE_FROM_ALL SYSTEM)
    add_library(qal::gtest ALIAS gtest)
    add_library(qal::gtest_main ALIAS gtest_main)
    add_library(qal::gmock ALIAS gmock)
  endif()
endif()
