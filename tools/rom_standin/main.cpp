// Writes the synthetic supported dump or the target the stand-in ROM patch
// produces from it, for make_rom_patch.sh, the end-to-end tests and the demo.
//   rom_standin dump <path>
//   rom_standin target <path>
#include <cstdio>
#include <cstring>

#include "tools/rom_standin/rom_standin.h"

namespace {

int write_all(const char* path, const std::vector<uint8_t>& bytes) {
    FILE* file = std::fopen(path, "wb");
    if (!file) {
        std::fprintf(stderr, "rom_standin: cannot create %s\n", path);
        return 1;
    }
    size_t written = std::fwrite(bytes.data(), 1, bytes.size(), file);
    if (std::fclose(file) != 0 || written != bytes.size()) {
        std::fprintf(stderr, "rom_standin: cannot write %s\n", path);
        std::remove(path);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "dump") == 0) return write_all(argv[2], standin_dump());
    if (argc == 3 && std::strcmp(argv[1], "target") == 0) return write_all(argv[2], standin_target(standin_dump()));
    std::fprintf(stderr,
                 "usage: rom_standin dump <path>     the synthetic supported dump (%zu bytes)\n"
                 "       rom_standin target <path>   the ROM the stand-in patch makes of it (%zu bytes)\n",
                 kStandinDumpLength, kStandinTargetLength);
    return 2;
}
