// The settings file: what the program reads from it and writes to it, old
// files kept byte for byte, damaged and refused files.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSettings>
#include <functional>

#include "app_shell_store.h"
#include "link.h"
#include "linkfactory.h"
#include "portnames.h"
#include "settings.h"
#include "settingsfile.h"

namespace {

TEST(Settings, MissingFileGivesDefaultsAndCreatesNoFile) {
    ShellStore store;
    const CSettings settings;
    EXPECT_EQ(settings.Language(QLocale(QLocale::English)), 1);
    EXPECT_TRUE(settings.PortOfMonitor().isEmpty());
    EXPECT_EQ(settings.ComPortOfMonitor(), 1);
    EXPECT_TRUE(settings.FirmwarePackageFolder().isEmpty());
    EXPECT_TRUE(settings.StationPorts().isEmpty());
    EXPECT_TRUE(settings.PortMap().empty());
    EXPECT_TRUE(settings.UsbIds().empty());
    EXPECT_FALSE(QFile::exists(store.File()));
}

TEST(Settings, ValuesOfTheWrongTypeReadAsDefaults) {
    ShellStore store;
    store.WriteFile(
        "[Software]\nQuorvex%20Solution\\PortOfMonitor=dword:00000005\n"
        "Quorvex%20Solution\\Quorvex%20Update%20\\Quorvex%20Solution\\UI=1\n");
    const CSettings settings;
    EXPECT_EQ(settings.Language(QLocale(QLocale::Chinese)), 0) << "a number is stored as dword:";
    EXPECT_TRUE(settings.PortOfMonitor().isEmpty()) << "a number is no text";
}

// Files as earlier versions of the program (and the maker's tools, which
// share [Software]) wrote them: read, then every value written back, they
// are the same bytes, the operator's groups included.
TEST(Settings, OldFileReadAndWrittenBackUnchanged) {
    const struct {
        const char* what;
        const char* file;
        int language;
        const char* port;
        const char* package;
        QStringList station;
    } rows[] = {
        {"every value",
         "[Firmware]\nPackage=\"/home/op/Z4 5.1, final\"\n\n"
         "[Ports]\nCOM200=/dev/pts/7\ncom3=\n\n"
         "[Software]\nQuorvex%20Solution\\PortOfMonitor=COM12\n"
         "Quorvex%20Solution\\Quorvex%20Update%20\\Quorvex%20Solution\\UI=dword:00000001\n\n"
         "[Station]\nPorts=COM200, /dev/pts/3\n\n[Usb]\nDevices=1234:5678, abcd:EF01\n",
         1,
         "COM12",
         "/home/op/Z4 5.1, final",
         {"COM200", "/dev/pts/3"}},
        {"texts that look tagged, a language of neither",
         "[Firmware]\nPackage=/p\n\n[Software]\n"
         "Quorvex%20Solution\\PortOfMonitor=sz:dword:00000001\n"
         "Quorvex%20Solution\\Quorvex%20Update%20\\Quorvex%20Solution\\UI=dword:ffffffff\n\n"
         "[Station]\nPorts=COM7\n",
         -1,
         "dword:00000001",
         "/p",
         {"COM7"}},
        {"quoted text, no station rows",
         "[Firmware]\nPackage=\n\n[Software]\n"
         "Quorvex%20Solution\\PortOfMonitor=\"COM3 \xE4\xB8\xAD\\\"q\\\" ;x=y\"\n"
         "Quorvex%20Solution\\Quorvex%20Update%20\\Quorvex%20Solution\\UI=dword:00000002\n\n"
         "[Station]\nPorts=@Invalid()\n",
         2,
         "COM3 \u4E2D\"q\" ;x=y",
         "",
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ShellStore store;
        store.WriteFile(row.file);
        {
            const CSettings settings;
            EXPECT_EQ(settings.Language(), row.language);
            EXPECT_EQ(settings.PortOfMonitor(), QString::fromUtf8(row.port));
            EXPECT_EQ(settings.FirmwarePackageFolder(), row.package);
            EXPECT_EQ(settings.StationPorts(), row.station);
        }
        CSettings settings;
        EXPECT_TRUE(settings.SetLanguage(row.language));
        EXPECT_TRUE(settings.SetPortOfMonitor(QString::fromUtf8(row.port)));
        EXPECT_TRUE(settings.SetFirmwarePackageFolder(row.package));
        EXPECT_TRUE(settings.SetStationPorts(row.station));
        EXPECT_EQ(store.ReadFile().toStdString(), row.file);
    }
}

// Without a stored choice the window speaks the desktop's language.
TEST(Settings, LanguageIsTheChoiceElseTheDesktops) {
    const QByteArray ui =
        "[Software]\nQuorvex%20Solution\\Quorvex%20Update%20\\Quorvex%20Solution\\UI=";
    const struct {
        const char* locale;
        QByteArray file;
        int language;
    } rows[] = {
        {"en_US", "", 1},
        {"zh_CN", "", 0},
        {"zh_TW", "", 0},
        {"de_DE", "", 1},
        {"C", "", 1},
        {"en_US", ui + "dword:00000000\n", 0},
        {"zh_CN", ui + "dword:00000001\n", 1},
        {"zh_CN", ui + "dword:00000002\n", 2},
    };
    for (const auto& row : rows) {
        ShellStore store;
        if (!row.file.isEmpty()) store.WriteFile(row.file);
        EXPECT_EQ(CSettings().Language(QLocale(row.locale)), row.language)
            << row.locale << " " << row.file.toStdString();
    }
}

TEST(Settings, DamagedFileIsNeverWrittenOver) {
    ShellStore store;
    const QByteArray damaged =
        "[Software\nQuorvex%20Solution\\PortOfMonitor=COM9\n[Ports]\nCOM200=/dev/pts/7\n";
    store.WriteFile(damaged);
    for (int round = 0; round < 2; ++round) {  // the second round meets Qt's cached parse
        CSettings settings;
        EXPECT_TRUE(settings.PortOfMonitor().isEmpty());
        EXPECT_EQ(settings.Language(QLocale(QLocale::English)), 1);
        EXPECT_EQ(settings.PortMap(), (PortOverrides{{200, "/dev/pts/7"}}));
        EXPECT_FALSE(settings.SetPortOfMonitor("COM4"));
        EXPECT_FALSE(settings.SetLanguage(1));
        EXPECT_FALSE(settings.SetStationPorts({"COM4"}));
    }
    EXPECT_EQ(store.ReadFile(), damaged);

    // Once the operator repairs it, it is used again.
    store.WriteFile("[Software]\nQuorvex%20Solution\\PortOfMonitor=COM12\n");
    EXPECT_EQ(CSettings().ComPortOfMonitor(), 12);
    EXPECT_TRUE(CSettings().SetLanguage(1));
}

TEST(Settings, UnwritableFolderFailsQuietly) {
    ShellStore store;
    QFile blocker(store.Dir() + "/blocker");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    // The file's folder cannot be created below a plain file.
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, blocker.fileName() + "/config");
    EXPECT_FALSE(CSettings().SetPortOfMonitor("COM4"));
    EXPECT_TRUE(CSettings().PortOfMonitor().isEmpty());
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
        CSettings settings;
        EXPECT_EQ(settings.SetPortOfMonitor("COM4"), problem.isEmpty());
        EXPECT_EQ(settings.SetStationPorts({"COM7"}), problem.isEmpty());
        if (refused) {
            EXPECT_TRUE(settings.PortOfMonitor().isEmpty() && settings.StationPorts().isEmpty() &&
                        settings.PortMap().empty());
            EXPECT_EQ(settings.Language(QLocale(QLocale::Chinese)), 0);
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

TEST(Settings, InitialPortFromTheFile) {
    ShellStore store;
    CSettings().SetPortOfMonitor("");
    EXPECT_EQ(CSettings().ComPortOfMonitor(), 1);
    CSettings().SetPortOfMonitor("COM5");
    EXPECT_EQ(CSettings().ComPortOfMonitor(), 5);
}

// Port map and USB ids, and the link they make -------------------------------

TEST(Settings, PortMapAndUsbIdsComeFromTheirGroupsAsAnOperatorWritesThem) {
    ShellStore store;
    store.WriteFile(
        "[General]\nCOM5=/dev/pts/4\n"
        "[Ports]\nCOM200=/dev/pts/7\ncom3=\nCOM0=/dev/pts/1\nCOM257=/dev/pts/2\n"
        "COMx=/dev/pts/3\nSpeed=9600\n"
        "[Usb]\nDevices=1234:5678, abcd:EF01\n");
    const CSettings settings;
    EXPECT_EQ(settings.PortMap(), (PortOverrides{{3, ""}, {200, "/dev/pts/7"}}));
    EXPECT_EQ(settings.UsbIds(), (std::vector<UsbId>{{0x1234, 0x5678}, {0xabcd, 0xef01}}));
}

// A port is resolved where it is chosen; the link opens that device even
// when the file has changed since.
TEST(LinkFactory, OpensThePortAsItWasChosen) {
    ShellStore store;
    store.WriteFile("[Ports]\nCOM200=/dev/pts/7\n");
    CLinkChoice choice;
    ChoosePort(choice, ComPortOf(200, CSettings().PortMap()));
    store.WriteFile("[Ports]\nCOM200=/dev/pts/8\n");
    EXPECT_EQ(MakeLink(choice)->Device(), "/dev/pts/7");
    ChoosePort(choice, ComPortOfDevice("/tmp/receiver", CSettings().PortMap()));
    EXPECT_EQ(choice.m_nComPort, 256);
    EXPECT_EQ(MakeLink(choice)->Device(), "/tmp/receiver");
    choice.m_bUsb = true;
    EXPECT_EQ(MakeLink(choice)->Kind(), LinkKind::Usb);
}

}  // namespace
