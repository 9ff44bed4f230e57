// CSerialPort and CSerialLink against real pseudo-terminals: the test plays
// the receiver on the master side.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <fstream>
#include <numeric>
#include <thread>

#include "serial_guard.h"
#include "serial_recorder.h"
#include "seriallink.h"
#include "serialport.h"
#include "support/pty.h"

namespace {

using namespace std::chrono_literals;

constexpr unsigned kPort = 200;
constexpr std::uint32_t kFrameMask = EV_RXCHAR | EV_CTS;  // the main frame's mask, 9
constexpr char kFlushBoth = TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE;

std::vector<std::uint8_t> Pattern(std::size_t n, unsigned seed = 0) {
    std::vector<std::uint8_t> bytes(n);
    for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + seed);
    return bytes;
}

int InputWaiting(int fd) {
    int count = -1;
    ::ioctl(fd, FIONREAD, &count);
    return count;
}

// Waits (guard time-out only) until the tty's input queue holds count bytes.
bool WaitForInput(int fd, int count) {
    for (int i = 0; i < 20000 && InputWaiting(fd) != count; ++i) std::this_thread::sleep_for(1ms);
    return InputWaiting(fd) == count;
}

// errno of an open of path by another, unprivileged program (0: it opened).
// As root a forked child drops to nobody: root passes TIOCEXCL.
int OtherProgramOpen(const std::string& path) {
    if (::geteuid() != 0) {
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const int error = fd < 0 ? errno : 0;
        if (fd >= 0) ::close(fd);
        return error;
    }
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(255);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd < 0 ? errno : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

// Reads packets (TIOCPKT mode) until the control packet of a purge: a write
// attempt has begun. Other control packets (the line stopped) are skipped.
bool WaitForPurge(PtyPair& line) {
    for (;;) {
        const auto packet = line.ReadSome();
        if (packet.empty()) return false;
        if (packet.size() == 1 && (packet[0] & kFlushBoth) == kFlushBoth) return true;
    }
}

class TunablePort : public CSerialPort {
public:
    using CSerialPort::m_commTimeouts;
};

// Plays a serial driver behind the flag requests. Every call is checked to
// reach the open tty of the test's line.
class SerialFlagsPort : public CSerialPort {
public:
    struct Driver {
        Driver(std::string tty, int answer, int getFails = 0, int setFails = 0)
            : device(std::move(tty)), flags(answer), getError(getFails), setError(setFails) {}
        std::string device;
        int flags = 0;
        int getError = 0;           // TIOCGSERIAL fails with this
        int setError = 0;           // TIOCSSERIAL fails with this
        std::vector<int> setFlags;  // every TIOCSSERIAL, refused ones too
        int strayCalls = 0;
    };
    explicit SerialFlagsPort(Driver* driver) {
        m_serialIoctl = [driver](int fd, unsigned long request, serial_struct* info) {
            char name[64] = {};
            if (::ttyname_r(fd, name, sizeof name) != 0 || driver->device != name)
                ++driver->strayCalls;
            if (request == TIOCSSERIAL) driver->setFlags.push_back(info->flags);
            const int error = request == TIOCGSERIAL ? driver->getError : driver->setError;
            if (error != 0) {
                errno = error;
                return -1;
            }
            if (request == TIOCGSERIAL) {
                *info = {};
                info->flags = driver->flags;
            }
            return 0;
        };
    }
};

class SerialPort : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.IsOpen()); }

    template <class Port = CSerialPort>
    std::unique_ptr<Port> Open(std::uint32_t mask = kFrameMask) {
        auto p = std::make_unique<Port>();
        RingInit(&p->m_rxRing, 8192, p->m_rxStore);
        EXPECT_TRUE(p->OpenPort(&owner, kPort, pty.SlavePath(), 115200, 'N', 8, 1, mask, 512));
        return p;
    }

    // Starts the monitor and waits for the purge it makes on starting, so
    // bytes the test sends afterwards are not purged.
    static void StartSettled(CSerialPort& port, PtyPair& line) {
        ASSERT_TRUE(line.SetPacketMode(true));
        ASSERT_TRUE(port.StartMonitor());
        const auto packet = line.ReadSome();
        ASSERT_EQ(packet.size(), 1u);
        EXPECT_EQ(packet[0] & TIOCPKT_FLUSHREAD, TIOCPKT_FLUSHREAD);
        ASSERT_TRUE(line.SetPacketMode(false));
    }

    std::vector<std::uint8_t> TakeFromRing(CSerialPort& port, std::size_t n) {
        std::vector<std::uint8_t> got(n);
        got.resize(RingGet(&port.m_rxRing, got.data(), static_cast<std::uint32_t>(n)));
        return got;
    }

    PtyPair pty;
    LinkRecorder owner;
};

TEST_F(SerialPort, AllByteValuesPassBothWays) {
    auto port = Open();
    StartSettled(*port, pty);
    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);

    ASSERT_TRUE(pty.Write(all));
    ASSERT_TRUE(owner.WaitForBytes(256));
    EXPECT_EQ(TakeFromRing(*port, 512), all);
    EXPECT_LE(owner.Count(WM_LINK_DATA), 16u) << "one notice per wake-up, not one per byte";
    for (const auto& notice : owner.Notices())
        EXPECT_EQ(notice.lParam, static_cast<std::intptr_t>(kPort));

    port->WritePort(all.data(), 256);
    EXPECT_EQ(pty.Read(256), all);
    EXPECT_TRUE(owner.Errors().empty());
}

TEST_F(SerialPort, EveryWakeUpPostsTheMaskedEventsInOrderBeforeTheBytes) {
    const std::uint32_t everything = EV_RXCHAR | EV_RXFLAG | EV_CTS | EV_BREAK | EV_ERR | EV_RING;
    auto port = Open(everything);
    StartSettled(*port, pty);
    ASSERT_TRUE(pty.Write({0x42}));
    ASSERT_TRUE(owner.WaitForCount(WM_LINK_DATA, 1));
    std::vector<unsigned> order;
    for (const auto& notice : owner.Notices()) order.push_back(notice.message);
    EXPECT_EQ(order, (std::vector<unsigned>{WM_PORT_CTS, WM_PORT_RXFLAG, WM_PORT_BREAK, WM_PORT_ERR,
                                            WM_PORT_RING, WM_LINK_DATA}));
}

TEST_F(SerialPort, LineIsRaw8N1WithTheRequestedSpeedAndFollowsSpeedChanges) {
    auto port = Open();
    const termios line = pty.MasterTermios();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);

    StartSettled(*port, pty);
    port->SetBaudRate(9600);
    EXPECT_EQ(pty.MasterSpeed(), static_cast<speed_t>(B9600));
    port->SetBaudRate(115200);
    EXPECT_EQ(pty.MasterSpeed(), static_cast<speed_t>(B115200));
    EXPECT_TRUE(owner.Errors().empty());

    // A rate the line cannot take is reported; the old rate stays.
    port->SetBaudRate(12345);
    EXPECT_EQ(pty.MasterSpeed(), static_cast<speed_t>(B115200));
    EXPECT_EQ(owner.Errors(),
              std::vector<std::string>{"WARNING:  SetCommState() Failed with the following "
                                       "error: \nInvalid argument\nPort: 200\n"});
}

TEST_F(SerialPort, FailedConfigurationStepIsReportedAndLaterStepsAreSkipped) {
    struct Row {
        const char* name;
        std::uint32_t mask;
        unsigned baud;
        char parity;
        const char* step;
    };
    const Row rows[] = {
        {"unknown event class", 0x80000000u | kFrameMask, 115200, 'N', "SetCommMask()"},
        {"unknown parity", kFrameMask, 115200, 'X', "BuildCommDCB()"},
        {"unknown rate", kFrameMask, 12345, 'N', "BuildCommDCB()"},
    };
    unsigned portNr = 210;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PtyPair line;
        ASSERT_TRUE(line.IsOpen());
        LinkRecorder rowOwner;
        CSerialPort port;
        RingInit(&port.m_rxRing, 8192, port.m_rxStore);
        EXPECT_TRUE(port.OpenPort(&rowOwner, portNr, line.SlavePath(), row.baud, row.parity, 8, 1,
                                  row.mask, 512));
        EXPECT_EQ(rowOwner.Errors(),
                  std::vector<std::string>{std::string("WARNING:  ") + row.step +
                                           " Failed with the following error: \nInvalid "
                                           "argument\nPort: " +
                                           std::to_string(portNr) + "\n"});
        // The line keeps the pseudo-terminal's own speed: nothing was applied.
        EXPECT_EQ(line.MasterSpeed(), static_cast<speed_t>(B38400));
        ++portNr;
    }
}

TEST_F(SerialPort, EveryWritePurgesBothDirectionsFirst) {
    auto port = Open();
    StartSettled(*port, pty);
    ASSERT_TRUE(pty.SetPacketMode(true));
    for (unsigned i = 0; i < 3; ++i) {
        const auto frame = Pattern(20 + i, i);
        port->WritePort(frame.data(), static_cast<std::int32_t>(frame.size()));
        EXPECT_EQ(pty.ReadSome(), std::vector<std::uint8_t>{kFlushBoth});
        std::vector<std::uint8_t> data;
        while (data.size() < frame.size()) {
            const auto packet = pty.ReadSome();
            ASSERT_FALSE(packet.empty());
            ASSERT_EQ(packet[0], TIOCPKT_DATA);
            data.insert(data.end(), packet.begin() + 1, packet.end());
        }
        EXPECT_EQ(data, frame);
    }
}

TEST_F(SerialPort, WriteDiscardsInputThatWasNotRead) {
    // Without EV_RXCHAR the monitor leaves input where it is.
    auto port = Open(EV_CTS);
    StartSettled(*port, pty);
    ASSERT_TRUE(pty.Write(Pattern(40)));
    ASSERT_TRUE(WaitForInput(pty.Slave(), 40));
    const auto frame = Pattern(8, 3);
    port->WritePort(frame.data(), 8);
    EXPECT_EQ(pty.Read(8), frame);
    EXPECT_EQ(InputWaiting(pty.Slave()), 0);
    EXPECT_EQ(owner.Count(WM_LINK_DATA), 0u);
}

TEST_F(SerialPort, InputThatFindsTheRingFullWaitsInTheTtyUntilTheOwnerMadeRoom) {
    auto port = Open();
    StartSettled(*port, pty);
    const auto sent = Pattern(8192 + 100, 1);
    ASSERT_TRUE(pty.Write(sent));
    ASSERT_TRUE(owner.WaitForBytes(8192));
    ASSERT_TRUE(WaitForInput(pty.Slave(), 100)) << "the rest is left in the tty, none dropped";
    EXPECT_EQ(RingUsed(&port->m_rxRing), 8192u);

    // The owner drains without telling the port; the rest follows by itself.
    auto got = TakeFromRing(*port, 8192);
    ASSERT_TRUE(owner.WaitForBytes(8192 + 100));
    const auto rest = TakeFromRing(*port, 8192);
    got.insert(got.end(), rest.begin(), rest.end());
    EXPECT_EQ(got, sent);
}

TEST_F(SerialPort, StopWhileBytesWaitEndsTheMonitorWithoutReadingThem) {
    PtyPair next;
    ASSERT_TRUE(next.IsOpen());
    auto port = Open();
    StartSettled(*port, pty);

    // Hold the monitor in the first notice of a wake-up (WM_PORT_CTS comes
    // before the bytes are read), then let more bytes arrive.
    owner.Hold();
    ASSERT_TRUE(pty.Write({0x01}));
    ASSERT_TRUE(owner.WaitForCount(WM_PORT_CTS, 1));
    ASSERT_TRUE(pty.Write(Pattern(63)));
    ASSERT_TRUE(WaitForInput(pty.Slave(), 64));

    // Reopening (on another device) runs the stop handshake, as deleting does.
    std::atomic<bool> reopened{false};
    std::thread reopen([&] {
        reopened =
            port->OpenPort(&owner, kPort + 1, next.SlavePath(), 115200, 'N', 8, 1, kFrameMask, 512);
    });
    while (!port->m_bStopRequested) std::this_thread::sleep_for(1ms);
    owner.Release();
    RunGuarded("reopen", [&] { reopen.join(); });

    EXPECT_TRUE(reopened);
    EXPECT_FALSE(port->m_bMonitorAlive);
    EXPECT_EQ(owner.Count(WM_LINK_DATA), 0u);
    EXPECT_EQ(RingUsed(&port->m_rxRing), 0u);
    EXPECT_EQ(InputWaiting(pty.Slave()), 64);

    // The reopened port is not monitored until started again.
    StartSettled(*port, next);
    ASSERT_TRUE(next.Write({0x7E}));
    ASSERT_TRUE(owner.WaitForCount(WM_LINK_DATA, 1));
    EXPECT_EQ(owner.Notices().back().lParam, static_cast<std::intptr_t>(kPort + 1));
    EXPECT_EQ(TakeFromRing(*port, 8), std::vector<std::uint8_t>{0x7E});
}

TEST_F(SerialPort, DeleteRightAfterStartMonitor) {
    const auto frame = Pattern(64);
    for (int i = 0; i < 300; ++i) {
        auto port = Open();
        ASSERT_TRUE(port->StartMonitor());
        if (i % 3 == 1) port->WritePort(frame.data(), 64);
        RunGuarded("delete", [&] { port.reset(); });
        pty.Read(4096, 0ms);
    }
    EXPECT_TRUE(owner.Errors().empty());
}

TEST_F(SerialPort, DeleteWhileBytesKeepArriving) {
    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        const auto chunk = Pattern(64);
        while (flooding) {
            pty.Write(chunk, 5ms);
            pty.Read(4096, 0ms);
        }
    });
    for (int i = 0; i < 30; ++i) {
        const std::size_t before = owner.Count(WM_LINK_DATA);
        auto port = Open();
        ASSERT_TRUE(port->StartMonitor());
        ASSERT_TRUE(owner.WaitForCount(WM_LINK_DATA, before + 1));
        RunGuarded("delete", [&] { port.reset(); });
    }
    flooding = false;
    flood.join();
    EXPECT_TRUE(owner.Errors().empty());
}

TEST_F(SerialPort, DeleteWhileAWriteWaitsForTheLine) {
    auto port = Open();
    StartSettled(*port, pty);
    ASSERT_TRUE(pty.SetPacketMode(true));
    ASSERT_EQ(::tcflow(pty.Slave(), TCOOFF), 0);  // the line takes nothing
    const auto block = Pattern(512);
    port->WritePort(block.data(), 512);
    ASSERT_TRUE(WaitForPurge(pty));  // the write began
    // Its time-out is 513 s; the stop event must cut it short.
    RunGuarded("delete", [&] { port.reset(); });
    ::tcflow(pty.Slave(), TCOON);
    EXPECT_TRUE(owner.Errors().empty());
}

TEST_F(SerialPort, WriteThatCannotCompleteIsGivenUpSilently) {
    auto port = Open<TunablePort>();
    port->m_commTimeouts.WriteTotalTimeoutMultiplier = 0;
    port->m_commTimeouts.WriteTotalTimeoutConstant = 2;
    StartSettled(*port, pty);
    ASSERT_TRUE(pty.SetPacketMode(true));
    ASSERT_EQ(::tcflow(pty.Slave(), TCOOFF), 0);
    const auto lost = Pattern(16, 9);
    port->WritePort(lost.data(), 16);
    ASSERT_TRUE(WaitForPurge(pty));
    ASSERT_TRUE(pty.SetPacketMode(false));

    // The write has begun. The monitor reads only between writes, and each
    // attempt purges input: a byte that gets through to the ring shows the
    // retries have ended.
    for (int i = 0; i < 2000 && owner.Count(WM_LINK_DATA) == 0; ++i) {
        ASSERT_TRUE(pty.Write({0x33}));
        owner.WaitForCount(WM_LINK_DATA, 1, 20ms);
    }
    ASSERT_GE(owner.Count(WM_LINK_DATA), 1u);
    EXPECT_TRUE(owner.Errors().empty());

    ASSERT_EQ(::tcflow(pty.Slave(), TCOON), 0);
    const auto next = Pattern(5, 4);
    port->WritePort(next.data(), 5);
    EXPECT_EQ(pty.Read(5), next);
}

TEST_F(SerialPort, WriteLongerThanTheSendBufferIsRefusedWhole) {
    auto port = Open();
    StartSettled(*port, pty);
    const auto tooLong = Pattern(513);
    port->WritePort(tooLong.data(), 513);
    const auto frame = Pattern(10, 5);
    port->WritePort(frame.data(), 10);
    EXPECT_EQ(pty.Read(10), frame);
    EXPECT_TRUE(pty.ReadSome(100ms).empty());
}

TEST_F(SerialPort, SecondOpenOfAHeldPortIsRefused) {
    ASSERT_EQ(::fchmod(pty.Slave(), 0666), 0);
    ASSERT_EQ(OtherProgramOpen(pty.SlavePath()), 0);

    auto port = Open();
    LinkRecorder secondOwner;
    CSerialPort second;
    RingInit(&second.m_rxRing, 8192, second.m_rxStore);
    EXPECT_FALSE(
        second.OpenPort(&secondOwner, kPort, pty.SlavePath(), 115200, 'N', 8, 1, kFrameMask, 512));
    EXPECT_EQ(second.OpenErrno(), EBUSY);  // the lock, which holds even against root
    EXPECT_TRUE(secondOwner.Errors().empty());
    EXPECT_EQ(OtherProgramOpen(pty.SlavePath()), EBUSY);  // TIOCEXCL

    port.reset();
    EXPECT_EQ(OtherProgramOpen(pty.SlavePath()), 0);  // no exclusive flag left behind
}

TEST_F(SerialPort, PortThatCannotOpenReturnsFalseWithoutAReport) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string plainFile = dir.path().toStdString() + "/plain";
    ::close(::open(plainFile.c_str(), O_CREAT | O_WRONLY, 0600));
    struct Row {
        unsigned port;
        std::string device;
        int error;
    };
    const Row rows[] = {
        {220, dir.path().toStdString() + "/no-such-tty", ENOENT},
        {221, plainFile, ENOTTY},
        {250, "", ENODEV},
        {0, pty.SlavePath(), EINVAL},
        {257, pty.SlavePath(), EINVAL},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.port);
        CSerialPort port;
        RingInit(&port.m_rxRing, 8192, port.m_rxStore);
        EXPECT_FALSE(
            port.OpenPort(&owner, row.port, row.device, 115200, 'N', 8, 1, kFrameMask, 512));
        EXPECT_EQ(port.OpenErrno(), row.error);
        EXPECT_FALSE(port.StartMonitor());
    }
    EXPECT_TRUE(owner.Errors().empty());
}

TEST_F(SerialPort, LowLatencyIsSetOnOpenAndTheFormerFlagsComeBackOnClose) {
    constexpr int kOther = ASYNC_SKIP_TEST | ASYNC_SPD_HI;
    SerialFlagsPort::Driver driver(pty.SlavePath(), kOther);
    auto port = std::make_unique<SerialFlagsPort>(&driver);
    RingInit(&port->m_rxRing, 8192, port->m_rxStore);
    ASSERT_TRUE(port->OpenPort(&owner, kPort, pty.SlavePath(), 115200, 'N', 8, 1, kFrameMask, 512));
    EXPECT_EQ(driver.setFlags, std::vector<int>{kOther | ASYNC_LOW_LATENCY});
    port.reset();
    EXPECT_EQ(driver.setFlags, (std::vector<int>{kOther | ASYNC_LOW_LATENCY, kOther}));

    // Set already by someone else: left alone, open and close.
    SerialFlagsPort::Driver set(pty.SlavePath(), kOther | ASYNC_LOW_LATENCY);
    port = std::make_unique<SerialFlagsPort>(&set);
    ASSERT_TRUE(port->OpenPort(&owner, kPort, pty.SlavePath(), 115200, 'N', 8, 1, kFrameMask, 512));
    port.reset();
    EXPECT_TRUE(set.setFlags.empty());
    EXPECT_EQ(driver.strayCalls + set.strayCalls, 0);
    EXPECT_TRUE(owner.Errors().empty());
}

TEST_F(SerialPort, TtyWithoutLowLatencyOpensAsBeforeWithoutAReport) {
    struct Row {
        const char* name;
        int getError;
        int setError;
    };
    const Row rows[] = {
        {"no serial flags", ENOTTY, 0},
        {"driver refuses", 0, EINVAL},
        {"not allowed", 0, EPERM},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PtyPair line;
        ASSERT_TRUE(line.IsOpen());
        SerialFlagsPort::Driver driver(line.SlavePath(), 0, row.getError, row.setError);
        auto port = std::make_unique<SerialFlagsPort>(&driver);
        RingInit(&port->m_rxRing, 8192, port->m_rxStore);
        ASSERT_TRUE(
            port->OpenPort(&owner, kPort, line.SlavePath(), 115200, 'N', 8, 1, kFrameMask, 512));
        EXPECT_EQ(port->OpenErrno(), 0);
        EXPECT_EQ(line.MasterSpeed(), static_cast<speed_t>(B115200));
        ASSERT_TRUE(port->StartMonitor());
        const auto frame = Pattern(10, 2);
        port->WritePort(frame.data(), 10);
        EXPECT_EQ(line.Read(10), frame);
        RunGuarded("delete", [&] { port.reset(); });
        // Nothing was changed, so nothing is put back.
        EXPECT_EQ(driver.setFlags.size(), row.setError != 0 ? 1u : 0u);
        EXPECT_EQ(driver.strayCalls, 0);
    }
    EXPECT_TRUE(owner.Errors().empty());
}

TEST_F(SerialPort, HangUpIsReportedOnceAndTheMonitorGoesQuiet) {
    auto port = Open();
    StartSettled(*port, pty);
    ASSERT_TRUE(pty.Write({1, 2, 3}));
    ASSERT_TRUE(owner.WaitForBytes(3));

    pty.CloseMaster();
    ASSERT_TRUE(owner.WaitForErrors(1));
    EXPECT_EQ(owner.Errors().front(),
              "WARNING:  ReadFile() Failed with the following error: \nInput/output "
              "error\nPort: 200\n");
    const std::size_t wakeUps = owner.Count(WM_PORT_CTS);

    const auto frame = Pattern(10);
    port->WritePort(frame.data(), 10);
    port->WritePort(frame.data(), 10);
    // A monitor still watching the dead line would wake (and post
    // WM_PORT_CTS) over and over in this time.
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(owner.Count(WM_PORT_CTS), wakeUps);
    EXPECT_EQ(owner.Errors().size(), 1u);
    EXPECT_EQ(TakeFromRing(*port, 8), (std::vector<std::uint8_t>{1, 2, 3}));
    RunGuarded("delete", [&] { port.reset(); });
}

// --- CSerialLink --------------------------------------------------------------

// No short period, so a piece lost, repeated or out of place shows.
std::vector<std::uint8_t> Stream(std::size_t n) {
    std::vector<std::uint8_t> bytes(n);
    std::uint32_t state = 2463534242u;
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    return bytes;
}

// Plays the owner: on each notice reads until the link gives nothing, until
// want bytes have come (or no notice came within the guard time).
std::vector<std::uint8_t> Receive(ILink& link, ListenerRecorder& listener, std::size_t want,
                                  std::size_t* handled) {
    std::vector<std::uint8_t> got;
    while (got.size() < want && listener.WaitForNoticeAfter(*handled)) {
        ++*handled;
        DrainLink(link, &got);
    }
    return got;
}

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.IsOpen()); }

    // Opens the link and sees a write come through: the monitor has made the
    // purge it makes on starting, so bytes sent now stay.
    std::unique_ptr<CSerialLink> OpenSettled() {
        auto link =
            std::make_unique<CSerialLink>(SerialLinkSettings{kPort, pty.SlavePath(), false});
        EXPECT_TRUE(link->Open(&listener));
        const std::uint8_t mark = 0x55;
        link->Write(&mark, 1);
        EXPECT_EQ(pty.Read(1), std::vector<std::uint8_t>{mark});
        return link;
    }

    PtyPair pty;
    ListenerRecorder listener;
};

TEST_F(SerialLink, BurstArrivesWholeOnAFewNoticesAndAByteAfterTheDrainRaisesAnother) {
    auto link = OpenSettled();
    EXPECT_EQ(link->Kind(), LinkKind::Serial);
    EXPECT_EQ(link->Device(), pty.SlavePath());
    EXPECT_EQ(pty.MasterSpeed(), static_cast<speed_t>(B115200));

    const auto burst = Stream(4096);
    ASSERT_TRUE(pty.Write(burst));
    std::size_t handled = 0;
    EXPECT_EQ(Receive(*link, listener, burst.size(), &handled), burst);
    EXPECT_LE(listener.Notices(), 64u) << "a notice per wake-up at most, never one per byte";

    std::uint8_t byte = 0;
    EXPECT_EQ(link->Read(&byte, 1), 0u);
    ASSERT_TRUE(pty.Write({0x7E}));
    EXPECT_EQ(Receive(*link, listener, 1, &handled), std::vector<std::uint8_t>{0x7E});
}

TEST_F(SerialLink, OwnerDrainingOnItsOwnThreadGetsEveryByteInOrder) {
    auto link = OpenSettled();
    const auto stream = Stream(1 << 16);
    std::vector<std::uint8_t> got;
    std::thread owner([&] {
        std::size_t handled = 0;
        got = Receive(*link, listener, stream.size(), &handled);
    });
    // Uneven pieces, so reads and drains fall at every point of the stream.
    for (std::size_t at = 0, piece = 1; at < stream.size(); at += piece) {
        piece = std::min<std::size_t>(1 + (at * 7919) % 700, stream.size() - at);
        if (!pty.Write(stream.data() + at, piece)) break;
    }
    owner.join();
    EXPECT_EQ(got.size(), stream.size()) << "a notice that never came stops the owner short";
    EXPECT_EQ(got, stream);
}

TEST_F(SerialLink, AFailedStepIsAnErrorAndAHangUpLosesTheLine) {
    auto link = OpenSettled();
    link->SetSpeed(12345);
    ASSERT_TRUE(listener.WaitForErrors(1));
    pty.CloseMaster();
    ASSERT_TRUE(listener.WaitForErrors(2));
    using Error = ListenerRecorder::Error;
    EXPECT_EQ(
        listener.Errors(),
        (std::vector<Error>{{"WARNING:  SetCommState() Failed with the following error: \nInvalid "
                             "argument\nPort: 200\n",
                             false},
                            {"WARNING:  ReadFile() Failed with the following error: \nInput/output "
                             "error\nPort: 200\n",
                             true}}));
    RunGuarded("close", [&] { link->Close(); });
    EXPECT_FALSE(link->IsReady());
}

// The console list is a file of the test's own naming its pseudo-terminal.
class ConsoleRule : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(pty.IsOpen());
        consoleList = dir.path().toStdString() + "/active";
        std::ofstream(consoleList) << "tty0 " << pty.SlavePath().substr(5) << "\n";
        watch = opens.Watch(pty.SlavePath());
        ASSERT_GE(watch, 0);
    }

    QTemporaryDir dir;
    PtyPair pty;
    std::string consoleList;
    OpenWatch opens;
    int watch = -1;
    ListenerRecorder listener;
};

TEST_F(ConsoleRule, TheConsoleIsRefusedWithoutBeingOpenedUnlessItWasNamed) {
    const std::string alias = dir.path().toStdString() + "/receiver";
    ASSERT_EQ(::symlink(pty.SlavePath().c_str(), alias.c_str()), 0);
    for (const std::string& device : {pty.SlavePath(), alias}) {
        SCOPED_TRACE(device);
        CSerialLink link({kPort, device, false}, consoleList);
        EXPECT_FALSE(link.Open(&listener));
        EXPECT_EQ(link.Refusal(), LinkRefusal::Console);
        EXPECT_FALSE(link.IsReady());
    }
    EXPECT_TRUE(opens.Opened().empty());

    CSerialLink named({kPort, alias, true}, consoleList);
    EXPECT_TRUE(named.Open(&listener));
    EXPECT_EQ(named.Refusal(), LinkRefusal::None);
    EXPECT_TRUE(named.IsReady());
    EXPECT_EQ(opens.Opened(), std::vector<int>{watch});
}

}  // namespace
