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

# A 64-bit Wine starts every 32-bit program through its 32-bit loader, an
# i386 ELF program. Some kernels cannot execute one (virtual machines that run
# 64-bit user code only): every such start then fails inside Wine with
# "ShellExecuteEx failed". The tests that need one are disabled there, and say
# so, rather than fail for the machine's sake or pass without running.
if(QAL_WINDOWS AND CMAKE_CROSSCOMPILING)
  set(QAL_WINE32_LOADER /usr/lib/wine/wine CACHE FILEPATH
    "Wine's 32-bit loader, run once at configure time to learn whether this host executes 32-bit programs")
  execute_process(COMMAND ${QAL_WINE32_LOADER} --version
    RESULT_VARIABLE wine32_status OUTPUT_QUIET ERROR_QUIET TIMEOUT 120)
  if(wine32_status EQUAL 0)
    set(QAL_HOST_RUNS_32BIT TRUE)
  else()
    set(QAL_HOST_RUNS_32BIT FALSE)
    message(WARNING "This host cannot execute 32-bit programs (${QAL_WINE32_LOADER} --version failed: ${wine32_status}). "
      "The ${QAL_TARGET_NAME} tests that start a 32-bit Windows program are disabled; ctest lists them as Disabled.")
  endif()
endif()

# Registers a test as "<target>.<name>" so one ctest run can hold the native
# build and both Windows builds side by side. Windows executables run under the
# Wine wrapper through CROSSCOMPILING_EMULATOR; scripts run natively.
#   qal_add_test(NAME n COMMAND cmd [args...] [TIMEOUT s] [WORKING_DIRECTORY d]
#                [DISPLAY] [NO_WINE] [RUNS_32BIT] [LABELS l...] [ENVIRONMENT e...])
# DISPLAY marks a test that shows windows on the shared virtual screen: such
# tests never run at the same time, so geometry and screenshots stay theirs.
# NO_WINE marks a Windows build's test that reads its programs without running
# them. RUNS_32BIT marks a test of the 64-bit build that still starts a 32-bit
# program (the installer).
function(qal_add_test)
  cmake_parse_arguments(T "DISPLAY;NO_WINE;RUNS_32BIT" "NAME;TIMEOUT;WORKING_DIRECTORY" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  if(NOT T_WORKING_DIRECTORY)
    set(T_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  set(full ${QAL_TARGET_NAME}.${T_NAME})
  add_test(NAME ${full} COMMAND ${T_COMMAND} WORKING_DIRECTORY ${T_WORKING_DIRECTORY})
  set_tests_properties(${full} PROPERTIES TIMEOUT ${T_TIMEOUT} LABELS "${QAL_TARGET_NAME};${T_LABELS}")
  set(env "QAL_BUILD_DIR=${CMAKE_BINARY_DIR}" "QAL_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
          "QAL_TARGET=${QAL_TARGET_NAME}" "QAL_WINE_RUN=${QAL_WINE_RUN}" ${T_ENVIRONMENT})
  set_tests_properties(${full} PROPERTIES ENVIRONMENT "${env}")
  if(T_DISPLAY)
    set_tests_properties(${full} PROPERTIES RESOURCE_LOCK qal_display_${QAL_TARGET_NAME})
  endif()
  if(QAL_WINDOWS AND CMAKE_CROSSCOMPILING AND NOT T_NO_WINE)
    if(NOT T_NAME STREQUAL "support.wine_prefix")
      # The prefix and display are brought up once, before any test that uses them.
      set_tests_properties(${full} PROPERTIES FIXTURES_REQUIRED qal_wine_${QAL_TARGET_NAME})
    endif()
    if(NOT QAL_HOST_RUNS_32BIT AND (QAL_TARGET_NAME STREQUAL "i686" OR T_RUNS_32BIT))
      set_tests_properties(${full} PROPERTIES DISABLED TRUE)
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
