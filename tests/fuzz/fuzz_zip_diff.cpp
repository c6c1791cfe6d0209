// Differential check against the reference ZIP walk: on every input both
// return the same count and hand their sinks the same directories and the
// same files (path, size and contents) in the same order.
#include <cstdint>
#include <string>
#include <vector>

#include "codecs/zip.h"
#include "tests/reference/zip_ref.h"

namespace {

struct Calls {
    std::vector<std::string> directories;
    std::vector<std::string> files;  // path, then the contents
};

void make_directory(void* context, const char* path) { static_cast<Calls*>(context)->directories.push_back(path); }

bool write_file(void* context, const char* path, const uint8_t* data, uint64_t size) {
    if (!data) __builtin_trap();
    std::string file = path;
    file += '\0';
    file.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
    static_cast<Calls*>(context)->files.push_back(std::move(file));
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Calls fast;
    Calls reference;
    zip_sink fast_sink = {&fast, make_directory, write_file};
    zip_sink reference_sink = {&reference, make_directory, write_file};
    int result = zip_extract_from_memory(data, size, "C:\\dest", &fast_sink);
    int expected = zip_ref_extract_from_memory(data, size, "C:\\dest", &reference_sink);
    if (result != expected) __builtin_trap();
    if (fast.directories != reference.directories || fast.files != reference.files) __builtin_trap();
    return 0;
}
