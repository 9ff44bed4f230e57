#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

// What the frame dispatcher calls, one entry per frame type the host acts on.
// The main frame implements it; tests implement it to record dispatches.
class IFrameHandler {
public:
    virtual ~IFrameHandler() = default;
    virtual int OnIdentifyReply(const std::uint8_t* payload, unsigned length) = 0;  // "SS"
    virtual int OnStartReply() = 0;                                                 // "AT"
    virtual int OnBlockReply(const std::uint8_t* payload, unsigned length) = 0;     // "SX"
    virtual void OnStopPolling() = 0;                                               // "SV"
    virtual int OnCompleteReply() = 0;                                              // "SC"
    virtual int OnVxReply() = 0;                                                    // "VX"
    // "SC" is acted on only while the update view waits for it; the
    // dispatcher clears the flag after an acted-on "SC".
    virtual bool IsAwaitingCompletion() const = 0;
    virtual void ClearAwaitCompletion() = 0;
};

// Picks receiver frames ("$$", two type letters, kind, length N, N payload
// bytes, XOR, CR, LF) out of a byte stream and joins messages that span frames.
class CQuillmereNavFormat {
public:
    static constexpr std::size_t kFrameSize = 72;
    static constexpr std::size_t kJoinedSize = 30000;
    static constexpr unsigned kMaxPayload = 56;  // longer frames cannot be held and are dropped
    static constexpr unsigned kContinues = 55;   // a payload this long continues in the next frame

    CQuillmereNavFormat() = default;
    virtual ~CQuillmereNavFormat() = default;

    // True when this byte completed a valid frame whose kind has bit 3 clear;
    // call DispatchFrame before feeding the next byte.
    bool ParseByte(std::uint8_t byte);
    // The handler's payload is a copy that stays intact while it runs, even
    // when the handler feeds this parser again.
    void DispatchFrame(IFrameHandler& handler);

    // The last completed frame, for callers and tests.
    char Type1() const { return static_cast<char>(m_chType1); }
    char Type2() const { return static_cast<char>(m_chType2); }
    std::uint8_t Kind() const { return m_nKind; }
    std::uint16_t PayloadLen() const { return m_nPayloadLen; }
    const std::uint8_t* Payload() const { return m_frame.data() + 6; }

private:
    int m_nState = 0;
    std::uint8_t m_chType1 = 0;
    std::uint8_t m_chType2 = 0;
    std::uint8_t m_nKind = 0;
    std::uint16_t m_nPayloadLen = 0;
    std::array<std::uint8_t, kFrameSize> m_frame{};
    std::uint16_t m_nJoinedLen = 0;
    std::array<std::uint8_t, kJoinedSize> m_joined{};
    bool m_bDropping = false;  // the current message overflowed; drop it to its last frame
    // There is one parser in the program, so the write index and the previous
    // type letters live with it rather than at file scope.
    int s_nFrameIndex = 0;
    std::uint8_t s_chPrevType1 = 0;
    std::uint8_t s_chPrevType2 = 0;
};

// One encoded frame: at most 256 bytes of letters, kind, length and payload,
// then the checksum, CR and LF.
struct EncodedFrame {
    std::array<std::uint8_t, 259> bytes{};
    std::size_t size = 0;
    const std::uint8_t* data() const { return bytes.data(); }
};

// Encodes a text command ("SS, B49,B54,", "AT", "SX, B0, ..." with B/W/L/S
// tokens) into a frame with the given kind byte.
EncodedFrame EncodeCommand(std::string_view text, std::uint8_t kind);
