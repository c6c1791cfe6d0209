#include "peer_tools.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <zlib.h>

#include <cstdio>
#include <random>

#include "support.h"

bool run_tool(const std::string& command, std::string* output) {
    FILE* pipe = popen(command.c_str(), "r");
    std::string captured;
    char chunk[4096];
    for (size_t got; pipe && (got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) captured.append(chunk, got);
    const int status = pipe ? pclose(pipe) : -1;
    if (output) *output = captured;
    EXPECT_EQ(status, 0) << "exit status " << WEXITSTATUS(status) << " (127: not installed, see setup.sh): " << command;
    return status == 0;
}

std::string shell_quote(const std::string& path) {
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string random_bytes(size_t size, uint32_t seed) {
    std::mt19937 engine(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) c = static_cast<char>(engine());
    return bytes;
}

std::string mixed_content(size_t size, uint32_t seed) {
    static const char* const words[] = {"room ", "code ", "launcher ", "update ", "bundle ", "patch ", "game ", ".\n"};
    std::mt19937 engine(seed);
    std::string data;
    while (data.size() < size) {
        const uint32_t kind = engine() % 3;
        for (int i = 0; kind == 0 && i < 200; ++i) data += words[engine() % 8];
        if (kind == 1) data.append(300 + engine() % 2000, static_cast<char>(engine()));  // longest matches
        if (kind == 2) data += random_bytes(500 + engine() % 3000, engine());
        if (data.size() > 40000 && engine() % 3 == 0)
            data += data.substr(data.size() - 25000 - engine() % 7000, 100 + engine() % 400);
    }
    return data.substr(0, size);
}

std::string zlib_raw_deflate(const std::string& data, int level, int strategy, size_t flush_every) {
    z_stream z = {};
    EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy), Z_OK);
    std::string out(deflateBound(&z, data.size()) + 16 * (flush_every ? data.size() / flush_every + 1 : 1), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    for (int flush = Z_NO_FLUSH; flush != Z_FINISH;) {
        const size_t left = data.size() - z.total_in;
        z.avail_in = static_cast<uInt>(flush_every && flush_every < left ? flush_every : left);
        flush = z.avail_in == left ? Z_FINISH : Z_SYNC_FLUSH;
        EXPECT_EQ(deflate(&z, flush), flush == Z_FINISH ? Z_STREAM_END : Z_OK);
    }
    deflateEnd(&z);
    return out.substr(0, z.total_out);
}

uint32_t zlib_crc32(const std::string& data) {
    return static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}
