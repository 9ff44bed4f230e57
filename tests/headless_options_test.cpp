// The headless command line.
#include "headless_options.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include "comports.h"
#include "portnames.h"

namespace {

bool Parse(QStringList args, HeadlessOptions* o, QString* error) {
    args.prepend(QStringLiteral("--headless"));
    args.prepend(QStringLiteral("quorvexupdate"));
    return ParseHeadlessArguments(args, o, error);
}

}  // namespace

TEST(HeadlessOptions, PortsAndDefaults) {
    struct Row {
        QStringList args;
        int comPort;
        const char* device;
    } rows[] = {
        {{"COM5"}, 5, ""},
        {{"com12"}, 12, ""},
        {{"7"}, 7, ""},
        {{"--port", "COM256"}, 256, ""},
        {{"/dev/ttyUSB0"}, 1, "/dev/ttyUSB0"},
        {{"--port", "/dev/serial/by-id/usb-x"}, 1, "/dev/serial/by-id/usb-x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        HeadlessOptions o;
        QString error;
        ASSERT_TRUE(Parse(row.args, &o, &error)) << error.toStdString();
        EXPECT_EQ(o.link.m_nComPort, row.comPort);
        EXPECT_EQ(o.device, row.device);
        EXPECT_FALSE(o.link.m_bUsb);
        EXPECT_FALSE(o.bootAnswer);
        EXPECT_EQ(o.timeoutSeconds, 30);
        EXPECT_EQ(o.maxRestarts, 3);
        EXPECT_TRUE(o.logFile.isEmpty());
        EXPECT_TRUE(o.firmware.isEmpty()) << "the run asks for it, with its own status";
        EXPECT_FALSE(o.check);
    }
}

TEST(HeadlessOptions, EveryOption) {
    HeadlessOptions o;
    QString error;
    ASSERT_TRUE(
        Parse({"--manual-restart", "--baud-115200", "--boot", "YES", "--timeout", "2",
               "--max-restarts", "0", "--log", "/tmp/x.log", "--firmware", "z4-2024", "COM3"},
              &o, &error))
        << error.toStdString();
    EXPECT_EQ(o.firmware, "z4-2024");
    EXPECT_FALSE(o.check);
    EXPECT_TRUE(o.link.m_bManualUpdate);
    EXPECT_TRUE(o.link.m_bBaudrate115200);
    EXPECT_TRUE(o.bootAnswer);
    EXPECT_EQ(o.timeoutSeconds, 2);
    EXPECT_EQ(o.maxRestarts, 0);
    EXPECT_EQ(o.logFile, "/tmp/x.log");

    ASSERT_TRUE(Parse({"--usb", "--boot", "no"}, &o, &error));
    EXPECT_TRUE(o.link.m_bUsb);
    EXPECT_FALSE(o.bootAnswer);
    // --check needs no port.
    ASSERT_TRUE(Parse({"--firmware", "/opt/fw/z4", "--check"}, &o, &error)) << error.toStdString();
    EXPECT_TRUE(o.check);
    EXPECT_EQ(o.firmware, "/opt/fw/z4");
    ASSERT_TRUE(Parse({"--help"}, &o, &error));
    EXPECT_TRUE(o.help);
    ASSERT_TRUE(Parse({"-h"}, &o, &error));
    EXPECT_TRUE(o.help);
    ASSERT_TRUE(Parse({"--version"}, &o, &error));
    EXPECT_TRUE(o.version);
}

TEST(HeadlessOptions, BadCommandLinesSayWhy) {
    struct Row {
        QStringList args;
        const char* reason;
    } rows[] = {
        {{}, "no port given"},
        {{"COM0"}, "not a port: COM0"},
        {{"COM257"}, "not a port: COM257"},
        {{"ttyUSB0"}, "not a port: ttyUSB0"},
        {{"COM1", "COM2"}, "more than one port"},
        {{"--usb", "COM1"}, "either a serial port or --usb"},
        {{"--bogus", "COM1"}, "Unknown option 'bogus'"},
        {{"--boot", "maybe", "COM1"}, "--boot takes yes or no"},
        {{"--timeout", "0", "COM1"}, "--timeout takes whole seconds"},
        {{"--timeout", "2.5", "COM1"}, "--timeout takes whole seconds"},
        {{"--max-restarts", "-1", "COM1"}, "--max-restarts takes"},
        {{"--baud-115200", "COM1"}, "--baud-115200 goes with --manual-restart"},
        {{"--log", "", "COM1"}, "--log needs a file name"},
        {{"COM1", "--timeout"}, "Missing value after '--timeout'"},
        {{"--check"}, "--check needs --firmware"},
        {{"--check", "COM1"}, "--check needs --firmware"},
        {{"--firmware", "", "COM1"}, "--firmware needs a folder"},
        {{"--firmware", "a", "--firmware", "b", "COM1"}, "more than one --firmware"},
        {{"--firmware", "builtin"}, "no port given"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        HeadlessOptions o;
        QString error;
        EXPECT_FALSE(Parse(row.args, &o, &error));
        EXPECT_TRUE(error.contains(QLatin1String(row.reason))) << error.toStdString();
    }
}

TEST(HeadlessOptions, UsageListsEveryExitStatus) {
    const QString usage = HeadlessUsage(QStringLiteral("quorvexupdate-cli"));
    for (int code :
         {kExitCompleted, kExitBadArguments, kExitPortNotOpened, kExitNoAnswer, kExitNoFirmware,
          kExitSilent, kExitTooManyRestarts, kExitBootSent, kExitBadPackage, kExitInterrupted}) {
        EXPECT_TRUE(usage.contains(QRegularExpression(QStringLiteral("\n  %1 ").arg(code))))
            << code;
    }
}

TEST(HeadlessOptions, DevicePathTakesTheNumberItAlreadyHas) {
    PortOverrides overrides{{200, "/dev/pts/9"}, {33, ""}};
    EXPECT_EQ(ComNumberForDevice("/dev/pts/9", overrides), 200u);
    EXPECT_EQ(ComNumberForDevice("/dev/ttyACM1", overrides), 66u) << "default map";
    EXPECT_EQ(ComNumberForDevice("/dev/ttyUSB0", overrides), 256u) << "COM33 taken out of use";
    EXPECT_EQ(ComNumberForDevice("/tmp/receiver", overrides), 256u);
}
