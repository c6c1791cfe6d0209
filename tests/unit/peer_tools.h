// Helpers for the tests whose oracles are other programs and libraries; scripts/setup.sh installs them all.
#pragma once

#include <cstdint>
#include <string>

// Runs command with /bin/sh, its standard output into *output; a test failure unless it exits with 0.
bool run_tool(const std::string& command, std::string* output = nullptr);
std::string shell_quote(const std::string& path);

// Deterministic pseudo-random bytes; and data with words, long runs, noise and repeats from 24 to 32 KB back, so that
// encoders use literals, the longest matches, the farthest distances and stored blocks.
std::string random_bytes(size_t size, uint32_t seed);
std::string mixed_content(size_t size, uint32_t seed);

// A raw deflate stream from zlib; with flush_every, a sync flush (an empty stored block) after every piece that long.
std::string zlib_raw_deflate(const std::string& data, int level, int strategy = 0, size_t flush_every = 0);
uint32_t zlib_crc32(const std::string& data);
