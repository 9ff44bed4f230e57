#include "blocksource.h"

#include <algorithm>
#include <cstring>

#include "crc32.h"

std::uint32_t GetNextBlock(CTransferState& s, std::uint8_t* blockKind, std::uint8_t* buffer) {
    if (!s.m_bSecondImage) {
        if (s.m_nPos < s.m_nImageSize) {
            *blockKind = kKindFirstImage;
        } else if (s.m_bHasFpga) {
            *blockKind = kKindSecondImage;
            s.m_bSecondImage = true;
            const std::uint32_t firstSize = s.m_nImageSize;
            s.m_pImage = s.m_pSecondImage;
            s.m_nImageSize = s.m_nTotalSize - firstSize;
            s.m_nPos = 0;
            // An empty second image sends no block: the checksum block then
            // keeps the offset that follows the first image's last block, as
            // every other checksum block follows the last block sent.
            if (s.m_nImageSize != 0) s.m_nAddress = 0;
        } else if (s.m_nEndState == 0) {
            s.m_nEndState = 1;
        }
        if (s.m_bSecondImage && s.m_nPos >= s.m_nImageSize && s.m_nEndState == 0) s.m_nEndState = 1;
    } else if (s.m_nPos >= s.m_nImageSize && s.m_nEndState == 0) {
        s.m_nEndState = 1;
    }

    switch (s.m_nEndState) {
        case 0: {
            const std::uint32_t left = s.m_nImageSize - s.m_nPos;
            const std::uint32_t n = std::min(left, kBlockSize);
            std::memcpy(buffer, s.m_pImage + s.m_nPos, n);
            std::memset(buffer + n, kPadByte, kBlockSize - n);
            s.m_nPos += kBlockSize;
            s.m_nProgress += kBlockSize;
            s.m_nCrc = UpdateCrc(buffer, kBlockSize, s.m_nCrc);
            return kBlockSize;
        }
        case 1:
            *blockKind = kKindChecksum;
            for (int i = 0; i < 4; ++i) buffer[i] = static_cast<std::uint8_t>(s.m_nCrc >> (8 * i));
            std::memset(buffer + 4, kPadByte, kBlockSize - 4);
            s.m_nEndState = 2;
            return kBlockSize;
        default:
            return 0;
    }
}
