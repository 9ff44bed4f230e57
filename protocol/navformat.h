#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

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

    // True when a valid frame whose kind has bit 3 clear is ready; call
    // DispatchFrame before feeding the next byte. A valid frame is taken whole,
    // whatever its payload holds, and is ready on its own line feed. When a
    // started frame fails (a third "$", a length over kMaxPayload, no CR or LF,
    // a wrong checksum), the bytes after its first "$" are searched again, so
    // no frame that starts among them is lost, even one lying wholly inside.
    // That search can find several frames at once: the first is ready now,
    // each of the others on a later call, ahead of that call's byte.
    bool ParseByte(std::uint8_t byte);
    // True when a frame found by that search still waits: dispatch it and ask
    // again, to take them all without waiting for another byte.
    bool NextFrame();
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
    bool Step(std::uint8_t byte);
    // At the byte after CR, taken: true when the frame is whole, valid and
    // for the host; a failed frame is searched again.
    bool EndFrame(std::uint8_t byte);
    void Rescan();

    // A failed frame leaves at most 64 bytes to search again, and a call that
    // reports a waiting frame adds one byte but takes nine or more.
    static constexpr unsigned kPendingSize = 128;

    int m_nState = 0;
    std::uint8_t m_chType1 = 0;
    std::uint8_t m_chType2 = 0;
    std::uint8_t m_nKind = 0;
    std::uint16_t m_nPayloadLen = 0;
    std::array<std::uint8_t, kFrameSize> m_frame{};
    std::uint16_t m_nJoinedLen = 0;
    std::array<std::uint8_t, kJoinedSize> m_joined{};
    bool m_bDropping = false;  // the current message overflowed; drop it to its last frame
    // Bytes received but not yet searched, in order: a ring.
    std::array<std::uint8_t, kPendingSize> m_pending{};
    unsigned m_nPendingHead = 0;
    unsigned m_nPendingLen = 0;
    // There is one parser in the program, so the write index and the previous
    // type letters live with it rather than at file scope.
    int s_nFrameIndex = 0;
    std::uint8_t s_chPrevType1 = 0;
    std::uint8_t s_chPrevType2 = 0;
};
