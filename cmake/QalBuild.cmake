# Build-wide settings shared by every directory: which build this is, compiler
# flags, the test registration helper and the third-party targets.

if(WIN32)
  set(QAL_WINDOWS TRUE)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(QAL_TARGET_NAME x86_64)
  else()
    set(QAL_TARGET_NAME i686)
  endif()
else()
  set(QAL_WINDOWS FALSE)
  set(QAL_TARGET_NAME native)
endif()

set(CMAKE_CXX_STANDARD 17)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)

find_program(QAL_PYTHON NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT QAL_PYTHON)
  find_program(QAL_PYTHON NAMES python3 python REQUIRED)
endif()

add_library(qal_warnings INTERFACE)
if(MSVC)
  target_compile_options(qal_warnings INTERFACE /W4 /utf-8)
else()
  target_compile_options(qal_warnings INTERFACE -Wall -Wextra)
endif()

option(QAL_SANITIZE "Build the native tests with AddressSanitizer and UndefinedBehaviorSanitizer" ON)
if(NOT QAL_WINDOWS AND QAL_SANITIZE AND NOT MSVC)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# The libFuzzer build: clang, natively, the sanitizers above plus coverage
# feedback; only the Windows-free cores and the fuzz targets are built.
option(QAL_FUZZ "Build the libFuzzer targets (clang only) instead of the programs and tests" OFF)
if(QAL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang" OR QAL_WINDOWS)
    message(FATAL_ERROR "QAL_FUZZ needs clang for the native build (-DCMAKE_CXX_COMPILER=clang++)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(QAL_WINDOWS)
  # Wide-character Win32 API, Windows 7 as the oldest target.
  add_compile_definitions(UNICODE _UNICODE _WIN32_WINNT=0x0601 WINVER=0x0601)
  if(MINGW)
    # No MinGW runtime DLLs next to the programs: a player's machine has none.
    add_link_options(-static -static-libgcc -static-libstdc++)
    # The same sources give the same bytes: no link time in the headers and
    # no build directory in the programs, so a release can be rebuilt and
    # compared.
    option(QAL_REPRODUCIBLE "Link without timestamps and map source paths away" ON)
    if(QAL_REPRODUCIBLE)
      add_link_options(-Wl,--no-insert-timestamp)
      add_compile_options(-ffile-prefix-map=${PROJECT_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=.)
    endif()
  endif()
endif()

# The Wine that runs the Windows builds' programs, 64-bit and 32-bit alike
# (scripts/setup-wine32.sh prepares it; it decides whether this machine runs
# 32-bit code natively or under emulation). Recorded here so that every test,
# whatever HOME it runs with, uses the same one (by default, where that
# script puts it for the user who configures).
set(QAL_WINE_DIR "$ENV{QAL_WINE_DIR}" CACHE PATH "Wine directory prepared by scripts/setup-wine32.sh")
if(NOT QAL_WINE_DIR AND NOT QAL_FUZZ)
  execute_process(COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/setup-wine32.sh --where
    OUTPUT_VARIABLE wine_dir OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE wine_dir_status ERROR_QUIET)
  if(wine_dir_status EQUAL 0)
    set(QAL_WINE_DIR "${wine_dir}" CACHE PATH "Wine directory prepared by scripts/setup-wine32.sh" FORCE)
  endif()
endif()

# Registers a test as "<target>.<name>" so one ctest run can hold the native
# build and both Windows builds side by side. Windows executables run under the
# Wine wrapper through CROSSCOMPILING_EMULATOR; scripts run natively.
#   qal_add_test(NAME n COMMAND cmd [args...] [TIMEOUT s] [WORKING_DIRECTORY d]
#                [DISPLAY] [NO_WINE] [COST s] [LABELS l...] [ENVIRONMENT e...])
# DISPLAY marks a test that shows windows on the shared virtual screen: such
# tests never run at the same time, so geometry and screenshots stay theirs.
# NO_WINE marks a Windows build's test that reads its programs without running
# them. COST is roughly the test's seconds: a parallel run on a fresh clone has
# no timings of its own yet and would otherwise leave the longest for last.
function(qal_add_test)
  cmake_parse_arguments(T "DISPLAY;NO_WINE" "NAME;TIMEOUT;WORKING_DIRECTORY;COST" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT T_WORKING_DIRECTORY)
    set(T_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(full ${QAL_TARGET_NAME}.${T_NAME})
  add_test(NAME ${full} COMMAND ${T_COMMAND} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  set_tests_properties(${full} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${QAL_TARGET_NAME};${T_LABELS}")
  if(T_COST)
    set_tests_properties(${full} PROPERTIES COST ${T_COST})
  endif()
  set(env "QAL_BUILD_DIR=${CMAKE_BINARY_DIR}" "QAL_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
          "QAL_TARGET=${QAL_TARGET_NAME}" "QAL_WINE_RUN=${QAL_WINE_RUN}" ${T_ENVIRONMENT})
  if(QAL_WINE_DIR)
    list(APPEND env "QAL_WINE_DIR=${QAL_WINE_DIR}")
  endif()
  set_tests_properties(${full} PROPERTIES ENVIRONMENT "${env}")
  if(T_DISPLAY)
    set_tests_properties(${full} PROPERTIES RESOURCE_LOCK qal_display_${QAL_TARGET_NAME})
  endif()
  if(QAL_WINDOWS AND CMAKE_CROSSCOMPILING AND NOT T_NO_WINE)
    if(NOT T_NAME STREQUAL "support.wine_prefix")
      # The prefix and display are brought up once, before any test that uses them.
      set_tests_properties(${full} PROPERTIES FIXTURES_REQUIRED qal_wine_${QAL_TARGET_NAME})
    endif()
  endif()
endfunction()

# The updater's end-to-end tests serve its resources on loopback, so they run
# only when the built-in resource address is a loopback one with a port; the
# port they serve on is that port.
function(qal_loopback_port_of url out)
  if(url MATCHES "^http://(127\\.0\\.0\\.1|localhost):([0-9]+)/")
    set(${out} ${CMAKE_MATCH_2} PARENT_SCOPE)
  else()
    set(${out} "" PARENT_SCOPE)
  endif()
endfunction()

include(QalManifestKeys)
