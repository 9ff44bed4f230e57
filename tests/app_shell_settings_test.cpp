// The settings store: key access, status codes, limits, damaged files, and
// the settings the program reads from it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <functional>

#include "app_shell_store.h"
#include "link.h"
#include "linkfactory.h"
#include "linksettings.h"
#include "portnames.h"
#include "regkeyex.h"
#include "settings.h"
#include "settingsfile.h"

namespace {

const QString kKey = QStringLiteral("Software\\Quorvex Solution");

class RegKeyTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey), kRegSuccess); }
    ShellStore store;
    CRegKeyEx key;
};

TEST_F(RegKeyTest, MissingValueReadsAsNotFoundWithDefinedResult) {
    QString text = "stale";
    std::uint32_t number = 77;
    EXPECT_EQ(key.QueryStringValue("Nothing", text), kRegNotFound);
    EXPECT_TRUE(text.isEmpty());
    EXPECT_EQ(key.QueryDWORDValue("Nothing", number), kRegNotFound);
    EXPECT_EQ(number, 0u);
}

TEST_F(RegKeyTest, StringOfTwoHundredBytesIsReadWholeOneMoreIsTooLong) {
    const QString fits(199, QLatin1Char('x'));  // 199 bytes and the terminator
    ASSERT_EQ(key.SetStringValue("Fits", fits), kRegSuccess);
    ASSERT_EQ(key.SetStringValue("Long", fits + "y"), kRegSuccess);
    QString text;
    EXPECT_EQ(key.QueryStringValue("Fits", text), kRegSuccess);
    EXPECT_EQ(text, fits);
    text = "stale";
    EXPECT_EQ(key.QueryStringValue("Long", text), kRegMoreData);
    EXPECT_TRUE(text.isEmpty());
}

TEST_F(RegKeyTest, LimitCountsBytesOfMultiByteText) {
    const QString fits(66, QChar(0x4E2D));  // 66 x 3 bytes + terminator = 199
    ASSERT_EQ(key.SetStringValue("Fits", fits), kRegSuccess);
    ASSERT_EQ(key.SetStringValue("Long", fits + QChar(0x4E2D)), kRegSuccess);  // 202
    QString text;
    EXPECT_EQ(key.QueryStringValue("Fits", text), kRegSuccess);
    EXPECT_EQ(text, fits);
    EXPECT_EQ(key.QueryStringValue("Long", text), kRegMoreData);
}

TEST_F(RegKeyTest, EmptyTextIsAOneByteStringValue) {
    ASSERT_EQ(key.SetStringValue("Empty", QString()), kRegSuccess);
    std::uint32_t type = 0;
    QByteArray data;
    ASSERT_EQ(key.QueryRawValue("Empty", type, data), kRegSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(data, QByteArray(1, '\0'));
    QString text = "stale";
    EXPECT_EQ(key.QueryStringValue("Empty", text), kRegSuccess);
    EXPECT_TRUE(text.isEmpty());
}

TEST_F(RegKeyTest, TypesAreNotExaminedOnQuery) {
    // A DWORD read as text: its little-endian bytes up to the first zero.
    ASSERT_EQ(key.SetDWORDValue("Number", 0x00003541u), kRegSuccess);
    QString text;
    EXPECT_EQ(key.QueryStringValue("Number", text), kRegSuccess);
    EXPECT_EQ(text, "A5");
    std::uint32_t number = 0;
    EXPECT_EQ(key.QueryDWORDValue("Number", number), kRegSuccess);
    EXPECT_EQ(number, 0x00003541u);

    // Text of up to four bytes, terminator included, reads as a number.
    ASSERT_EQ(key.SetStringValue("Short", "ab"), kRegSuccess);
    EXPECT_EQ(key.QueryDWORDValue("Short", number), kRegSuccess);
    EXPECT_EQ(number, 0x00006261u);
    ASSERT_EQ(key.SetStringValue("Word", "abcd"), kRegSuccess);
    number = 5;
    EXPECT_EQ(key.QueryDWORDValue("Word", number), kRegMoreData);
    EXPECT_EQ(number, 0u);
}

TEST_F(RegKeyTest, TextThatLooksLikeANumberStaysText) {
    ASSERT_EQ(key.SetStringValue("Tricky", "dword:00000001"), kRegSuccess);
    ASSERT_EQ(key.SetStringValue("Tagged", "sz:x"), kRegSuccess);
    QString text;
    EXPECT_EQ(key.QueryStringValue("Tricky", text), kRegSuccess);
    EXPECT_EQ(text, "dword:00000001");
    EXPECT_EQ(key.QueryStringValue("Tagged", text), kRegSuccess);
    EXPECT_EQ(text, "sz:x");
    std::uint32_t number = 0;
    EXPECT_EQ(key.QueryDWORDValue("Tricky", number), kRegMoreData);
}

TEST_F(RegKeyTest, ValuesLandUnderTheKeyPathInTheSharedFile) {
    ASSERT_EQ(key.SetStringValue("PortOfMonitor", "COM3"), kRegSuccess);
    ASSERT_EQ(key.SetDWORDValue("Count", 26), kRegSuccess);
    EXPECT_EQ(store.Raw("Software/Quorvex Solution/PortOfMonitor").toString(), "COM3");
    EXPECT_EQ(store.Raw("Software/Quorvex Solution/Count").toString(), "dword:0000001a");
    EXPECT_EQ(key.KeyName(), kKey);
}

TEST(RegKey, HandWrittenFileIsRead) {
    ShellStore store;
    store.WriteFile(
        "[Ports]\nCOM200=/dev/pts/7\n\n[Software]\n"
        "Quorvex%20Solution\\PortOfMonitor=COM9\n"
        "Quorvex%20Solution\\PathOfMonitor=\"C:\\\\a,b\"\n");
    EXPECT_EQ(GetPortOfMonitor(), "COM9");
    EXPECT_EQ(GetPathOfMonitor(), "C:\\a,b");
    // Writing one setting keeps what other parts of the program keep there.
    SetBaudRateOfMonitor("115200");
    EXPECT_EQ(store.Raw("Ports/COM200").toString(), "/dev/pts/7");
    EXPECT_EQ(GetPortOfMonitor(), "COM9");
    EXPECT_EQ(GetBaudRateOfMonitor(), "115200");
}

TEST(RegKey, FailedCreateLeavesTheObjectClosed) {
    ShellStore store;
    QDir().mkpath(store.File());  // a folder where the file should be
    CRegKeyEx key;
    EXPECT_EQ(key.Create(HKEY_CURRENT_USER, kKey), kRegAccessDenied);
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.KeyName(), kKey);
    key.Close();  // and closing it again does nothing
    EXPECT_FALSE(key.IsOpen());
}

TEST(RegKey, UnwritableStoreReportsAccessDenied) {
    ShellStore store;
    QFile blocker(store.Dir() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // The store's folder cannot be created below a plain file.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, blocker.fileName() + "/config");
    CRegKeyEx key;
    ASSERT_EQ(key.Create(HKEY_CURRENT_USER, kKey), kRegSuccess);  // missing store: empty
    EXPECT_EQ(key.SetStringValue("PortOfMonitor", "COM4"), kRegAccessDenied);
}

// Settings accessors ------------------------------------------------------

TEST(Settings, MissingStoreGivesEmptyTextsAndCreatesNoFile) {
    ShellStore store;
    EXPECT_TRUE(GetPortOfMonitor().isEmpty());
    EXPECT_TRUE(GetPathOfMonitor().isEmpty());
    EXPECT_TRUE(GetBaudRateOfMonitor().isEmpty());
    EXPECT_TRUE(GetBaudRateOfReceiver().isEmpty());
    EXPECT_EQ(GetProfileInt("Quorvex Solution", "UI", 0), 0);
    EXPECT_FALSE(QFile::exists(store.File()));
}

TEST(Settings, EachAccessorRoundTripsItsOwnValue) {
    ShellStore store;
    SetPathOfMonitor("/home/op/project");
    SetPortOfMonitor("COM5");
    SetBaudRateOfMonitor("9600");
    SetBaudRateOfReceiver("115200");
    EXPECT_EQ(GetPathOfMonitor(), "/home/op/project");
    EXPECT_EQ(GetPortOfMonitor(), "COM5");
    EXPECT_EQ(GetBaudRateOfMonitor(), "9600");
    EXPECT_EQ(GetBaudRateOfReceiver(), "115200");
    EXPECT_EQ(store.Raw("Software/Quorvex Solution/BaudRateOfReceiver").toString(), "115200");
}

TEST(Settings, ProfileIntegerLivesInTheApplicationsSection) {
    ShellStore store;
    ASSERT_TRUE(WriteProfileInt("Quorvex Solution", "UI", 1));
    EXPECT_EQ(GetProfileInt("Quorvex Solution", "UI", 0), 1);
    EXPECT_EQ(store.Raw("Software/Quorvex Solution/Quorvex Update /Quorvex Solution/UI").toString(),
              "dword:00000001");
    EXPECT_EQ(GetProfileInt("Other", "UI", -3), -3);
}

TEST(Settings, DamagedFileGivesDefaultsAndIsNeverWrittenOver) {
    ShellStore store;
    const QByteArray damaged =
        "[Software\nQuorvex%20Solution\\PortOfMonitor=COM9\n[Ports]\nCOM200=/dev/pts/7\n";
    store.WriteFile(damaged);
    for (int round = 0; round < 2; ++round) {  // the second round meets Qt's cached parse
        EXPECT_TRUE(GetPortOfMonitor().isEmpty());
        EXPECT_EQ(GetProfileInt("Quorvex Solution", "UI", 0), 0);
        SetPortOfMonitor("COM4");
        EXPECT_FALSE(WriteProfileInt("Quorvex Solution", "UI", 1));
        CRegKeyEx key;
        EXPECT_EQ(key.Create(HKEY_CURRENT_USER, kKey), kRegCorrupt);
        EXPECT_FALSE(key.IsOpen());
    }
    EXPECT_EQ(store.ReadFile(), damaged);

    // Once the operator repairs it, it is used again.
    store.WriteFile("[Software]\nQuorvex%20Solution\\PortOfMonitor=COM12\n");
    EXPECT_EQ(GetPortOfMonitor(), "COM12");
}

TEST(Settings, UnreadableStoreGivesDefaultsSilently) {
    ShellStore store;
    QDir().mkpath(store.File());
    EXPECT_TRUE(GetPortOfMonitor().isEmpty());
    SetPortOfMonitor("COM4");
    EXPECT_EQ(GetProfileInt("Quorvex Solution", "UI", 0), 0);
    EXPECT_TRUE(QFileInfo(store.File()).isDir());
}

// A settings file that is not a regular file is never opened (a FIFO would
// hang the program), and a damaged one is named line by line; the port
// error then says why a mapping is missing rather than ask for it.
TEST(SettingsFile, RefusedOrDamagedIsSaidAndNothingHangs) {
    const auto fifo = [](const QString& path) {
        QDir().mkpath(QFileInfo(path).path());
        ASSERT_EQ(::mkfifo(QFile::encodeName(path), 0600), 0);
    };
    const struct {
        const char* what;
        std::function<void(ShellStore&)> make;
        const char* problem;  // a part of what the operator is told; "" for nothing
        const char* portError;
    } rows[] = {
        {"missing", [](ShellStore&) {}, "", "Give a device path, or map COM250 in the settings"},
        {"FIFO", [&](ShellStore& s) { fifo(s.File()); },
         "QuorvexUpdate.ini is a FIFO, not a regular file, so no settings are read",
         "where group Ports would map it, was not read"},
        {"organisation's FIFO", [&](ShellStore& s) { fifo(s.Dir() + "/Quorvex Solution.ini"); },
         "Quorvex Solution.ini is a FIFO", "was not read"},
        {"folder", [](ShellStore& s) { QDir().mkpath(s.File()); }, "is a folder, not a regular",
         "was not read"},
        {"damaged",
         [](ShellStore& s) {
             s.WriteFile(
                 "\xEF\xBB\xBF[Ports]\nCOM250 /dev/pts/9\nCOM9=/dev/x\n; c \"\n"
                 "[Software]\nbad \xC2\x9B line\n=x\n");
         },
         "is damaged; it is not written to until it is repaired. These lines of it could not be "
         "read:\n  line 1: <byte-order mark> before the first line\n"
         "  line 2 in [Ports]: 'COM250 /dev/pts/9' (no =)\n"
         "  line 6 in [Software]: 'bad \\u009b line' (no =)\n"
         "  line 7 in [Software]: '=x' (no name before =)",
         "is damaged: in group Ports, line 2, 'COM250 /dev/pts/9' (no =) could not be read"},
        {"quote left open",
         [](ShellStore& s) { s.WriteFile("[Ports]\nCOM9=\"/dev/x\nCOM250=/dev/pts/9\n"); },
         "line 2 in [Ports]: 'COM9=\"/dev/x' (a quotation mark opened here takes in 1 more line)",
         "in group Ports, line 2"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ShellStore store;
        row.make(store);
        const QString problem = SettingsFileProblem(CheckSettingsFile());
        EXPECT_TRUE(*row.problem ? problem.contains(row.problem) : problem.isEmpty())
            << problem.toStdString();
        EXPECT_TRUE(PortOpenFailure(250, "").contains(row.portError))
            << PortOpenFailure(250, "").toStdString();
        // Every accessor returns; none writes to a file with a problem, and a
        // refused one gives every default.
        const bool refused = !CheckSettingsFile().refusal.isEmpty();
        const QByteArray before = refused ? QByteArray() : store.ReadFile();
        SetPortOfMonitor("COM4");
        SetStationPorts({"COM7"});
        const QString port = GetPortOfMonitor();
        const QStringList stationPorts = GetStationPorts();
        const PortOverrides overrides = LoadPortOverrides();
        if (refused) {
            EXPECT_TRUE(port.isEmpty() && stationPorts.isEmpty() && overrides.empty());
            EXPECT_EQ(GetProfileInt("Quorvex Solution", "UI", 3), 3);
            EXPECT_FALSE(QFileInfo(store.File()).isFile());
        } else if (!problem.isEmpty()) {
            EXPECT_EQ(store.ReadFile(), before);
        }
    }
}

// "PortOfMonitor" ----------------------------------------------------------

struct PortCase {
    const char* name;
    const char* text;
    int port;
};

class PortOfMonitorTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortOfMonitorTest, Parses) {
    EXPECT_EQ(ParsePortOfMonitor(GetParam().text), GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PortOfMonitorTest,
    ::testing::Values(
        PortCase{"Com5", "COM5", 5}, PortCase{"Com1", "COM1", 1}, PortCase{"Com256", "COM256", 256},
        PortCase{"Com257", "COM257", 1}, PortCase{"Com300", "COM300", 1},
        PortCase{"Com0", "COM0", 1}, PortCase{"Empty", "", 1},
        PortCase{"DevicePrefix", "\\\\.\\COM7", 1}, PortCase{"LowerCase", "com5", 1},
        PortCase{"NoNumber", "COM", 1}, PortCase{"Letters", "COMx5", 1},
        PortCase{"Negative", "COM-5", 1}, PortCase{"BlankBeforeNumber", "COM 12", 12},
        PortCase{"TrailingText", "COM12 (ttyS11)", 12}, PortCase{"ComLaterNumberFirst", "12COM", 1},
        PortCase{"ComLaterCountsFirstThree", "ABC5COM", 5},
        PortCase{"Huge", "COM99999999999999999999", 1}, PortCase{"Leading", "xCOM5", 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Settings, InitialPortFromTheStore) {
    ShellStore store;
    EXPECT_EQ(ParsePortOfMonitor(GetPortOfMonitor()), 1);  // missing
    SetPortOfMonitor("");
    EXPECT_EQ(ParsePortOfMonitor(GetPortOfMonitor()), 1);
    SetPortOfMonitor("COM5");
    EXPECT_EQ(ParsePortOfMonitor(GetPortOfMonitor()), 5);
}

// Port map and USB ids, and the link they make -------------------------------

TEST(Settings, PortMapAndUsbIdsComeFromTheirGroupsAsAnOperatorWritesThem) {
    ShellStore store;
    EXPECT_TRUE(LoadPortOverrides().empty());
    EXPECT_TRUE(LoadConfiguredUsbIds().empty());
    store.WriteFile(
        "[General]\nCOM5=/dev/pts/4\n"
        "[Ports]\nCOM200=/dev/pts/7\ncom3=\nCOM0=/dev/pts/1\nCOM257=/dev/pts/2\n"
        "COMx=/dev/pts/3\nSpeed=9600\n"
        "[Usb]\nDevices=1234:5678, abcd:EF01\n");
    EXPECT_EQ(LoadPortOverrides(), (PortOverrides{{3, ""}, {200, "/dev/pts/7"}}));
    EXPECT_EQ(LoadConfiguredUsbIds(), (std::vector<UsbId>{{0x1234, 0x5678}, {0xabcd, 0xef01}}));
}

TEST(LinkFactory, DeviceComesFromTheRunThenThePortMapThenTheDefaults) {
    ShellStore store;
    store.WriteFile("[Ports]\nCOM200=/dev/pts/7\n");
    CLinkChoice choice;
    choice.m_nComPort = 200;
    EXPECT_EQ(MakeLink(choice)->Device(), "/dev/pts/7");
    choice.m_strDevice = "/tmp/receiver";
    EXPECT_EQ(MakeLink(choice)->Device(), "/tmp/receiver");
    choice = {};
    choice.m_nComPort = 34;
    EXPECT_EQ(MakeLink(choice)->Device(), "/dev/ttyUSB1");
    choice.m_bUsb = true;
    EXPECT_EQ(MakeLink(choice)->Kind(), LinkKind::Usb);
}

}  // namespace
