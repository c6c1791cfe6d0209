# The ROM patch embedded in the launcher and the digest of the ROM it makes.
# Both default to the stand-in committed in assets/; a release names the real
# patch and its digest together:
#   -DPELKO_ROM_PATCH=/path/to/patch.vcdiff -DPELKO_ROM_SHA256=<64 hex digits>
set(PELKO_DEFAULT_ROM_PATCH ${CMAKE_SOURCE_DIR}/assets/rom_patch.vcdiff)
set(PELKO_DEFAULT_ROM_SHA256_FILE ${CMAKE_SOURCE_DIR}/assets/patched_rom.sha256)

set(PELKO_ROM_PATCH ${PELKO_DEFAULT_ROM_PATCH} CACHE FILEPATH "VCDIFF patch embedded in the launcher")

# The committed digest is read at every configure, so a regenerated stand-in
# is picked up; a digest set by hand stays as it was set.
file(STRINGS ${PELKO_DEFAULT_ROM_SHA256_FILE} pelko_committed_sha256 LIMIT_COUNT 1)
string(STRIP "${pelko_committed_sha256}" pelko_committed_sha256)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PELKO_DEFAULT_ROM_SHA256_FILE})
if(NOT DEFINED PELKO_ROM_SHA256 OR PELKO_ROM_SHA256 STREQUAL "${PELKO_ROM_SHA256_LAST_DEFAULT}")
  set(PELKO_ROM_SHA256 "${pelko_committed_sha256}" CACHE STRING "SHA-256 of the ROM the patch produces (64 lowercase hex digits)" FORCE)
endif()
set(PELKO_ROM_SHA256_LAST_DEFAULT "${pelko_committed_sha256}" CACHE INTERNAL "")

string(LENGTH "${PELKO_ROM_SHA256}" pelko_sha256_length)
if(NOT pelko_sha256_length EQUAL 64 OR NOT PELKO_ROM_SHA256 MATCHES "^[0-9a-f]+$")
  message(FATAL_ERROR "PELKO_ROM_SHA256 must be 64 lowercase hexadecimal digits, got '${PELKO_ROM_SHA256}'")
endif()

if(NOT EXISTS ${PELKO_ROM_PATCH} OR IS_DIRECTORY ${PELKO_ROM_PATCH})
  message(FATAL_ERROR "PELKO_ROM_PATCH names no file: '${PELKO_ROM_PATCH}'")
endif()
file(READ ${PELKO_ROM_PATCH} pelko_patch_magic LIMIT 4 HEX)
if(NOT pelko_patch_magic STREQUAL "d6c3c400")
  message(FATAL_ERROR "PELKO_ROM_PATCH is not a VCDIFF file: '${PELKO_ROM_PATCH}'")
endif()

get_filename_component(pelko_patch_real ${PELKO_ROM_PATCH} REALPATH)
get_filename_component(pelko_default_patch_real ${PELKO_DEFAULT_ROM_PATCH} REALPATH)
if(NOT pelko_patch_real STREQUAL pelko_default_patch_real AND PELKO_ROM_SHA256 STREQUAL pelko_committed_sha256)
  message(WARNING "PELKO_ROM_PATCH names another patch but PELKO_ROM_SHA256 is still the stand-in's digest")
endif()
