// The ZIP walk the launcher shipped first, kept as the reference the walk in
// codecs/zip.cpp is checked against: every entry decoded into a fresh buffer
// with the reference inflate decoder and CRC-32. Tests and fuzz targets only.
#pragma once

#include <cstdint>

#include "codecs/zip.h"

// Walks archive[0 .. size) and hands every safe, intact entry to sink, as
// zip_extract_from_memory does. Returns the number of files the sink wrote,
// or -1 when there is no usable central directory.
int zip_ref_extract_from_memory(const uint8_t* archive, uint64_t size, const char* dest_dir, const zip_sink* sink);

