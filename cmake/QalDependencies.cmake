# Third-party libraries, always installed, never copied into the repository:
#   qal::tinyxml2      the XML reader of the updater
#   qal::gtest         GoogleTest without main, qal::gtest_main with it
# Natively both come from Debian's -dev packages. The Windows builds compile
# Debian's sources with the cross compiler: tinyxml2 from its source package
# (unpacked into the build tree), GoogleTest from /usr/src/googletest.
# A Windows developer can point at an installed tinyxml2 instead
# (-DQAL_SYSTEM_TINYXML2=ON with CMAKE_PREFIX_PATH, e.g. from vcpkg) and at a
# GoogleTest source tree with -DQAL_GTEST_SOURCE_DIR.

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
  if(NOT QAL_TINYXML2_SOURCE_DIR)
    execute_process(
      COMMAND ${PROJECT_SOURCE_DIR}/scripts/fetch-tinyxml2-source.sh ${CMAKE_BINARY_DIR}/_deps/tinyxml2
      OUTPUT_VARIABLE tx_dir OUTPUT_STRIP_TRAILING_WHITESPACE
      RESULT_VARIABLE tx_result)
    if(NOT tx_result EQUAL 0)
      message(FATAL_ERROR "Could not unpack Debian's tinyxml2 source package (run scripts/setup-debian.sh as root first)")
    endif()
    set(QAL_TINYXML2_SOURCE_DIR ${tx_dir} CACHE PATH "" FORCE)
  endif()
  add_library(qal_tinyxml2 STATIC ${QAL_TINYXML2_SOURCE_DIR}/tinyxml2.cpp)
  target_include_directories(qal_tinyxml2 SYSTEM PUBLIC ${QAL_TINYXML2_SOURCE_DIR})
  add_library(qal::tinyxml2 ALIAS qal_tinyxml2)
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
