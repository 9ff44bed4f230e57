#include "receiversim.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "simcrc.h"
#include "simtexts.h"

namespace qsim {
namespace {

constexpr std::size_t kMaxKept = 1000000;  // frames and text lines kept for the record
constexpr std::size_t kMaxErrors = 1000;
constexpr std::size_t kMaxLine = 1024;
constexpr std::size_t kBlockPayload = 133;  // B0..B4 and 128 data bytes

void Append(std::vector<std::uint8_t>& to, const std::vector<std::uint8_t>& what) {
    to.insert(to.end(), what.begin(), what.end());
}

std::string Hex(unsigned v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", v);
    return text;
}

}  // namespace

ImageCheck CompareImage(const std::vector<std::uint8_t>& received,
                        const std::vector<std::uint8_t>& expected) {
    ImageCheck check;
    check.present = true;
    check.receivedSize = received.size();
    const std::size_t common = std::min(received.size(), expected.size());
    const auto diff = std::mismatch(received.begin(), received.begin() + common, expected.begin());
    if (diff.first != received.begin() + common) {
        check.firstDifference = static_cast<std::size_t>(diff.first - received.begin());
    } else if (received.size() < expected.size()) {
        check.firstDifference = received.size();  // cut short
    }
    if (received.size() > expected.size()) {
        check.pad.assign(received.begin() + static_cast<std::ptrdiff_t>(expected.size()),
                         received.end());
    }
    check.equal = check.firstDifference == static_cast<std::size_t>(-1) && check.pad.size() < 128;
    return check;
}

ReceiverSim::ReceiverSim(SimOptions options) : m_options(std::move(options)) {}

ReceiverSim::~ReceiverSim() {
    Stop();
}

bool ReceiverSim::Start(std::string* error) {
    if (m_thread.joinable() || m_fd >= 0) {
        if (error) *error = "already started";
        return false;
    }
    if (!OpenSimPty(&m_pty, error)) return false;
    m_fd = m_pty.master;
    m_stream = false;
    if (!m_options.linkPath.empty()) {
        struct stat st {};
        if (lstat(m_options.linkPath.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                if (error) *error = m_options.linkPath + " exists and is not a symbolic link";
                Stop();
                return false;
            }
            unlink(m_options.linkPath.c_str());
        }
        if (symlink(m_pty.path.c_str(), m_options.linkPath.c_str()) != 0) {
            if (error) *error = "symlink " + m_options.linkPath + ": " + std::strerror(errno);
            Stop();
            return false;
        }
    }
    return StartServing(error);
}

bool ReceiverSim::StartOnStream(int fd, std::string* error) {
    if (m_thread.joinable() || m_fd >= 0) {
        if (error) *error = "already started";
        if (fd >= 0) close(fd);
        return false;
    }
    if (fd < 0) {
        if (error) *error = "no stream";
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    m_fd = fd;
    m_stream = true;
    return StartServing(error);
}

void ReceiverSim::SetObserver(std::function<void(SimEvent)> observer) {
    m_observer = std::move(observer);
}

bool ReceiverSim::StartServing(std::string* error) {
    m_stopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0) {
        if (error) *error = std::string("eventfd: ") + std::strerror(errno);
        Stop();
        return false;
    }
    m_reader = std::make_unique<FrameReader>([this](const SimFrame& f) { OnFrame(f); },
                                             [this](std::uint8_t b) { OnText(b); },
                                             [this](const std::string& what) {
                                                 std::lock_guard lock(m_mutex);
                                                 ++m_stats.badFrames;
                                                 if (m_stats.errors.size() < kMaxErrors)
                                                     m_stats.errors.push_back(what);
                                                 Changed();
                                             });
    m_mode = SimMode::Firmware;
    m_listenBaud = 115200;
    m_vxLeft = m_options.forceVx;
    {
        std::lock_guard lock(m_mutex);
        m_stats.mode = m_mode;
        m_stats.listenBaud = m_listenBaud;
    }
    if (m_options.startInLoader) StartLoader();
    m_thread = std::thread([this] { Run(); });
    return true;
}

void ReceiverSim::Stop() {
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(m_stopFd, &one, sizeof one);
        m_thread.join();
    }
    CloseLine();
    if (m_stopFd >= 0) close(m_stopFd);
    m_stopFd = -1;
    if (!m_options.linkPath.empty() && !m_stream) {
        char target[256] = {};
        const ssize_t n = readlink(m_options.linkPath.c_str(), target, sizeof target - 1);
        if (n > 0 && m_pty.path == std::string(target, static_cast<std::size_t>(n))) {
            unlink(m_options.linkPath.c_str());
        }
    }
    std::lock_guard lock(m_mutex);
    if (m_stats.mode != SimMode::HungUp && m_stats.mode != SimMode::NotStarted) {
        m_stats.mode = SimMode::Stopped;
    }
    Changed();
}

void ReceiverSim::CloseLine() {
    if (m_stream) {
        if (m_fd >= 0) close(m_fd);
    } else {
        CloseSimPty(&m_pty);
    }
    m_fd = -1;
}

ssize_t ReceiverSim::WriteLine(const std::uint8_t* bytes, std::size_t count) {
    // A stream whose reader has gone must not raise SIGPIPE in the test.
    return m_stream ? send(m_fd, bytes, count, MSG_NOSIGNAL) : write(m_fd, bytes, count);
}

void ReceiverSim::Notify(SimEvent event) {
    if (m_observer) m_observer(event);
}

SimStats ReceiverSim::Stats() const {
    std::lock_guard lock(m_mutex);
    return m_stats;
}

bool ReceiverSim::WaitFor(const std::function<bool(const SimStats&)>& pred,
                          std::chrono::milliseconds timeout) const {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return pred(m_stats); });
}

std::vector<std::vector<std::uint8_t>> ReceiverSim::Images() const {
    std::lock_guard lock(m_mutex);
    return m_images;
}

ImageCheck ReceiverSim::CheckImage(std::size_t index,
                                   const std::vector<std::uint8_t>& expected) const {
    std::lock_guard lock(m_mutex);
    if (index >= m_images.size()) return ImageCheck{};
    return CompareImage(m_images[index], expected);
}

void ReceiverSim::Changed() {
    m_changed.notify_all();
}

void ReceiverSim::Error(std::string what) {
    std::lock_guard lock(m_mutex);
    if (m_stats.errors.size() < kMaxErrors) m_stats.errors.push_back(std::move(what));
    Changed();
}

void ReceiverSim::At(Clock::time_point when, std::function<void()> what) {
    m_timers.emplace(when, std::move(what));
}

void ReceiverSim::Run() {
    // Named, so that a benchmark sharing the process can leave it out.
    pthread_setname_np(pthread_self(), "receiver-sim");
    std::uint8_t buf[4096];
    while (m_mode != SimMode::HungUp) {
        int timeout = -1;
        if (!m_timers.empty()) {
            const auto left = m_timers.begin()->first - Clock::now();
            const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
            timeout = ms < 0 ? 0 : static_cast<int>(std::min<long long>(ms, 60000));
        }
        pollfd fds[2] = {{m_stopFd, POLLIN, 0},
                         {m_fd, static_cast<short>(POLLIN | (m_out.empty() ? 0 : POLLOUT)), 0}};
        const int ready = poll(fds, 2, timeout);
        if (ready < 0 && errno != EINTR) break;
        if (ready > 0 && fds[0].revents) break;
        if (ready > 0 && (fds[1].revents & POLLIN)) {
            const ssize_t n = read(m_fd, buf, sizeof buf);
            if (n > 0) {
                OnBytes(buf, static_cast<std::size_t>(n));
            } else if (n == 0 && m_stream) {
                break;  // the transport let go of its end: nobody is left to serve
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                // The master reads EIO only when no slave is open, which our own
                // slave descriptor prevents; back off rather than spin if it happens.
                poll(fds, 1, 10);
            }
        } else if (ready > 0 && (fds[1].revents & (POLLHUP | POLLERR))) {
            poll(fds, 1, 10);
        }
        if (ready > 0 && (fds[1].revents & POLLOUT)) Flush();
        const auto now = Clock::now();
        while (!m_timers.empty() && m_timers.begin()->first <= now && m_mode != SimMode::HungUp) {
            auto what = std::move(m_timers.begin()->second);
            m_timers.erase(m_timers.begin());
            what();
        }
    }
    if (m_mode == SimMode::HungUp) m_finished = true;
}

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

void ReceiverSim::AnswerVersion() {
    const std::string text =
        m_options.noiseBefore + VersionRecord(m_options) + m_options.noiseAfter;
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
    int number = 0;
    {
        std::lock_guard lock(m_mutex);
        number = ++m_stats.sxFrames;
        switch (frame.kind) {
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
    }
    if (m_options.hangUpAfterBlocks > 0 && number > m_options.hangUpAfterBlocks) {
        HangUp();
        return;
    }
    if (m_options.silentAfterBlocks > 0 && number > m_options.silentAfterBlocks) {
        m_silent = true;
        return;
    }

    // Decide first, change state only once the block is taken.
    enum class Take { Refuse, Next, NewTransfer, SecondImage, Checksum };
    Take take = Take::Refuse;
    std::string why;
    const auto& p = frame.payload;
    const unsigned expected = m_expected & 0xFFFFu;  // the header carries bits 0..15 only
    unsigned offset = 0;
    if (p.size() != kBlockPayload) {
        why = "payload of " + std::to_string(p.size()) + " bytes";
    } else if (p[0] != 0 || p[1] != 0) {
        why = "header bytes B0 B1 = " + std::to_string(p[0]) + " " + std::to_string(p[1]);
    } else {
        offset = (static_cast<unsigned>(p[3]) << 8) | p[4];
        if (frame.kind == 21) {
            if (m_inTransfer && m_image == 0 && offset == expected) {
                take = Take::Next;
            } else if (offset == 0) {
                // The first block of an update, also when the host started over.
                take = Take::NewTransfer;
            }
        } else if (frame.kind == 20) {
            if (m_inTransfer && m_image == 0 && offset == 0) {
                take = Take::SecondImage;
            } else if (m_inTransfer && m_image == 1 && offset == expected) {
                take = Take::Next;
            }
        } else if (frame.kind == 17) {
            // After an empty second image the host may carry offset 0 here
            // instead of the offset that follows the last block; both are taken.
            if (m_inTransfer && (offset == expected || offset == 0)) take = Take::Checksum;
        }
        if (take == Take::Refuse) {
            why = "kind " + std::to_string(frame.kind) + " block at offset " + Hex(offset) +
                  (m_inTransfer
                       ? ", expected " + Hex(expected) + " in image " + std::to_string(m_image + 1)
                       : ", no transfer under way");
        }
    }
    if (take == Take::Refuse) {
        Error("block " + std::to_string(number) + " refused: " + why);
        SendAck(false, number);
        return;
    }
    if (m_options.nakEvery > 0) {
        if (m_nakPending) {
            m_nakPending = false;  // the resend of a block refused on purpose
        } else if (++m_newBlocks % m_options.nakEvery == 0) {
            m_nakPending = true;
            {
                std::lock_guard lock(m_mutex);
                ++m_stats.injectedNaks;
            }
            SendAck(false, number);
            return;
        }
    }

    // B2 carries bits 8..15 of the host's address before it took the block:
    // the offset itself, except on the switch to the second image.
    const unsigned b2 = p[2];
    if (take == Take::Next && b2 != p[3]) {
        Error("block " + std::to_string(number) + ": B2 " + Hex(b2) + " differs from B3 " +
              Hex(p[3]));
    }
    if (take == Take::SecondImage && b2 != ((m_expected >> 8) & 0xFFu)) {
        Error("block " + std::to_string(number) + ": first block of image 2 has B2 " + Hex(b2) +
              ", image 1 ended at " + Hex(m_expected));
    }

    if (take == Take::Checksum) {
        const std::uint32_t received =
            static_cast<std::uint32_t>(p[5]) | (static_cast<std::uint32_t>(p[6]) << 8) |
            (static_cast<std::uint32_t>(p[7]) << 16) | (static_cast<std::uint32_t>(p[8]) << 24);
        const bool good = received == m_crc;
        m_inTransfer = false;
        {
            std::lock_guard lock(m_mutex);
            m_stats.lastChecksumReceived = received;
            m_stats.lastChecksumComputed = m_crc;
            m_stats.lastChecksumOffset = static_cast<int>(offset);
            Changed();
        }
        if (!good) Error("checksum " + Hex(received) + " received, " + Hex(m_crc) + " computed");
        SendAck(true, number);
        WriteRecords();
        At(Clock::now() + std::chrono::milliseconds(std::max(0, m_options.completionDelayMs)),
           [this, good] { Complete(good); });
        return;
    }

    if (take == Take::NewTransfer) {
        m_inTransfer = true;
        m_image = 0;
        m_expected = 0;
        m_crc = 0;
        std::lock_guard lock(m_mutex);
        m_images.assign(1, {});
        ++m_stats.transfersStarted;
    } else if (take == Take::SecondImage) {
        m_image = 1;
        m_expected = 0;
        std::lock_guard lock(m_mutex);
        m_images.resize(2);
    }
    const std::uint8_t* data = p.data() + 5;
    m_crc = BlockCrc(data, 128, m_crc);
    m_expected += 128;
    {
        std::lock_guard lock(m_mutex);
        auto& image = m_images[static_cast<std::size_t>(m_image)];
        image.insert(image.end(), data, data + 128);
    }
    SendAck(true, number);
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

void ReceiverSim::WriteRecords() {
    if (m_options.recordDir.empty()) return;
    std::vector<std::vector<std::uint8_t>> images;
    {
        std::lock_guard lock(m_mutex);
        images = m_images;
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string path = m_options.recordDir + "/image" + std::to_string(i + 1) + ".bin";
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(images[i].data()),
                   static_cast<std::streamsize>(images[i].size()));
        file.close();
        if (!file) {
            Error("cannot write " + path);
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_stats.recordedFiles.push_back(path);
        Changed();
    }
}

void ReceiverSim::Send(const std::vector<std::uint8_t>& bytes) {
    // The adapter's hold comes after the wire and does not occupy it.
    const auto hold = std::chrono::milliseconds(
        m_mode == SimMode::Loader ? std::max(m_options.replyDelayMs, 0) : 0);
    if (!m_options.pace) {
        if (hold.count() == 0)
            SendNow(bytes);
        else
            At(Clock::now() + hold, [this, bytes] { SendNow(bytes); });
        return;
    }
    // Replies leave once the line has carried what came in and what went out before.
    const auto wire = std::chrono::microseconds(bytes.size() * 10'000'000 / m_listenBaud);
    m_wireFree = std::max(m_wireFree, Clock::now()) + wire;
    At(m_wireFree + hold, [this, bytes] { SendNow(bytes); });
}

void ReceiverSim::SendNow(const std::vector<std::uint8_t>& bytes) {
    if (m_fd < 0) return;
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
    Flush();
}

void ReceiverSim::Flush() {
    while (!m_out.empty()) {
        const ssize_t n = WriteLine(m_out.data(), m_out.size());
        if (n > 0) {
            m_out.erase(m_out.begin(), m_out.begin() + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) m_out.clear();  // nobody can take it
        return;                                       // the poll loop waits for room
    }
}

}  // namespace qsim
