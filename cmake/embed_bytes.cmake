# Writes a C++ source that defines a constant byte array with the contents of
# a file. Run as a build step (cmake -P), so it needs no compiled host tool and
# works the same for the cross build.
#   cmake -DINPUT=<file> -DOUTPUT=<file.cpp> -DNAME=<array> -DHEADER=<include> -P embed_bytes.cmake
# The array is declared in HEADER as
#   extern const uint8_t NAME[]; extern const size_t NAME_length;
file(READ ${INPUT} hex HEX)
string(LENGTH "${hex}" hex_length)
if(hex_length EQUAL 0)
  message(FATAL_ERROR "embed_bytes: ${INPUT} is empty")
endif()
# 16 bytes a line.
string(REPEAT "[0-9a-f]" 32 line)
string(REGEX REPLACE "(${line})" "\\1\n    " hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," body "${hex}")
string(STRIP "${body}" body)
file(WRITE ${OUTPUT} "// Generated from ${INPUT} by embed_bytes.cmake; do not edit.
#include \"${HEADER}\"

const uint8_t ${NAME}[] = {
    ${body}
};
const size_t ${NAME}_length = sizeof ${NAME};
")
