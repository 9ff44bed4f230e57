#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "simframe.h"

namespace qsim {

// Where the loader stands in a transfer: the image being received (0 or 1),
// the offset it expects next in it, and the checksum chained so far.
struct SimTransfer {
    bool active = false;
    int image = 0;
    std::uint32_t expected = 0;
    std::uint32_t crc = 0;
};

// What an "SX" block does to the transfer.
enum class BlockTake { Refuse, Next, NewTransfer, SecondImage, Checksum };

struct BlockDecision {
    BlockTake take = BlockTake::Refuse;
    unsigned offset = 0;  // B3 * 256 + B4
    std::string why;      // why it is refused
};

// Decides from the block's kind and header where it belongs; the transfer
// is not changed, so a block refused leaves no trace in it.
BlockDecision DecideBlock(const SimFrame& frame, const SimTransfer& transfer);

// What is wrong with the B2 header byte of a block taken; empty when it is
// right. B2 carries bits 8..15 of the host's address before it took the
// block: the offset itself, except on the switch to the second image.
std::string CheckB2(const BlockDecision& decision, const std::vector<std::uint8_t>& payload,
                    const SimTransfer& transfer);

// The CRC a checksum block carries: payload bytes 5..8, least significant first.
std::uint32_t ReceivedChecksum(const std::vector<std::uint8_t>& payload);

// "0x1A2B": how the block checks write numbers.
std::string Hex(unsigned value);

}  // namespace qsim
