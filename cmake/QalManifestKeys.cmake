# The manifest keys built into the updater.
#
# qal_write_manifest_keys(OUTPUT pem...) writes, for BuildSettings.cpp, one
# C string a line: the Base64 of each PEM public key. Each must be an ECDSA
# P-256 key as `openssl pkey -pubout` writes it; anything else stops the
# configure with the file's name, rather than giving players an updater that
# refuses every manifest. The updater parses the key again when it starts.
function(qal_write_manifest_keys output)
  set(lines "")
  foreach(pem IN LISTS ARGN)
    get_filename_component(pem "${pem}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
    if(NOT EXISTS "${pem}")
      message(FATAL_ERROR "QAL_MANIFEST_PUBLIC_KEYS: ${pem} does not exist")
    endif()
    set_property(DIRECTORY "${PROJECT_SOURCE_DIR}" APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${pem}")
    file(READ "${pem}" text)
    if(NOT text MATCHES "-----BEGIN PUBLIC KEY-----([A-Za-z0-9+/=\r\n\t ]*)-----END PUBLIC KEY-----")
      message(FATAL_ERROR "QAL_MANIFEST_PUBLIC_KEYS: ${pem} holds no PEM \"PUBLIC KEY\" "
                          "(make one with: qalManifest keygen PRIVATE.pem PUBLIC.pem)")
    endif()
    string(REGEX REPLACE "[\r\n\t ]" "" body "${CMAKE_MATCH_1}")
    # Every P-256 SubjectPublicKeyInfo with an uncompressed point is 91
    # bytes and starts with the same 27.
    string(LENGTH "${body}" length)
    if(NOT length EQUAL 124 OR NOT body MATCHES "^MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAE")
      message(FATAL_ERROR "QAL_MANIFEST_PUBLIC_KEYS: ${pem} is not an ECDSA P-256 public key")
    endif()
    string(APPEND lines "    \"${body}\",\n")
  endforeach()
  file(CONFIGURE OUTPUT "${output}" CONTENT "${lines}" @ONLY)
endfunction()

# Throwaway key pairs for the tests, made once per build tree with the
# openssl command: DIR/NAME.pem (private, PKCS#8) and DIR/NAME.pub.pem.
function(qal_make_test_manifest_keys dir)
  find_program(QAL_OPENSSL openssl REQUIRED)
  file(MAKE_DIRECTORY "${dir}")
  foreach(name IN LISTS ARGN)
    if(NOT EXISTS "${dir}/${name}.pub.pem")
      execute_process(
        COMMAND ${QAL_OPENSSL} genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "${dir}/${name}.pem"
        COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
      execute_process(
        COMMAND ${QAL_OPENSSL} pkey -in "${dir}/${name}.pem" -pubout -out "${dir}/${name}.pub.pem"
        COMMAND_ERROR_IS_FATAL ANY OUTPUT_QUIET ERROR_QUIET)
    endif()
  endforeach()
endfunction()
