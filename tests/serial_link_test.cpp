// CSerialLink on a real event loop against pseudo-terminals: the test plays
// the receiver on the master side and the link's owner on its own thread.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <fstream>
#include <numeric>
#include <thread>

#include "serial_recorder.h"
#include "seriallink.h"
#include "support/event_wait.h"
#include "support/pty.h"

namespace {

using namespace std::chrono_literals;

constexpr unsigned kPort = 200;
constexpr int kGuardMs = 20000;  // only against hangs
constexpr char kFlushBoth = TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE;

// No short period, so a piece lost, repeated or out of place shows.
std::vector<std::uint8_t> Stream(std::size_t n, std::uint32_t state = 2463534242u) {
    std::vector<std::uint8_t> bytes(n);
    for (auto& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    return bytes;
}

std::string Report(const char* step, const char* text) {
    return std::string("WARNING:  ") + step + " Failed with the following error: \n" + text +
           "\nPort: 200\n";
}

// Waits until the tty's input queue holds count bytes (the pty delivers
// from a kernel worker).
bool WaitForInput(int fd, int count) {
    int waiting = -1;
    for (int i = 0; i < 20000; ++i) {
        if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting == count) return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

// Runs the event loop until nothing more is ready, as often as asked: a link
// that went on notifying would show.
void Spin(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) QCoreApplication::processEvents();
}

// The owner as the engine is one: on each notice it reads until the link
// gives nothing, unless told to leave the bytes for now (a protocol pause).
class Owner : public ILinkListener {
public:
    void OnLinkDataReady() override {
        ++notices;
        if (!pausing && link) DrainLink(*link, &got);
        if (onNotice) onNotice();
    }
    void OnLinkError(const std::string& text, bool lineLost) override {
        errors.push_back({text, lineLost});
    }

    ILink* link = nullptr;
    bool pausing = false;
    std::function<void()> onNotice;
    int notices = 0;
    std::vector<std::uint8_t> got;
    std::vector<ListenerRecorder::Error> errors;
};

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

class SerialLink : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty.IsOpen()); }

    std::unique_ptr<CSerialLink> Open(SerialFlagsIoctl flags = {}) {
        auto link = std::make_unique<CSerialLink>(SerialLinkSettings{kPort, pty.SlavePath(), true},
                                                  kConsoleTtyList, std::move(flags));
        owner.link = link.get();
        EXPECT_TRUE(link->Open(&owner));
        return link;
    }
    bool Receive(std::size_t n) {
        return WaitUntil([&] { return owner.got.size() >= n; }, kGuardMs);
    }
    // What the far end reads while the event loop runs, until n bytes.
    std::vector<std::uint8_t> FarEndReads(std::size_t n) {
        std::vector<std::uint8_t> seen;
        WaitUntil(
            [&] {
                const auto some = pty.ReadSome(0ms);
                seen.insert(seen.end(), some.begin(), some.end());
                return seen.size() >= n;
            },
            kGuardMs);
        return seen;
    }

    PtyPair pty;
    Owner owner;
};

TEST_F(SerialLink, OpensRaw8N1At115200AndCarriesEveryByteValueBothWays) {
    auto link = Open();
    EXPECT_EQ(link->Kind(), LinkKind::Serial);
    EXPECT_EQ(link->Device(), pty.SlavePath());
    const termios line = pty.MasterTermios();
    EXPECT_EQ(cfgetospeed(&line), static_cast<speed_t>(B115200));
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), static_cast<tcflag_t>(CS8));
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(line.c_iflag & (IXON | ICRNL), 0u);
    EXPECT_EQ(line.c_oflag & OPOST, 0u);

    std::vector<std::uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0);
    ASSERT_TRUE(pty.Write(all));
    ASSERT_TRUE(Receive(256));
    EXPECT_EQ(owner.got, all);
    EXPECT_LE(owner.notices, 16) << "a notice per wake-up at most, never one per byte";
    link->Write(all.data(), all.size());
    EXPECT_EQ(pty.Read(256), all);
    EXPECT_TRUE(link->IsWritten());

    link->SetSpeed(9600);
    EXPECT_EQ(pty.MasterSpeed(), static_cast<speed_t>(B9600));
    // A rate the line cannot take is reported, as no lost line; the old rate stays.
    link->SetSpeed(12345);
    EXPECT_EQ(pty.MasterSpeed(), static_cast<speed_t>(B9600));
    EXPECT_EQ(owner.errors, (std::vector<ListenerRecorder::Error>{
                                {Report("SetCommState()", "Invalid argument"), false}}));
}

TEST_F(SerialLink, OneNoticeUntilTheOwnerReadsHoweverManyBytesFollow) {
    auto link = Open();
    owner.pausing = true;
    ASSERT_TRUE(pty.Write(Stream(10)));
    ASSERT_TRUE(WaitUntil([&] { return owner.notices == 1; }, kGuardMs));
    ASSERT_TRUE(pty.Write(Stream(20, 7)));
    ASSERT_TRUE(WaitForInput(pty.Slave(), 30));
    Spin();
    EXPECT_EQ(owner.notices, 1) << "the bytes wait for the owner, and the link does not spin";

    owner.pausing = false;
    DrainLink(*link, &owner.got);
    EXPECT_EQ(owner.got.size(), 30u);
    ASSERT_TRUE(pty.Write({0x7E}));
    ASSERT_TRUE(Receive(31));
    EXPECT_EQ(owner.notices, 2);
}

TEST_F(SerialLink, OwnerGetsAStreamInUnevenPiecesWholeAndInOrder) {
    auto link = Open();
    const auto stream = Stream(1 << 16);
    std::thread peer([&] {
        for (std::size_t at = 0, piece = 1; at < stream.size(); at += piece) {
            piece = std::min<std::size_t>(1 + (at * 7919) % 700, stream.size() - at);
            if (!pty.Write(stream.data() + at, piece)) break;
        }
    });
    const bool whole = Receive(stream.size());
    peer.join();
    EXPECT_TRUE(whole) << "a notice that never came stops the owner short";
    EXPECT_EQ(owner.got, stream);
}

TEST_F(SerialLink, EveryWritePurgesFirstAndInputThatCameBeforeItStaysReadable) {
    auto link = Open();
    owner.pausing = true;
    ASSERT_TRUE(pty.SetPacketMode(true));
    const auto early = Stream(40);
    for (unsigned i = 0; i < 3; ++i) {
        if (i == 1) {
            ASSERT_TRUE(pty.Write(early));
            ASSERT_TRUE(WaitForInput(pty.Slave(), 40));
        }
        const auto frame = Stream(20 + i, i + 1);
        link->Write(frame.data(), frame.size());
        EXPECT_EQ(pty.ReadSome(), std::vector<std::uint8_t>{kFlushBoth});
        auto packet = pty.ReadSome();
        ASSERT_FALSE(packet.empty());
        EXPECT_EQ(packet[0], TIOCPKT_DATA);
        EXPECT_EQ(std::vector<std::uint8_t>(packet.begin() + 1, packet.end()), frame);
    }
    owner.pausing = false;
    ASSERT_TRUE(Receive(40));
    EXPECT_EQ(owner.got, early);
}

TEST_F(SerialLink, WhatTheTtyCannotTakeFollowsLaterAndAWriteThatDoesNotFitIsRefusedWhole) {
    auto link = Open();
    ASSERT_EQ(::tcflow(pty.Slave(), TCOOFF), 0);  // the line takes nothing
    const auto first = Stream(100, 1), tooLong = Stream(413, 2), last = Stream(12, 3);
    link->Write(first.data(), first.size());
    EXPECT_FALSE(link->IsWritten());
    link->Write(tooLong.data(), tooLong.size());  // 513 with the first: refused
    link->Write(last.data(), last.size());
    ASSERT_EQ(::tcflow(pty.Slave(), TCOON), 0);

    auto expected = first;
    expected.insert(expected.end(), last.begin(), last.end());
    EXPECT_EQ(FarEndReads(expected.size()), expected);
    EXPECT_TRUE(WaitUntil([&] { return link->IsWritten(); }, kGuardMs));
    EXPECT_TRUE(pty.ReadSome(50ms).empty());
    EXPECT_TRUE(owner.errors.empty());
}

TEST_F(SerialLink, HangUpLosesTheLineOnce) {
    auto link = Open();
    ASSERT_TRUE(pty.Write({1, 2, 3}));
    ASSERT_TRUE(Receive(3));
    pty.CloseMaster();
    ASSERT_TRUE(WaitUntil([&] { return !owner.errors.empty(); }, kGuardMs));
    const auto frame = Stream(10);
    link->Write(frame.data(), frame.size());
    link->Write(frame.data(), frame.size());
    Spin();
    EXPECT_EQ(
        owner.errors,
        (std::vector<ListenerRecorder::Error>{{Report("ReadFile()", "Input/output error"), true}}));
    EXPECT_TRUE(link->IsReady()) << "open until its owner closes it";
}

TEST_F(SerialLink, NothingIsToldAfterCloseAndTheOwnerMayDeleteItInANotice) {
    auto link = Open();
    owner.pausing = true;
    ASSERT_TRUE(pty.Write(Stream(8)));
    ASSERT_TRUE(WaitForInput(pty.Slave(), 8));
    const std::uint8_t mark = 0x55;
    link->Write(&mark, 1);  // moves the input aside and queues its notice
    link->Close();
    EXPECT_FALSE(link->IsReady());
    Spin();
    EXPECT_EQ(owner.notices, 0);

    ASSERT_TRUE(link->Open(&owner));
    owner.onNotice = [&] { link.reset(); };  // as an engine's Disconnect does
    ASSERT_TRUE(pty.Write(Stream(8)));
    EXPECT_TRUE(WaitUntil([&] { return !link; }, kGuardMs));
    Spin();
    EXPECT_EQ(owner.notices, 1);
}

TEST_F(SerialLink, SecondOpenOfAHeldPortIsRefused) {
    ASSERT_EQ(::fchmod(pty.Slave(), 0666), 0);
    auto link = Open();
    Owner second;
    CSerialLink other({kPort, pty.SlavePath(), true});
    EXPECT_FALSE(other.Open(&second));  // the lock, which holds even against root
    EXPECT_EQ(other.Refusal(), LinkRefusal::Other);
    EXPECT_EQ(OtherProgramOpen(pty.SlavePath()), EBUSY);  // TIOCEXCL
    link->Close();
    EXPECT_EQ(OtherProgramOpen(pty.SlavePath()), 0) << "no exclusive flag left behind";
    EXPECT_TRUE(other.Open(&second));
}

TEST_F(SerialLink, PortThatCannotOpenIsRefusedWithoutAReport) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string plainFile = dir.path().toStdString() + "/plain";
    ::close(::open(plainFile.c_str(), O_CREAT | O_WRONLY, 0600));
    const SerialLinkSettings rows[] = {
        {220, dir.path().toStdString() + "/no-such-tty", true},
        {221, plainFile, true},
        {250, "", true},
        {0, pty.SlavePath(), true},
        {257, pty.SlavePath(), true},
    };
    for (const SerialLinkSettings& row : rows) {
        SCOPED_TRACE(row.comPort);
        CSerialLink link(row);
        EXPECT_FALSE(link.Open(&owner));
        EXPECT_EQ(link.Refusal(), LinkRefusal::Other);
        EXPECT_FALSE(link.IsReady());
    }
    EXPECT_TRUE(owner.errors.empty());
}

// Plays a serial driver behind the flag requests, each checked to reach the
// test's tty.
struct SerialDriver {
    SerialDriver(std::string tty, int answer, int getFails = 0, int setFails = 0)
        : device(std::move(tty)), flags(answer), getError(getFails), setError(setFails) {}
    std::string device;
    int flags = 0;
    int getError = 0;           // TIOCGSERIAL fails with this
    int setError = 0;           // TIOCSSERIAL fails with this
    std::vector<int> setFlags;  // every TIOCSSERIAL, refused ones too
    int strayCalls = 0;

    SerialFlagsIoctl Ioctl() {
        return [this](int fd, unsigned long request, serial_struct* info) {
            char name[64] = {};
            if (::ttyname_r(fd, name, sizeof name) != 0 || device != name) ++strayCalls;
            if (request == TIOCSSERIAL) setFlags.push_back(info->flags);
            const int error = request == TIOCGSERIAL ? getError : setError;
            if (error != 0) {
                errno = error;
                return -1;
            }
            if (request == TIOCGSERIAL) *info = {}, info->flags = flags;
            return 0;
        };
    }
};

TEST_F(SerialLink, LowLatencyIsAskedForWhileOpenAndTheFormerFlagsComeBack) {
    constexpr int kOther = ASYNC_SKIP_TEST | ASYNC_SPD_HI;
    struct Row {
        const char* name;
        SerialDriver driver;
        std::vector<int> expected;  // every TIOCSSERIAL, open and close
    };
    Row rows[] = {
        {"plain", {pty.SlavePath(), kOther}, {kOther | ASYNC_LOW_LATENCY, kOther}},
        {"set by someone else", {pty.SlavePath(), kOther | ASYNC_LOW_LATENCY}, {}},
        {"no serial flags", {pty.SlavePath(), 0, ENOTTY}, {}},
        {"driver refuses", {pty.SlavePath(), 0, 0, EINVAL}, {ASYNC_LOW_LATENCY}},
        {"not allowed", {pty.SlavePath(), 0, 0, EPERM}, {ASYNC_LOW_LATENCY}},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto link = Open(row.driver.Ioctl());
        ASSERT_TRUE(link->IsReady());
        link->Write(reinterpret_cast<const std::uint8_t*>("x"), 1);
        EXPECT_EQ(pty.Read(1), std::vector<std::uint8_t>{'x'});
        link.reset();
        EXPECT_EQ(row.driver.setFlags, row.expected);
        EXPECT_EQ(row.driver.strayCalls, 0);
    }
    EXPECT_TRUE(owner.errors.empty());
}

// The console list is a file of the test's own naming its pseudo-terminal.
TEST(ConsoleRule, TheConsoleIsRefusedWithoutBeingOpenedUnlessItWasNamed) {
    QTemporaryDir dir;
    PtyPair pty;
    ASSERT_TRUE(dir.isValid() && pty.IsOpen());
    const std::string consoleList = dir.path().toStdString() + "/active";
    std::ofstream(consoleList) << "tty0 " << pty.SlavePath().substr(5) << "\n";
    OpenWatch opens;
    const int watch = opens.Watch(pty.SlavePath());
    ASSERT_GE(watch, 0);
    Owner owner;

    const std::string alias = dir.path().toStdString() + "/receiver";
    ASSERT_EQ(::symlink(pty.SlavePath().c_str(), alias.c_str()), 0);
    for (const std::string& device : {pty.SlavePath(), alias}) {
        SCOPED_TRACE(device);
        CSerialLink link({kPort, device, false}, consoleList);
        EXPECT_FALSE(link.Open(&owner));
        EXPECT_EQ(link.Refusal(), LinkRefusal::Console);
        EXPECT_FALSE(link.IsReady());
    }
    EXPECT_TRUE(opens.Opened().empty());

    CSerialLink named({kPort, alias, true}, consoleList);
    EXPECT_TRUE(named.Open(&owner));
    EXPECT_EQ(named.Refusal(), LinkRefusal::None);
    EXPECT_EQ(opens.Opened(), std::vector<int>{watch});
}

}  // namespace
