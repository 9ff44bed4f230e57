#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qsim {

// One loader frame: "$$", two type letters, kind, length N, N payload bytes,
// XOR of type, kind, length and payload, CR, LF.
struct SimFrame {
    char type[2] = {0, 0};
    std::uint8_t kind = 0;
    std::vector<std::uint8_t> payload;

    bool Is(const char* t) const { return type[0] == t[0] && type[1] == t[1]; }
    std::string TypeText() const { return std::string(type, 2); }
};

// Wire bytes of a frame; a payload longer than 255 bytes is cut to 255.
std::vector<std::uint8_t> WriteFrame(const char* type, std::uint8_t kind,
                                     const std::vector<std::uint8_t>& payload);

// Picks frames out of a byte stream. Bytes that belong to no valid frame are
// handed to the text sink in their order, so text commands that arrive
// between frames are still seen. A broken frame gives up only its first "$":
// the search goes on at the next byte.
class FrameReader {
public:
    using FrameSink = std::function<void(const SimFrame&)>;
    using TextSink = std::function<void(std::uint8_t)>;
    using BadSink = std::function<void(const std::string&)>;

    FrameReader(FrameSink onFrame, TextSink onText, BadSink onBad);

    void Feed(const std::uint8_t* bytes, std::size_t count);
    // Forgets a frame in progress (the receiver restarted). May be called
    // from a sink: the bytes after the one being handed over are dropped.
    void Reset() {
        m_buf.clear();
        m_reset = true;
    }

private:
    void Scan();

    FrameSink m_onFrame;
    TextSink m_onText;
    BadSink m_onBad;
    std::vector<std::uint8_t> m_buf;
    bool m_reset = false;
};

}  // namespace qsim
