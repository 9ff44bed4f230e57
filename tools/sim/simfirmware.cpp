// The receiver's firmware side: bytes by mode, the text dialect, and the
// restart into the loader.
#include <algorithm>

#include "receiversim.h"
#include "simtexts.h"

namespace qsim {

void ReceiverSim::OnBytes(const std::uint8_t* bytes, std::size_t count) {
    bool wrongSpeed = false;
    if (!m_stream) {
        const int host = HostBaud(m_fd);
        if (host != m_seenBaud) {
            m_seenBaud = host;
            std::lock_guard lock(m_mutex);
            m_stats.lineSpeeds.push_back(host);
            Changed();
        }
        wrongSpeed = m_options.checkSpeed && host != m_listenBaud;
    }
    if (m_mode == SimMode::Restarting || wrongSpeed) {
        std::lock_guard lock(m_mutex);
        m_stats.ignoredBytes += count;
        Changed();
        return;
    }
    if (m_options.pace) {
        const auto wire = std::chrono::microseconds(count * 10'000'000 / m_listenBaud);
        m_wireFree = std::max(m_wireFree, Clock::now()) + wire;
    }
    if (m_mode == SimMode::Loader) {
        m_reader->Feed(bytes, count);
        return;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (m_mode != SimMode::Firmware) {
            // A reset in the middle of the chunk: the rest meets a restarting board.
            std::lock_guard lock(m_mutex);
            m_stats.ignoredBytes += count - i;
            Changed();
            return;
        }
        OnText(bytes[i]);
    }
}

void ReceiverSim::OnText(std::uint8_t byte) {
    if (byte == 0) return;  // commands may be sent with their terminating NUL
    if (byte == '\r' || byte == '\n') {
        if (!m_line.empty()) {
            const std::string line = std::move(m_line);
            m_line.clear();
            OnLine(line);
        }
        return;
    }
    if (m_line.size() < kMaxLine) m_line.push_back(static_cast<char>(byte));
}

void ReceiverSim::OnLine(const std::string& line) {
    {
        std::lock_guard lock(m_mutex);
        if (m_stats.textLines.size() < kMaxKept) m_stats.textLines.push_back(line);
        Changed();
    }
    if (line == "reset") {
        Restart();
        return;
    }
    if (m_mode != SimMode::Firmware) return;  // the loader reads frames, not commands
    bool answer = false;
    {
        std::lock_guard lock(m_mutex);
        if (line == "interfacemode quorvex quorvex on") {
            ++m_stats.interfaceCommands;
        } else if (line == "unlogall") {
            ++m_stats.unlogallCommands;
        } else if (line == "tst usbcmdreset") {
            ++m_stats.usbResetCommands;
        } else if (line == "log version") {
            ++m_stats.versionRequests;
            answer = m_options.answerVersion;
            if (answer) ++m_stats.versionAnswers;
        }
        Changed();
    }
    if (answer) AnswerVersion();
}

SimOptions ReceiverSim::RecordOptions() const {
    SimOptions o = m_options;
    if (m_updated && !o.cpuVersionAfter.empty()) o.cpuVersion = o.cpuVersionAfter;
    if (m_updated && !o.fpgaVersionAfter.empty()) o.fpgaVersion = o.fpgaVersionAfter;
    return o;
}

void ReceiverSim::AnswerVersion() {
    const std::string text =
        m_options.noiseBefore + VersionRecord(RecordOptions()) + m_options.noiseAfter;
    const std::size_t pieces = static_cast<std::size_t>(
        std::clamp(m_options.recordPieces, 1, static_cast<int>(text.size())));
    const std::size_t step = (text.size() + pieces - 1) / pieces;
    auto when = Clock::now();
    for (std::size_t pos = 0; pos < text.size(); pos += step) {
        const std::string piece = text.substr(pos, step);
        std::vector<std::uint8_t> bytes(piece.begin(), piece.end());
        if (pos == 0) {
            Send(bytes);
        } else {
            At(when, [this, bytes] { Send(bytes); });
        }
        when += std::chrono::milliseconds(std::max(0, m_options.recordPieceGapMs));
    }
}

void ReceiverSim::Restart() {
    // Whatever the board was doing ends here: pending answers included.
    m_timers.clear();
    m_reader->Reset();
    m_line.clear();
    m_silent = false;
    m_mode = SimMode::Restarting;
    {
        std::lock_guard lock(m_mutex);
        ++m_stats.resets;
        m_stats.mode = m_mode;
        Changed();
    }
    Notify(SimEvent::Restarting);
    At(Clock::now() + std::chrono::milliseconds(std::max(0, m_options.loaderStartDelayMs)),
       [this] { StartLoader(); });
}

void ReceiverSim::StartLoader() {
    m_mode = SimMode::Loader;
    m_listenBaud = LoaderBaud(m_options.bootVersion);
    m_reader->Reset();
    m_line.clear();
    {
        std::lock_guard lock(m_mutex);
        ++m_stats.loaderStarts;
        m_stats.mode = m_mode;
        m_stats.listenBaud = m_listenBaud;
        Changed();
    }
    Notify(SimEvent::LoaderStarted);
}

}  // namespace qsim
