#include "vcdiff_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "peer_tools.h"

Applied decode(const Bytes& patch, const Bytes& source) {
    Bytes exact_patch(patch);
    Bytes exact_source(source);
    const size_t untouched = 0xA5A5A5A5u;
    size_t length = untouched;
    Applied result{};
    uint8_t* out = vcdiff_apply(exact_patch.data(), exact_patch.size(), exact_source.data(), exact_source.size(),
                                &length, &result.stats);
    result.ok = out != nullptr;
    if (out) {
        result.out.assign(out, out + length);
        std::free(out);
    } else {
        EXPECT_EQ(length, untouched) << "a failed call changed the output length";
    }
    return result;
}

void put_varint(Bytes& out, uint64_t value) {
    uint8_t groups[10];
    int n = 0;
    do {
        groups[n++] = value & 0x7F;
        value >>= 7;
    } while (value);
    while (n > 1) out.push_back(groups[--n] | 0x80);
    out.push_back(groups[0]);
}

Bytes build_patch(const std::vector<WindowPlan>& windows) {
    Bytes patch = {0xD6, 0xC3, 0xC4, 0x00, 0x04, 4, 't', 'e', 's', 't'};
    for (const WindowPlan& w : windows) {
        patch.push_back(w.indicator);
        if (w.indicator & 0x03) {
            put_varint(patch, w.segment_size);
            put_varint(patch, w.segment_position);
        }
        Bytes delta;
        put_varint(delta, w.target_length);
        delta.push_back(w.delta_indicator);
        put_varint(delta, w.data.size());
        put_varint(delta, w.instructions.size());
        put_varint(delta, w.addresses.size());
        if (w.indicator & 0x04) delta.insert(delta.end(), {0xDE, 0xAD, 0xBE, 0xEF});
        delta.insert(delta.end(), w.data.begin(), w.data.end());
        delta.insert(delta.end(), w.instructions.begin(), w.instructions.end());
        delta.insert(delta.end(), w.addresses.begin(), w.addresses.end());
        put_varint(patch, delta.size());
        patch.insert(patch.end(), delta.begin(), delta.end());
    }
    return patch;
}

namespace {

struct Reader {
    const Bytes& bytes;
    size_t at;
    bool bad = false;
    uint8_t byte() {
        if (at >= bytes.size()) {
            bad = true;
            return 0;
        }
        return bytes[at++];
    }
    uint64_t varint() {
        uint64_t value = 0;
        for (int i = 0; i < 10; ++i) {
            uint8_t b = byte();
            value = (value << 7) | (b & 0x7F);
            if (!(b & 0x80)) return value;
        }
        bad = true;
        return 0;
    }
};

}  // namespace

PatchLayout read_layout(const Bytes& patch) {
    PatchLayout layout{};
    Reader r{patch, 4};
    layout.header_indicator = r.byte();
    uint64_t note = r.varint();
    if (r.bad || note > patch.size() - r.at) return layout;
    layout.application_header.assign(patch.begin() + r.at, patch.begin() + r.at + note);
    r.at += note;
    while (r.at < patch.size()) {
        WindowHeader w{};
        w.offset = r.at;
        w.indicator = r.byte();
        if (w.indicator & 0x03) {
            w.segment_size = r.varint();
            w.segment_position = r.varint();
        }
        r.varint();
        w.target_length = r.varint();
        w.delta_indicator = r.byte();
        w.data_length = r.varint();
        w.instructions_length = r.varint();
        w.addresses_length = r.varint();
        if (w.indicator & 0x04) r.at += 4;
        w.end = r.at + w.data_length + w.instructions_length + w.addresses_length;
        if (r.bad || w.end > patch.size()) return layout;
        layout.windows.push_back(w);
        r.at = w.end;
    }
    layout.complete = true;
    return layout;
}

Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const std::string& path, const uint8_t* bytes, size_t length) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(length));
}

Bytes xdelta3_encode(const TempDir& dir, const Bytes* source, const Bytes& target, const std::string& flags) {
    std::string source_path = dir.at("xd-source");
    std::string target_path = dir.at("xd-target");
    std::string patch_path = dir.at("xd-patch");
    write_bytes(target_path, target.data(), target.size());
    std::string command = shell_quote(XDELTA3_PATH) + " -e -f -S none -A=unit-test " + flags;
    if (source) {
        write_bytes(source_path, source->data(), source->size());
        command += " -s " + shell_quote(source_path);
    }
    command += " " + shell_quote(target_path) + " " + shell_quote(patch_path);
    if (!run_tool(command)) return {};
    return read_bytes(patch_path);
}

std::string sha256_hex(const TempDir& dir, const uint8_t* bytes, size_t length) {
    std::string path = dir.at("digest-input");
    write_bytes(path, bytes, length);
    std::string output;
    if (!run_tool("sha256sum " + shell_quote(path), &output)) return "";
    return output.substr(0, 64);
}
