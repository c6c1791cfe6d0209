#include "vcdiff_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <tuple>

#include "peer_tools.h"
#include "tests/reference/vcdiff_ref.h"

Applied decode(const Bytes& patch, const Bytes& source) {
    Bytes exact_patch(patch), exact_source(source);
    const size_t untouched = 0xA5A5A5A5u;
    Applied result[2] = {};
    for (int reference = 0; reference < 2; ++reference) {
        auto apply = reference ? vcdiff_ref_apply : vcdiff_apply;
        size_t length = untouched;
        uint8_t* out = apply(exact_patch.data(), exact_patch.size(), exact_source.data(), exact_source.size(),
                             &length, &result[reference].stats);
        result[reference].ok = out != nullptr;
        EXPECT_TRUE(out || length == untouched) << "a failed call changed the output length";
        if (out) result[reference].out.assign(out, out + length);
        std::free(out);
    }
    const Applied& fast = result[0];
    const Applied& ref = result[1];
    EXPECT_EQ(fast.ok, ref.ok) << "the reference decoder gives another result";
    EXPECT_TRUE(fast.out == ref.out) << "the reference decoder gives other bytes";
    auto stats = [](const vcdiff_stats& s) {
        return std::make_tuple(s.windows, s.growths, s.initial_capacity, s.final_capacity);
    };
    EXPECT_EQ(stats(fast.stats), stats(ref.stats)) << "windows, growths, first and last capacity";
    return fast;
}

Bytes varint(uint64_t value) {
    Bytes out = {static_cast<uint8_t>(value & 0x7F)};  // the last group
    while (value >>= 7) out.insert(out.begin(), static_cast<uint8_t>(0x80 | (value & 0x7F)));
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes build_patch(const std::vector<WindowPlan>& windows) {
    Bytes patch = {0xD6, 0xC3, 0xC4, 0x00, 0x04, 4, 't', 'e', 's', 't'};
    for (const WindowPlan& w : windows) {
        Bytes segment = w.indicator & 0x03 ? cat({varint(w.segment_size), varint(w.segment_position)}) : Bytes();
        Bytes checksum = w.indicator & 0x04 ? Bytes{0xDE, 0xAD, 0xBE, 0xEF} : Bytes();
        Bytes delta = cat({varint(w.target_length), {w.delta_indicator}, varint(w.data.size()),
                           varint(w.instructions.size()), varint(w.addresses.size()), checksum, w.data,
                           w.instructions, w.addresses});
        patch = cat({patch, {w.indicator}, segment, varint(delta.size()), delta});
    }
    return patch;
}

PatchLayout read_layout(const Bytes& patch) {
    PatchLayout layout{};
    vcdiff_cursor c{patch.data(), 5, patch.size(), false};
    auto byte = [&c]() -> uint8_t { return c.position < c.length ? c.bytes[c.position++] : (c.error = true, 0); };
    auto varint = [&c] { return vcdiff_ref_read_varint(&c); };
    uint64_t note = varint();  // the application header
    if (c.error || note > patch.size() - c.position) return layout;
    c.position += note;
    while (c.position < patch.size()) {
        WindowHeader w{};
        w.offset = c.position;
        w.indicator = byte();
        if (w.indicator & 0x03) {
            w.segment_size = varint();
            w.segment_position = varint();
        }
        varint();  // the delta encoding length
        w.target_length = varint();
        w.delta_indicator = byte();
        w.data_length = varint();
        uint64_t instructions_length = varint();
        w.addresses_length = varint();
        size_t sections = c.position + (w.indicator & 0x04 ? 4 : 0);
        w.end = sections + w.data_length + instructions_length + w.addresses_length;
        if (c.error || w.end > patch.size() || w.end < sections) return layout;
        layout.windows.push_back(w);
        c.position = w.end;
    }
    layout.complete = true;
    return layout;
}

Bytes xdelta3_encode(const TempDir& dir, const Bytes* source, const Bytes& target, const std::string& flags) {
    write_file(dir.at("xd-target"), std::string(target.begin(), target.end()));
    std::string command = shell_quote(XDELTA3_PATH) + " -e -f -S none -A=unit-test " + flags;
    if (source) {
        write_file(dir.at("xd-source"), std::string(source->begin(), source->end()));
        command += " -s " + shell_quote(dir.at("xd-source"));
    }
    command += " " + shell_quote(dir.at("xd-target")) + " " + shell_quote(dir.at("xd-patch"));
    if (!run_tool(command)) return {};
    return read_bytes(dir.at("xd-patch"));
}
