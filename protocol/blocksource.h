#pragma once

#include <cstdint>

// The transfer engine's view of the images being sent; the block source
// below moves through it. Each engine holds its own.
struct CTransferState {
    const std::uint8_t* m_pImage = nullptr;
    std::uint32_t m_nImageSize = 0;
    const std::uint8_t* m_pSecondImage = nullptr;
    std::uint32_t m_nTotalSize = 0;
    bool m_bSecondImage = false;
    bool m_bHasFpga = false;
    std::uint32_t m_nProgress = 0;  // bytes taken from the images, pad bytes included
    std::uint32_t m_nAddress = 0;   // offset within the current image of the next block
    std::uint32_t m_nPos = 0;       // read position within the current image
    std::uint32_t m_nCrc = 0;       // running block checksum, byte-reversed as chained
    int m_nEndState = 0;            // 0: data blocks; 1: checksum block due; 2: everything sent
};

inline constexpr std::uint32_t kBlockSize = 128;
// The last block of an image is completed with erased-flash bytes, and the
// checksum block's 124 bytes after the CRC are the same filler.
inline constexpr std::uint8_t kPadByte = 0xFF;

enum BlockKind : std::uint8_t {
    kKindFirstImage = 21,
    kKindSecondImage = 20,
    kKindChecksum = 17,
    kKindIdle = 24,
};

// Fills the 128-byte buffer with the next block and sets the kind byte the
// frame will carry; returns 128, or 0 once the checksum block has gone.
std::uint32_t GetNextBlock(CTransferState& state, std::uint8_t* blockKind, std::uint8_t* buffer);
