#include "peer_tools.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <random>

#include "support.h"

namespace fs = std::filesystem;

bool run_tool(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot start: " << command;
        return false;
    }
    std::string captured;
    char chunk[4096];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) captured.append(chunk, got);
    int status = pclose(pipe);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        ADD_FAILURE() << "peer tool failed (status " << status << "; 127 means not installed, run scripts/setup.sh): "
                      << command;
        return false;
    }
    if (output) *output = captured;
    return true;
}

std::string shell_quote(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string random_bytes(size_t size, uint32_t seed) {
    std::mt19937 engine(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(engine() & 0xFF);
    return bytes;
}

std::string mixed_content(size_t size, uint32_t seed) {
    static const char* const words[] = {"room",  "code", "launcher", "update", "bundle", "version",
                                        "patch", "game", "player",   "host",   "relay",  "splash"};
    std::mt19937 engine(seed);
    std::string data;
    data.reserve(size + 4096);
    while (data.size() < size) {
        switch (engine() % 4) {
        case 0:  // prose
            for (int i = 0; i < 200; ++i) {
                data += words[engine() % 12];
                data += (engine() % 9 == 0) ? ".\n" : " ";
            }
            break;
        case 1:  // a run, long enough for length-258 matches at distance 1
            data.append(300 + engine() % 2000, static_cast<char>(engine() & 0xFF));
            break;
        case 2:  // fixed-size records with a counter
            for (uint32_t i = 0; i < 64; ++i) {
                uint32_t fields[4] = {i, i * 7u, 0xDEADBEEFu, static_cast<uint32_t>(engine() % 16)};
                data.append(reinterpret_cast<const char*>(fields), sizeof fields);
            }
            break;
        default:  // noise
            data += random_bytes(500 + engine() % 3000, engine());
            break;
        }
        // Now and then repeat something from far back, to reach long distances.
        if (data.size() > 40000 && engine() % 3 == 0) {
            size_t from = data.size() - 30000 - engine() % 2000;
            data += data.substr(from, 100 + engine() % 400);
        }
    }
    data.resize(size);
    return data;
}

std::string zlib_raw_deflate(const std::string& data, int level, int strategy, size_t flush_every) {
    z_stream z = {};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    std::string out;
    for (size_t fed = 0, piece;; fed += piece) {
        piece = flush_every ? std::min(flush_every, data.size() - fed) : data.size() - fed;
        bool last = fed + piece == data.size();
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data())) + fed;
        z.avail_in = static_cast<uInt>(piece);
        int result;
        do {
            Bytef chunk[1 << 16];
            z.next_out = chunk;
            z.avail_out = sizeof chunk;
            result = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
            out.append(reinterpret_cast<const char*>(chunk), sizeof chunk - z.avail_out);
        } while (z.avail_out == 0 || (last && result != Z_STREAM_END));
        if (last) break;
    }
    deflateEnd(&z);
    return out;
}

uint32_t zlib_crc32(const std::string& data) {
    return static_cast<uint32_t>(
        crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

std::map<std::string, std::string> snapshot_tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        std::string relative = fs::relative(entry.path(), root).generic_string();
        tree[relative] = entry.is_directory() ? "<dir>" : read_file(entry.path().string());
    }
    return tree;
}

std::string gzip_payload(const std::string& gzip) {
    // RFC 1952: ID1 ID2 CM FLG MTIME(4) XFL OS, then the NUL-terminated name
    // when FLG has FNAME, the only optional part the peers write.
    if (gzip.size() < 10 || gzip.compare(0, 3, "\x1f\x8b\x08") != 0 || (gzip[3] & ~0x08)) return "";
    size_t name_end = gzip[3] ? gzip.find('\0', 10) : 9;
    return name_end == std::string::npos ? "" : gzip.substr(name_end + 1);
}
