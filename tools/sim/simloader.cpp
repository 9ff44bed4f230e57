// The receiver's loader: frames, identification, blocks and their acks,
// the checksum's outcome.
#include <algorithm>

#include "receiversim.h"
#include "simblock.h"
#include "simcrc.h"
#include "simtexts.h"

namespace qsim {
namespace {

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& what) {
    to.insert(to.end(), what.begin(), what.end());
}

}  // namespace

void ReceiverSim::OnFrame(const SimFrame& frame) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stats.frames.size() < kMaxKept) {
            m_stats.frames.push_back({{frame.type[0], frame.type[1]},
                                      frame.kind,
                                      static_cast<std::uint8_t>(frame.payload.size())});
            m_stats.frameKinds.push_back(frame.kind);
        }
        Changed();
    }
    if (m_silent) {
        std::lock_guard lock(m_mutex);
        m_stats.ignoredBytes += frame.payload.size() + 9;
        Changed();
        return;
    }
    if (frame.Is("SS")) {
        if (frame.payload != std::vector<std::uint8_t>{49, 54}) {
            Error("\"SS\" poll with an unexpected payload of " +
                  std::to_string(frame.payload.size()) + " bytes");
        }
        {
            std::lock_guard lock(m_mutex);
            ++m_stats.ssPolls;
            ++m_stats.ssAnswers;
            Changed();
        }
        AnswerIdentification();
        return;
    }
    if (frame.Is("AT")) {
        {
            std::lock_guard lock(m_mutex);
            ++m_stats.atFrames;
            Changed();
        }
        // Blocks come at 115200 whatever speed the identification used. The
        // figures change before the answer goes out, so whoever has read the
        // answer also sees them.
        SetListenBaud(115200);
        Send(WriteFrame("AT", m_options.replyKind, {}));
        return;
    }
    if (frame.Is("SX")) {
        OnBlock(frame);
        return;
    }
    Error("unexpected frame \"" + frame.TypeText() + "\" kind " + std::to_string(frame.kind));
}

void ReceiverSim::AnswerIdentification() {
    const std::vector<std::uint8_t> payload = IdentificationPayload(m_options);
    const std::size_t chunk =
        static_cast<std::size_t>(std::clamp(m_options.ssFramePayload, 1, 255));
    std::vector<std::uint8_t> out;
    std::size_t pos = 0;
    // A payload of 55 bytes or more tells the host that the message goes on in
    // the next frame, so the last frame must be shorter (possibly empty).
    while (payload.size() - pos >= 55) {
        const std::size_t n = std::min(chunk, payload.size() - pos);
        Append(out, WriteFrame("SS", m_options.replyKind,
                               {payload.begin() + static_cast<std::ptrdiff_t>(pos),
                                payload.begin() + static_cast<std::ptrdiff_t>(pos + n)}));
        pos += n;
    }
    Append(out, WriteFrame("SS", m_options.replyKind,
                           {payload.begin() + static_cast<std::ptrdiff_t>(pos), payload.end()}));
    // A board of the loader family starts its transfer on this answer, others
    // after "AT"; either way the blocks come at 115200.
    const std::string& family = m_options.loaderFamily;
    if (m_options.partNumber.compare(0, family.size(), family) == 0) SetListenBaud(115200);
    Send(out);
}

void ReceiverSim::SetListenBaud(int baud) {
    m_listenBaud = baud;
    std::lock_guard lock(m_mutex);
    m_stats.listenBaud = baud;
    Changed();
}

void ReceiverSim::OnBlock(const SimFrame& frame) {
    const int number = CountBlock(frame.kind);
    if (m_options.hangUpAfterBlocks > 0 && number > m_options.hangUpAfterBlocks) {
        HangUp();
        return;
    }
    if (m_options.silentAfterBlocks > 0 && number > m_options.silentAfterBlocks) {
        m_silent = true;
        return;
    }
    const BlockDecision decision = DecideBlock(frame, m_transfer);
    if (decision.take == BlockTake::Refuse) {
        Error("block " + std::to_string(number) + " refused: " + decision.why);
        SendAck(false, number);
        return;
    }
    if (RefuseOnPurpose()) {
        SendAck(false, number);
        return;
    }
    if (std::string wrong = CheckB2(decision, frame.payload, m_transfer); !wrong.empty())
        Error("block " + std::to_string(number) + ": " + wrong);
    if (decision.take == BlockTake::Checksum) {
        TakeChecksum(frame.payload, decision.offset, number);
        return;
    }
    TakeBlock(decision.take, frame.payload);
    SendAck(true, number);
}

int ReceiverSim::CountBlock(std::uint8_t kind) {
    std::lock_guard lock(m_mutex);
    switch (kind) {
        case 21:
            ++m_stats.cpuBlocks;
            break;
        case 20:
            ++m_stats.fpgaBlocks;
            break;
        case 17:
            ++m_stats.checksumBlocks;
            break;
        default:
            ++m_stats.otherBlocks;
            break;
    }
    Changed();
    return ++m_stats.sxFrames;
}

// Every nakEvery-th new block is refused once; its resend is taken.
bool ReceiverSim::RefuseOnPurpose() {
    if (m_options.nakEvery <= 0) return false;
    if (m_nakPending) {
        m_nakPending = false;
        return false;
    }
    if (++m_newBlocks % m_options.nakEvery != 0) return false;
    m_nakPending = true;
    std::lock_guard lock(m_mutex);
    ++m_stats.injectedNaks;
    return true;
}

void ReceiverSim::TakeChecksum(const std::vector<std::uint8_t>& payload, unsigned offset,
                               int number) {
    const std::uint32_t received = ReceivedChecksum(payload);
    const bool good = received == m_transfer.crc;
    m_transfer.active = false;
    {
        std::lock_guard lock(m_mutex);
        m_stats.lastChecksumReceived = received;
        m_stats.lastChecksumComputed = m_transfer.crc;
        m_stats.lastChecksumOffset = static_cast<int>(offset);
        Changed();
    }
    if (!good)
        Error("checksum " + Hex(received) + " received, " + Hex(m_transfer.crc) + " computed");
    SendAck(true, number);
    WriteRecords();
    At(Clock::now() + std::chrono::milliseconds(std::max(0, m_options.completionDelayMs)),
       [this, good] { Complete(good); });
}

void ReceiverSim::TakeBlock(BlockTake take, const std::vector<std::uint8_t>& payload) {
    if (take == BlockTake::NewTransfer) {
        m_transfer = SimTransfer{true, 0, 0, 0};
        std::lock_guard lock(m_mutex);
        m_images.assign(1, {});
        ++m_stats.transfersStarted;
    } else if (take == BlockTake::SecondImage) {
        m_transfer.image = 1;
        m_transfer.expected = 0;
        std::lock_guard lock(m_mutex);
        m_images.resize(2);
    }
    const std::uint8_t* data = payload.data() + 5;
    m_transfer.crc = BlockCrc(data, 128, m_transfer.crc);
    m_transfer.expected += 128;
    std::lock_guard lock(m_mutex);
    auto& image = m_images[static_cast<std::size_t>(m_transfer.image)];
    image.insert(image.end(), data, data + 128);
}

void ReceiverSim::SendAck(bool positive, int number) {
    std::vector<std::uint8_t> out;
    if (m_options.interleaveSt) Append(out, WriteFrame("ST", m_options.replyKind, {0, 1}));
    if (m_options.interleaveBit3) {
        // A negative answer the host must ignore for its kind alone.
        Append(out, WriteFrame("SX", static_cast<std::uint8_t>(m_options.replyKind | 0x08), {0}));
    }
    if (m_options.interleaveText) {
        const std::string text = "\r\n<loader: block stored, flash busy>\r\n";
        out.insert(out.end(), text.begin(), text.end());
    }
    std::vector<std::uint8_t> ack =
        WriteFrame("SX", m_options.replyKind, {static_cast<std::uint8_t>(positive ? 1 : 0)});
    if (number == m_options.corruptAckAt) ack[ack.size() - 3] ^= 0x5A;
    if (number == m_options.dropAckByteAt) ack.pop_back();
    Append(out, ack);
    {
        std::lock_guard lock(m_mutex);
        ++(positive ? m_stats.positiveAcks : m_stats.negativeAcks);
        Changed();
    }
    Send(out);
}

void ReceiverSim::Complete(bool good) {
    if (good && m_vxLeft > 0) {
        --m_vxLeft;
        good = false;
    }
    {
        std::lock_guard lock(m_mutex);
        if (good) {
            ++m_stats.scSent;
            ++m_stats.completedUpdates;
            // The board reboots into its new firmware and speaks text again.
            m_mode = SimMode::Firmware;
            m_updated = true;
            m_listenBaud = 115200;
            m_line.clear();
            m_stats.mode = m_mode;
            m_stats.listenBaud = m_listenBaud;
        } else {
            ++m_stats.vxSent;
        }
        Changed();
    }
    Send(WriteFrame(good ? "SC" : "VX", m_options.replyKind, {}));
    if (!good) return;
    Notify(SimEvent::Completed);
    if (m_options.hangUpAfterScMs >= 0) {
        At(Clock::now() + std::chrono::milliseconds(m_options.hangUpAfterScMs),
           [this] { HangUp(); });
    }
}

void ReceiverSim::HangUp() {
    CloseLine();
    m_timers.clear();
    m_out.clear();
    m_mode = SimMode::HungUp;
    {
        std::lock_guard lock(m_mutex);
        m_stats.mode = m_mode;
        Changed();
    }
    Notify(SimEvent::HungUp);
}

}  // namespace qsim
