// COM numbers, their devices and the port probe. Only pseudo-terminals and
// files of the test's own are ever opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <fstream>

#include "comports.h"
#include "serial_recorder.h"
#include "support/pty.h"

namespace {

using namespace std::chrono_literals;

TEST(ComDevicePath, MapsNumbersToDevices) {
    const PortOverrides overrides = {
        {7, "/dev/serial/by-id/usb-receiver-if00"},
        {33, "/dev/pts/3"},
        {200, "/dev/pts/7"},
        {1, ""},                // taken out of use
        {40, "relative/path"},  // refused
    };
    struct Row {
        unsigned port;
        const char* device;
    };
    const Row rows[] = {
        {0, ""},
        {1, ""},
        {2, "/dev/ttyS1"},
        {7, "/dev/serial/by-id/usb-receiver-if00"},
        {32, "/dev/ttyS31"},
        {33, "/dev/pts/3"},
        {34, "/dev/ttyUSB1"},
        {40, ""},
        {64, "/dev/ttyUSB31"},
        {65, "/dev/ttyACM0"},
        {96, "/dev/ttyACM31"},
        {97, ""},
        {200, "/dev/pts/7"},
        {256, ""},
        {257, ""},
    };
    for (const Row& row : rows)
        EXPECT_EQ(ComDevicePath(row.port, overrides), row.device) << "COM" << row.port;

    EXPECT_EQ(ComDevicePath(1, {}), "/dev/ttyS0");
    EXPECT_EQ(ComDevicePath(33, {}), "/dev/ttyUSB0");
    EXPECT_EQ(ComDevicePath(257, {{257, "/dev/pts/1"}}), "");
}

TEST(ComDevicePath, PortsAndLabels) {
    const PortOverrides overrides = {{200, "/dev/pts/7"}, {3, ""}};
    EXPECT_EQ(ComPortOf(200, overrides), (ComPort{200, "/dev/pts/7", true}));
    EXPECT_EQ(ComPortOf(3, overrides), (ComPort{3, "", true}));
    EXPECT_EQ(ComPortOf(34, overrides), (ComPort{34, "/dev/ttyUSB1", false}));
    EXPECT_EQ(ComPortLabel({33, "/dev/ttyUSB0"}), "COM33 (ttyUSB0)");
    EXPECT_EQ(ComPortLabel({200, "/dev/pts/7"}), "COM200 (pts/7)");
    EXPECT_EQ(ComPortLabel({5, "/tmp/x"}), "COM5 (/tmp/x)");
    EXPECT_EQ(ComPortLabel({3, ""}), "COM3");
}

class Probe : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string Path(const char* name) const { return dir.path().toStdString() + "/" + name; }
    QTemporaryDir dir;
};

// Holds an flock on path in a child process until the returned pipe closes.
pid_t HoldLockInChild(const std::string& path, int* release) {
    int ready[2], hold[2];
    if (::pipe(ready) != 0 || ::pipe(hold) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        ::close(hold[1]);  // so the parent's close is the end of the pipe
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        const char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 1 : 0;
        [[maybe_unused]] ssize_t n = ::write(ready[1], &ok, 1);
        char byte;
        n = ::read(hold[0], &byte, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(hold[0]);
    char ok = 0;
    const bool locked = ::read(ready[0], &ok, 1) == 1 && ok == 1;
    ::close(ready[0]);
    *release = hold[1];
    return locked ? child : -1;
}

TEST_F(Probe, ListsOpenablePortsInOrderAndSkipsHeldOnes) {
    PtyPair free1, held, free2;
    ASSERT_TRUE(free1.IsOpen() && held.IsOpen() && free2.IsOpen());
    const std::string plainFile = Path("plain");
    ::close(::open(plainFile.c_str(), O_CREAT | O_WRONLY, 0600));
    const PortOverrides overrides = {
        {150, free2.SlavePath()},   {12, free1.SlavePath()}, {99, held.SlavePath()},
        {100, Path("no-such-tty")}, {101, plainFile},
    };
    termios before = free1.MasterTermios();

    int release = -1;
    const pid_t holder = HoldLockInChild(held.SlavePath(), &release);
    ASSERT_GT(holder, 0);
    const auto ports = EnumeratePorts(overrides, PortProbe::OverridesOnly);
    ::close(release);
    ::waitpid(holder, nullptr, 0);

    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0], (ComPort{12, free1.SlavePath(), true}));
    EXPECT_EQ(ports[1], (ComPort{150, free2.SlavePath(), true}));

    // The probe changed nothing: same line settings, and no exclusive flag
    // that would keep the next opener out.
    const termios after = free1.MasterTermios();
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    const int again = ::open(free1.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(again, 0);
    ::close(again);

    // Released, the held port is listed again.
    const auto later = EnumeratePorts(overrides, PortProbe::OverridesOnly);
    ASSERT_EQ(later.size(), 3u);
    EXPECT_EQ(later[1].number, 99u);
}

TEST_F(Probe, EmptyEntriesLeaveEveryDefaultDeviceAlone) {
    PtyPair line;
    ASSERT_TRUE(line.IsOpen());
    PortOverrides overrides;
    for (unsigned port = 1; port <= 96; ++port) overrides[port] = "";
    overrides[200] = line.SlavePath();
    const auto ports = EnumeratePorts(overrides);
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0], (ComPort{200, line.SlavePath(), true}));
}

TEST_F(Probe, NeverOpensTheConsoleAndListsItWhereTheOperatorNamedIt) {
    PtyPair console, line;
    ASSERT_TRUE(console.IsOpen() && line.IsOpen());
    const std::string consoleList = Path("active");
    std::ofstream(consoleList) << console.SlavePath().substr(5) << " tty0\n";
    OpenWatch opens;
    const int consoleWatch = opens.Watch(console.SlavePath());
    const int lineWatch = opens.Watch(line.SlavePath());
    ASSERT_GE(consoleWatch, 0);
    ASSERT_GE(lineWatch, 0);

    const auto ports = EnumeratePorts({{12, console.SlavePath()}, {13, line.SlavePath()}},
                                      PortProbe::OverridesOnly, consoleList);
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].device, console.SlavePath());
    EXPECT_EQ(ports[1].device, line.SlavePath());
    EXPECT_EQ(opens.Opened(), std::vector<int>{lineWatch}) << "the console was not probed";
}

}  // namespace
