#include "simblock.h"

#include <cstdio>

namespace qsim {
namespace {

constexpr std::size_t kBlockPayload = 133;  // B0..B4 and 128 data bytes

BlockTake Place(std::uint8_t kind, unsigned offset, const SimTransfer& t) {
    const unsigned expected = t.expected & 0xFFFFu;  // the header carries bits 0..15 only
    if (kind == 21) {
        if (t.active && t.image == 0 && offset == expected) return BlockTake::Next;
        // The first block of an update, also when the host started over.
        if (offset == 0) return BlockTake::NewTransfer;
    } else if (kind == 20) {
        if (t.active && t.image == 0 && offset == 0) return BlockTake::SecondImage;
        if (t.active && t.image == 1 && offset == expected) return BlockTake::Next;
    } else if (kind == 17) {
        // After an empty second image the host may carry offset 0 here
        // instead of the offset that follows the last block; both are taken.
        if (t.active && (offset == expected || offset == 0)) return BlockTake::Checksum;
    }
    return BlockTake::Refuse;
}

}  // namespace

BlockDecision DecideBlock(const SimFrame& frame, const SimTransfer& t) {
    BlockDecision d;
    const auto& p = frame.payload;
    if (p.size() != kBlockPayload) {
        d.why = "payload of " + std::to_string(p.size()) + " bytes";
        return d;
    }
    if (p[0] != 0 || p[1] != 0) {
        d.why = "header bytes B0 B1 = " + std::to_string(p[0]) + " " + std::to_string(p[1]);
        return d;
    }
    d.offset = (static_cast<unsigned>(p[3]) << 8) | p[4];
    d.take = Place(frame.kind, d.offset, t);
    if (d.take == BlockTake::Refuse) {
        d.why = "kind " + std::to_string(frame.kind) + " block at offset " + Hex(d.offset) +
                (t.active ? ", expected " + Hex(t.expected & 0xFFFFu) + " in image " +
                                std::to_string(t.image + 1)
                          : ", no transfer under way");
    }
    return d;
}

std::string CheckB2(const BlockDecision& d, const std::vector<std::uint8_t>& p,
                    const SimTransfer& t) {
    const unsigned b2 = p[2];
    if (d.take == BlockTake::Next && b2 != p[3])
        return "B2 " + Hex(b2) + " differs from B3 " + Hex(p[3]);
    if (d.take == BlockTake::SecondImage && b2 != ((t.expected >> 8) & 0xFFu))
        return "first block of image 2 has B2 " + Hex(b2) + ", image 1 ended at " + Hex(t.expected);
    return {};
}

std::uint32_t ReceivedChecksum(const std::vector<std::uint8_t>& p) {
    return static_cast<std::uint32_t>(p[5]) | (static_cast<std::uint32_t>(p[6]) << 8) |
           (static_cast<std::uint32_t>(p[7]) << 16) | (static_cast<std::uint32_t>(p[8]) << 24);
}

std::string Hex(unsigned v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

}  // namespace qsim
