# The public keys the launcher checks signed manifests with, and the lowest
# serial a fresh install accepts. Without a key (the default) the launcher
# reads manifests as it always did.
#   -DPELKO_RELEASE_KEY="release-key.pub.pem[;second.pub.pem]" -DPELKO_RELEASE_SERIAL_FLOOR=20261206120000
set(PELKO_RELEASE_KEY "" CACHE STRING "One or two ECDSA P-256 public keys (PEM) that sign release manifests")
set(PELKO_RELEASE_SERIAL_FLOOR "0" CACHE STRING "The lowest manifest serial the launcher accepts on its first run")

if(NOT PELKO_RELEASE_SERIAL_FLOOR MATCHES "^[0-9]+$" OR PELKO_RELEASE_SERIAL_FLOOR MATCHES "^[0-9]{19}")
  message(FATAL_ERROR "PELKO_RELEASE_SERIAL_FLOOR must be 1 to 18 decimal digits, got '${PELKO_RELEASE_SERIAL_FLOOR}'")
endif()
list(LENGTH PELKO_RELEASE_KEY pelko_key_count)
if(pelko_key_count GREATER 2)
  message(FATAL_ERROR "PELKO_RELEASE_KEY takes at most two keys (during a key rotation)")
endif()

# Each key as the 64 bytes of its public point (X then Y), taken from the
# key's DER SubjectPublicKeyInfo, whose fixed P-256 prefix is checked.
file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/generated)
set(PELKO_RELEASE_KEY_BYTES "")
set(pelko_p256_prefix "3059301306072a8648ce3d020106082a8648ce3d03010703420004")
foreach(key IN LISTS PELKO_RELEASE_KEY)
  set(der ${CMAKE_BINARY_DIR}/generated/release-key.der)
  execute_process(COMMAND openssl pkey -pubin -in ${key} -outform DER -out ${der} RESULT_VARIABLE failed)
  file(READ ${der} hex HEX)
  string(LENGTH "${hex}" length)
  if(failed OR NOT length EQUAL 182 OR NOT hex MATCHES "^${pelko_p256_prefix}")
    message(FATAL_ERROR "PELKO_RELEASE_KEY: '${key}' is not an ECDSA P-256 public key in PEM")
  endif()
  string(SUBSTRING "${hex}" 54 128 point)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," point "${point}")
  string(APPEND PELKO_RELEASE_KEY_BYTES "{${point}},\n")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${key})
endforeach()
set(PELKO_RELEASE_KEY_COUNT ${pelko_key_count})
configure_file(${CMAKE_SOURCE_DIR}/cmake/release_keys.cpp.in ${CMAKE_BINARY_DIR}/generated/release_keys.cpp @ONLY)
