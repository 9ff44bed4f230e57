#include "navformat.h"

#include <QLoggingCategory>
#include <algorithm>
#include <vector>

#include "trace.h"

namespace {

constexpr std::uint8_t kDollar = 0x24;
constexpr int kIndexLimit = 64;  // the write index is set back past this

}  // namespace

bool CQuillmereNavFormat::ParseByte(std::uint8_t byte) {
    if (m_nPendingLen != 0 && NextFrame()) {
        // The frame just found comes first; this byte waits its turn.
        m_pending[(m_nPendingHead + m_nPendingLen++) % kPendingSize] = byte;
        return true;
    }
    return Step(byte) || (m_nPendingLen != 0 && NextFrame());
}

bool CQuillmereNavFormat::NextFrame() {
    while (m_nPendingLen != 0) {
        const std::uint8_t byte = m_pending[m_nPendingHead];
        m_nPendingHead = (m_nPendingHead + 1) % kPendingSize;
        --m_nPendingLen;
        if (Step(byte)) return true;
    }
    return false;
}

// Every byte after a failed frame's first "$" may start a frame: a stray "$"
// or a cut-off frame must not hide the reply right behind it. The held bytes
// go back in front of those still waiting.
void CQuillmereNavFormat::Rescan() {
    for (int i = s_nFrameIndex - 1; i >= 1; --i) {
        m_nPendingHead = (m_nPendingHead + kPendingSize - 1) % kPendingSize;
        m_pending[m_nPendingHead] = m_frame[static_cast<std::size_t>(i)];
        ++m_nPendingLen;
    }
    s_nFrameIndex = 0;
    m_nState = 0;
}

bool CQuillmereNavFormat::Step(std::uint8_t byte) {
    bool complete = false;
    auto take = [&] { m_frame[static_cast<std::size_t>(s_nFrameIndex++)] = byte; };

    switch (m_nState) {
        case 0:
            if (byte == kDollar) {
                s_nFrameIndex = 0;
                m_nPayloadLen = 0;
                take();
                m_nState = 1;
            }
            break;
        case 1:
            if (byte == kDollar) {
                take();
                m_nState = 2;
            } else {
                m_nState = 0;
            }
            break;
        case 2:
            take();
            m_chType1 = byte;
            // No type starts with "$": "$$$" is a stray "$" before a frame.
            if (byte == kDollar)
                Rescan();
            else
                m_nState = 3;
            break;
        case 3:
            take();
            m_chType2 = byte;
            m_nState = 4;
            break;
        case 4:
            take();
            m_nKind = byte;
            m_nState = 5;
            break;
        case 5:
            take();
            m_nPayloadLen = byte;
            // A payload that cannot be held in the frame buffer is not a frame we
            // can check.
            if (m_nPayloadLen > kMaxPayload)
                Rescan();
            else
                m_nState = byte == 0 ? 7 : 6;
            break;
        case 6:
            take();
            if (s_nFrameIndex - 6 == m_nPayloadLen) m_nState = 7;
            break;
        case 7:
            take();
            m_nState = 8;
            break;
        case 8:
            take();
            if (byte == 0x0D)
                m_nState = 9;
            else
                Rescan();
            break;
        case 9:
            take();
            m_nState = 0;
            complete = EndFrame(byte);
            break;
        default:
            m_nState = 0;
            break;
    }
    if (s_nFrameIndex > kIndexLimit) s_nFrameIndex = 0;
    return complete;
}

bool CQuillmereNavFormat::EndFrame(std::uint8_t byte) {
    bool valid = false;
    if (byte == 0x0A) {
        const int n = s_nFrameIndex;
        std::uint8_t x = 0;
        for (int i = 2; i <= n - 4; ++i) x ^= m_frame[static_cast<std::size_t>(i)];
        valid = x == m_frame[static_cast<std::size_t>(n - 3)];
        if (!valid) qCDebug(lcTrace, "Received Data %d, %d is wrong ?", m_chType1, m_chType2);
    }
    if (!valid) {
        Rescan();
        return false;
    }
    // A frame with kind bit 3 is whole but not for the host: it is passed
    // over, not searched.
    return (m_nKind & 0x08) == 0;
}

void CQuillmereNavFormat::DispatchFrame(IFrameHandler& handler) {
    if (m_chType1 != s_chPrevType1 || m_chType2 != s_chPrevType2) {
        m_nJoinedLen = 0;
        m_bDropping = false;
    }
    s_chPrevType1 = m_chType1;
    s_chPrevType2 = m_chType2;

    // A message that would pass the joining buffer is discarded whole: its
    // remaining frames are dropped up to its last one, so no tail of it is
    // ever handed on as a message of its own.
    if (m_bDropping || m_nJoinedLen + m_nPayloadLen > kJoinedSize) {
        m_nJoinedLen = 0;
        m_bDropping = m_nPayloadLen >= kContinues;
        return;
    }
    std::copy_n(Payload(), m_nPayloadLen, m_joined.begin() + m_nJoinedLen);
    m_nJoinedLen = static_cast<std::uint16_t>(m_nJoinedLen + m_nPayloadLen);
    if (m_nPayloadLen >= kContinues) return;

    // A handler may feed the parser again (the transfer's one-message pump
    // re-enters the link-data handling), and a nested frame overwrites
    // m_frame and m_joined: the handler gets its own copy of the message.
    const unsigned len = m_nJoinedLen;
    std::array<std::uint8_t, kMaxPayload> shortCopy;
    std::vector<std::uint8_t> longCopy;
    std::uint8_t* msg = shortCopy.data();
    if (len > shortCopy.size()) {
        longCopy.resize(len);
        msg = longCopy.data();
    }
    std::copy_n(m_joined.begin(), len, msg);
    const char t1 = static_cast<char>(m_chType1);
    const char t2 = static_cast<char>(m_chType2);
    m_nJoinedLen = 0;
    if (t1 == 'S' && t2 == 'S') {
        handler.OnIdentifyReply(msg, len);
    } else if (t1 == 'A' && t2 == 'T') {
        handler.OnStartReply();
    } else if (t1 == 'S' && t2 == 'T') {
        // recognised, nothing to do
    } else if (t1 == 'S' && t2 == 'X') {
        handler.OnBlockReply(msg, len);
    } else if (t1 == 'S' && t2 == 'V') {
        handler.OnStopPolling();
    } else if (t1 == 'S' && t2 == 'C') {
        if (handler.IsAwaitingCompletion()) {
            handler.OnCompleteReply();
            handler.ClearAwaitCompletion();
        }
    } else if (t1 == 'V' && t2 == 'X') {
        handler.OnVxReply();
    }
}
