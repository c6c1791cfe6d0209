// Helpers for the codec tests, whose expected results come from other
// programs: sha256sum, gzip, pigz, libdeflate-gzip, 7zz, zip, bsdtar, Python's
// zipfile and zlib. Setup installs every one of them, so a missing tool fails
// the test that needs it instead of skipping it.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// Runs command with /bin/sh. Records a test failure naming the command and its
// exit status, and returns false, unless it exits with 0. With output, its
// standard output is captured there.
bool run_tool(const std::string& command, std::string* output = nullptr);

// path in single quotes for the shell.
std::string shell_quote(const std::string& path);

// Deterministic pseudo-random bytes.
std::string random_bytes(size_t size, uint32_t seed);

// Deterministic data with the mix of redundancy a game bundle has: text with
// repeated words, long runs, structured binary records and stretches of
// incompressible bytes, so that encoders use literals, short and long matches,
// far distances and stored blocks.
std::string mixed_content(size_t size, uint32_t seed);

// A raw deflate stream (no zlib or gzip wrapper) written by zlib with the
// given level and strategy. With flush_every, the input is fed in pieces of
// that size with a sync flush after each, which puts empty stored blocks
// between compressed ones.
std::string zlib_raw_deflate(const std::string& data, int level, int strategy = 0, size_t flush_every = 0);

// zlib's CRC-32.
uint32_t zlib_crc32(const std::string& data);

// Every file and directory below root, by path relative to root with "/"
// separators; a directory maps to "<dir>", a file to its contents.
std::map<std::string, std::string> snapshot_tree(const std::string& root);

// The raw deflate stream inside a gzip member: the bytes after the header
// and the file name, if any. The trailer stays attached; decoding ends before
// it. Empty when the header is not gzip or has another optional part.
std::string gzip_payload(const std::string& gzip);
