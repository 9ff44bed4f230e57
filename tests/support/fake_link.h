#pragma once

// A link the test scripts: it records every write, speed change and release,
// answers through a receiver script, and can fail on demand. Replies reach
// the engine as a real link's would: bytes wait in the link and a notice
// comes from the event loop, never from within the engine's own write.

#include <QObject>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "link.h"
#include "linkchoice.h"
#include "receiversim.h"
#include "simframe.h"
#include "simtexts.h"

using Bytes = std::vector<std::uint8_t>;

// What the test sees of the link and sets up before the engine opens it.
struct FakeLinkState {
    LinkKind kind = LinkKind::Serial;
    bool openOk = true;
    LinkRefusal refusal = LinkRefusal::None;
    bool ready = true;          // USB: the device is there
    bool reattachFinds = true;  // USB: the next Reattach finds the device
    std::string device = "/dev/fake0";

    std::vector<std::string> log;  // "open", "speed 9600", "write", "release", "close"
    std::vector<Bytes> writes;
    std::vector<std::uint32_t> speeds;
    int opens = 0;
    bool open = false;

    // Called for every write; answers with Reply().
    std::function<void(const Bytes&)> onWrite;

    ILinkListener* listener = nullptr;
    std::deque<std::uint8_t> rx;
    QObject notices;  // context of the queued data notices

    void Reply(const Bytes& bytes) {
        rx.insert(rx.end(), bytes.begin(), bytes.end());
        QMetaObject::invokeMethod(
            &notices,
            [this] {
                if (listener) listener->OnLinkDataReady();
            },
            Qt::QueuedConnection);
    }
    void Reply(std::string_view text) { Reply(Bytes(text.begin(), text.end())); }
    // USB: the link's thread found the device.
    void Arrive() {
        ready = true;
        if (listener) listener->OnLinkReady();
    }
    void Lose(const std::string& why) {
        if (listener) listener->OnLinkError(why, true);
    }
    std::size_t SpeedChanges(std::uint32_t baud) const {
        std::size_t n = 0;
        for (auto s : speeds) n += s == baud;
        return n;
    }
};

class FakeLink : public ILink {
public:
    explicit FakeLink(std::shared_ptr<FakeLinkState> state) : m_s(std::move(state)) {}

    LinkKind Kind() const override { return m_s->kind; }
    bool Open(ILinkListener* listener) override {
        m_s->log.push_back("open");
        ++m_s->opens;
        if (!m_s->openOk) return false;
        m_s->listener = listener;
        m_s->open = true;
        return true;
    }
    bool IsReady() const override { return m_s->open && m_s->ready; }
    bool Reattach() override {
        if (m_s->reattachFinds) m_s->ready = true;
        return IsReady();
    }
    void Write(const std::uint8_t* bytes, std::size_t length) override {
        Bytes b(bytes, bytes + length);
        m_s->log.push_back("write");
        m_s->writes.push_back(b);
        if (m_s->onWrite) m_s->onWrite(b);
    }
    void SetSpeed(std::uint32_t baud) override {
        m_s->log.push_back("speed " + std::to_string(baud));
        m_s->speeds.push_back(baud);
    }
    void Release() override {
        m_s->log.push_back("release");
        m_s->ready = false;
    }
    void Close() override {
        m_s->log.push_back("close");
        m_s->open = false;
        m_s->listener = nullptr;
    }
    std::size_t Read(std::uint8_t* buffer, std::size_t size) override {
        std::size_t n = 0;
        while (n < size && !m_s->rx.empty()) {
            buffer[n++] = m_s->rx.front();
            m_s->rx.pop_front();
        }
        return n;
    }
    LinkRefusal Refusal() const override { return m_s->refusal; }
    std::string Device() const override { return m_s->device; }

private:
    std::shared_ptr<FakeLinkState> m_s;
};

// A receiver behind the fake link: the text dialect and the loader's frames,
// enough to script each scenario. It reads the host's frames with the
// simulator's own frame reader, never with the program's codec.
class ScriptedReceiver {
public:
    struct Block {
        std::uint8_t kind;
        Bytes payload;  // 5 header bytes and 128 block bytes
    };

    qsim::SimOptions options;
    bool answerVersion = true;
    int answerVersionFrom = 1;    // the request that is answered first
    int versionAnswersLeft = -1;  // answers still to give; -1: no limit
    bool answerPolls = true;
    std::uint32_t loaderBaud = 0;  // not 0: polls are heard only at this line speed
    bool answerAt = true;
    std::function<bool(int block)> nak;  // block numbers from 1; resends are not counted
    int silentAfterBlocks = 0;           // blocks after this many get no answer
    int vxLeft = 0;                      // checksum blocks answered with "VX"
    bool completeAfterChecksum = true;

    int versionRequests = 0;
    int resets = 0;
    int polls = 0;
    int atFrames = 0;
    std::vector<Block> blocks;  // every block frame, resends included
    std::vector<std::uint8_t> pollKinds;

    explicit ScriptedReceiver(FakeLinkState& link)
        : m_link(link),
          m_reader([this](const qsim::SimFrame& f) { OnFrame(f); },
                   [this](std::uint8_t b) { OnText(b); }, [](const std::string&) {}) {
        link.onWrite = [this](const Bytes& b) { m_reader.Feed(b.data(), b.size()); };
    }

    // The data of the image blocks received last time, in order, without
    // resends (kind 21 or 20).
    Bytes Image(std::uint8_t kind) const {
        Bytes image;
        std::uint32_t next = 0;
        for (const Block& b : blocks) {
            if (b.kind != kind) continue;
            const std::uint32_t offset = (b.payload[3] << 8) | b.payload[4];
            if (offset == 0) image.clear(), next = 0;
            if (offset != next) continue;
            image.insert(image.end(), b.payload.begin() + 5, b.payload.end());
            next += 128;
        }
        return image;
    }
    void Send(const char* type, const Bytes& payload) {
        m_link.Reply(qsim::WriteFrame(type, options.replyKind, payload));
    }

private:
    void OnText(std::uint8_t byte) {
        if (byte == 0) return;
        if (byte != '\n') {
            if (byte != '\r') m_line.push_back(static_cast<char>(byte));
            return;
        }
        if (m_line == "log version" && ++versionRequests >= answerVersionFrom && answerVersion &&
            versionAnswersLeft != 0) {
            if (versionAnswersLeft > 0) --versionAnswersLeft;
            m_link.Reply(qsim::VersionRecord(options));
        }
        if (m_line == "reset") ++resets;
        m_line.clear();
    }
    void OnFrame(const qsim::SimFrame& f) {
        if (f.Is("SS")) {
            if (loaderBaud != 0 && !m_link.speeds.empty() && m_link.speeds.back() != loaderBaud)
                return;
            ++polls;
            pollKinds.push_back(f.kind);
            if (answerPolls) Send("SS", qsim::IdentificationPayload(options));
        } else if (f.Is("AT")) {
            ++atFrames;
            if (answerAt) Send("AT", {});
        } else if (f.Is("SX")) {
            OnBlock(f);
        }
    }
    void OnBlock(const qsim::SimFrame& f) {
        blocks.push_back({f.kind, f.payload});
        if (silentAfterBlocks > 0 && static_cast<int>(blocks.size()) > silentAfterBlocks) return;
        if (f.kind == 17) {
            Send("SX", {1});
            if (!completeAfterChecksum) return;
            if (vxLeft > 0) {
                --vxLeft;
                Send("VX", {});
            } else {
                Send("SC", {});
            }
            return;
        }
        const bool resend = !m_lastNaked.empty() && f.payload == m_lastNaked;
        if (!resend) ++m_newBlocks;
        const bool positive = resend || !nak || !nak(m_newBlocks);
        m_lastNaked = positive ? Bytes{} : f.payload;
        Send("SX", {static_cast<std::uint8_t>(positive ? 1 : 0)});
    }

    FakeLinkState& m_link;
    qsim::FrameReader m_reader;
    std::string m_line;
    int m_newBlocks = 0;
    Bytes m_lastNaked;
};

// A link factory over one shared state, for UpdateEngine.
inline std::function<std::unique_ptr<ILink>(const CLinkChoice&)> FakeLinks(
    std::shared_ptr<FakeLinkState> state) {
    return [state](const CLinkChoice&) { return std::make_unique<FakeLink>(state); };
}
