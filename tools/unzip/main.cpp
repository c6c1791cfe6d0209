// Extracts a ZIP archive with the launcher's own walk, as an install does, so
// that the release tool can check a bundle before it is published:
//   pelko_unzip ARCHIVE DEST_DIR
// Prints the number of files written (or -1) and exits 0 when at least one
// file was written.
#include <cstdio>

#include "codecs/zip.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: pelko_unzip ARCHIVE DEST_DIR\n");
        return 2;
    }
    int written = zip_extract_all(argv[1], argv[2]);
    std::printf("%d\n", written);
    return written > 0 ? 0 : 1;
}
