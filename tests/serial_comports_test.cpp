// COM numbers, their devices and the port probe. Only pseudo-terminals and
// files of the test's own are ever opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "comports.h"
#include "serial_settings.h"
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

TEST(ComDevicePath, NamesAndLabels) {
    EXPECT_EQ(ComDeviceName(1), "\\\\.\\COM1");
    EXPECT_EQ(ComDeviceName(256), "\\\\.\\COM256");
    EXPECT_EQ(ComPortLabel({33, ComDeviceName(33), "/dev/ttyUSB0"}), "COM33 (ttyUSB0)");
    EXPECT_EQ(ComPortLabel({200, ComDeviceName(200), "/dev/pts/7"}), "COM200 (pts/7)");
    EXPECT_EQ(ComPortLabel({5, ComDeviceName(5), "/tmp/x"}), "COM5 (/tmp/x)");
}

class PortSettings : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(settings.IsReady()); }
    TempSettings settings;
};

TEST_F(PortSettings, OverridesComeFromGroupPorts) {
    settings.MapPort(200, "/dev/pts/7");
    settings.MapPort(3, "");
    settings.MapPort(0, "/dev/pts/1");    // not a port number
    settings.MapPort(257, "/dev/pts/2");  // nor this
    QSettings store(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Quorvex Solution"),
                    QStringLiteral("QuorvexUpdate"));
    store.setValue(QStringLiteral("Ports/Speed"), 9600);
    store.setValue(QStringLiteral("Ports/COMx"), QStringLiteral("/dev/pts/3"));
    store.setValue(QStringLiteral("COM5"), QStringLiteral("/dev/pts/4"));  // outside the group
    store.sync();

    EXPECT_EQ(LoadPortOverrides(), (PortOverrides{{3, ""}, {200, "/dev/pts/7"}}));
    EXPECT_EQ(ComDevicePath(200), "/dev/pts/7");
    EXPECT_EQ(ComDevicePath(3), "");
    EXPECT_EQ(ComDevicePath(5), "/dev/ttyS4");  // mapped, not opened
}

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

TEST_F(PortSettings, ProbeListsOpenablePortsInOrderAndSkipsHeldOnes) {
    PtyPair free1, held, free2;
    ASSERT_TRUE(free1.IsOpen() && held.IsOpen() && free2.IsOpen());
    const std::string plainFile = settings.Dir() + "/plain";
    ::close(::open(plainFile.c_str(), O_CREAT | O_WRONLY, 0600));
    const PortOverrides overrides = {
        {150, free2.SlavePath()}, {12, free1.SlavePath()},
        {99, held.SlavePath()},   {100, settings.Dir() + "/no-such-tty"},
        {101, plainFile},
    };
    termios before = free1.MasterTermios();

    int release = -1;
    const pid_t holder = HoldLockInChild(held.SlavePath(), &release);
    ASSERT_GT(holder, 0);
    const auto ports = EnumeratePorts(overrides, PortProbe::OverridesOnly);
    ::close(release);
    ::waitpid(holder, nullptr, 0);

    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].nPort, 12u);
    EXPECT_EQ(ports[0].strName, "\\\\.\\COM12");
    EXPECT_EQ(ports[0].strDevice, free1.SlavePath());
    EXPECT_EQ(ports[1].nPort, 150u);
    EXPECT_EQ(ports[1].strDevice, free2.SlavePath());

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
    EXPECT_EQ(later[1].nPort, 99u);
}

TEST_F(PortSettings, ProbeWithTheSettingsStoreCanLeaveEveryDefaultDeviceAlone) {
    PtyPair line;
    ASSERT_TRUE(line.IsOpen());
    // Empty entries take the default devices out of the probe.
    for (unsigned port = 1; port <= 96; ++port) settings.MapPort(port, "");
    settings.MapPort(200, line.SlavePath());
    const auto ports = EnumeratePorts();
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].nPort, 200u);
    EXPECT_EQ(ComPortLabel(ports[0]), "COM200 (" + line.SlavePath().substr(5) + ")");
}

}  // namespace
