// The in-memory ZIP walk on arbitrary bytes, with a sink that writes nothing but checks what it is handed: the result
// is -1 or a count of the files the sink accepted, no read leaves the archive (an exact-size heap block here), and
// every path stays below the destination.
#include <cstdint>
#include <cstring>

#include "codecs/zip.h"

namespace {

constexpr char kDest[] = "C:\\dest";
constexpr size_t kDestLength = sizeof kDest - 1;

// A path below the destination: the destination, a backslash, no parent references, and room for its NUL.
bool below_destination(const char* path) {
    return std::strncmp(path, kDest, kDestLength) == 0 && path[kDestLength] == '\\' && !std::strstr(path, "..") &&
           std::strlen(path) < static_cast<size_t>(kZipOutputPathSize);
}

void make_directory(void*, const char* path) {
    // The destination's own levels are made on the way down too.
    size_t length = std::strlen(path);
    if (length <= kDestLength && std::strncmp(path, kDest, length) == 0) return;
    if (!below_destination(path)) __builtin_trap();
}

bool write_file(void* files, const char* path, const uint8_t* data, uint64_t size) {
    if (!below_destination(path) || !data) __builtin_trap();
    // Touch the first and last byte so a short buffer shows up.
    volatile uint8_t sink = 0;
    if (size > 0) sink = static_cast<uint8_t>(data[0] ^ data[size - 1]);
    (void)sink;
    ++*static_cast<int*>(files);
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int files = 0;
    zip_sink sink = {&files, make_directory, write_file, nullptr};
    int result = zip_extract_from_memory(data, size, kDest, &sink);
    if (result < -1) __builtin_trap();
    if (result >= 0 && result != files) __builtin_trap();
    if (result < 0 && files != 0) __builtin_trap();
    return 0;
}
