// The sleep inhibitor against a stand-in logind on a private D-Bus: the test
// runs itself under dbus-run-session and points the system bus at that
// session's bus. The engine runs against the scripted link.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QLoggingCategory>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "sleepinhibitor.h"
#include "support/event_wait.h"
#include "support/fake_link.h"
#include "support/test_firmware.h"
#include "updateengine.h"

namespace {

constexpr int kWait = 10000;
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");

// logind's Inhibit as the program meets it: each call gets the write end of
// a fresh pipe. The read end kept here hangs up once every copy of the write
// end is closed, which is the release.
class FakeLogin1 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    struct Lock {
        QString what, who, why, mode;
        int readEnd;
    };

    ~FakeLogin1() override {
        for (const Lock& lock : locks) ::close(lock.readEnd);
    }

    // Locks somebody still holds.
    int Held() const {
        return static_cast<int>(std::count_if(locks.begin(), locks.end(), [](const Lock& lock) {
            pollfd p{lock.readEnd, POLLIN, 0};
            return ::poll(&p, 1, 0) == 0;  // no hang-up yet
        }));
    }

    std::vector<Lock> locks;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return {};
        locks.push_back({what, who, why, mode, ends[0]});
        const QDBusUnixFileDescriptor lock(ends[1]);  // holds its own copy
        ::close(ends[1]);
        return lock;
    }
};

// One engine on the scripted link, and its inhibitor.
struct Rig {
    std::shared_ptr<FakeLinkState> link = std::make_shared<FakeLinkState>();
    ScriptedReceiver receiver{*link};
    ImageConfig config = OneCpuPartConfig();
    CMemoryImageStore store;
    std::unique_ptr<UpdateEngine> engine =
        std::make_unique<UpdateEngine>(FakeLinks(link), config, store);
    CSleepInhibitor inhibitor{*engine};
    std::vector<UpdateOutcome> outcomes;

    Rig() {
        store.Add("CPU", 1, Bytes(20 * 128 + 3, 0x5A));
        OnEvent<ev::Finished>(*engine, engine.get(),
                              [this](const ev::Finished& e) { outcomes.push_back(e.outcome); });
    }
    bool Ended(UpdateOutcome outcome) const {
        return std::find(outcomes.begin(), outcomes.end(), outcome) != outcomes.end();
    }
    // Connect, and Update once the identification is over.
    void Update() {
        ASSERT_TRUE(engine->OnConnect());
        ASSERT_TRUE(WaitUntil([this] { return !engine->IsIdentifying(); }, kWait));
        engine->OnFirmwareUpdate();
    }
};

class Inhibitor : public ::testing::Test {
protected:
    void Serve() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        ASSERT_TRUE(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing);
        ASSERT_TRUE(bus.registerObject(kPath, &login1, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(bus.registerService(kService));
        m_bServing = true;
    }
    void TearDown() override {
        if (!m_bServing) return;
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(kService);
        bus.unregisterObject(kPath);
    }

    FakeLogin1 login1;

private:
    bool m_bServing = false;
};

struct EndCase {
    const char* name;
    std::function<void(Rig&)> end;
};

TEST_F(Inhibitor, TakenAtTheRestartAndReleasedAtEachKindOfEnd) {
    Serve();
    const EndCase cases[] = {
        {"completed",
         [](Rig& rig) {
             rig.receiver.answerPolls = true;
             EXPECT_TRUE(WaitUntil([&] { return rig.Ended(UpdateOutcome::Completed); }, kWait));
         }},
        {"line lost",
         [](Rig& rig) {
             rig.link->Lose("the device went away");
             EXPECT_TRUE(WaitUntil([&] { return rig.Ended(UpdateOutcome::LinkLost); }, kWait));
         }},
        {"Disconnect", [](Rig& rig) { rig.engine->OnDisconnect(); }},
        {"engine destroyed", [](Rig& rig) { rig.engine.reset(); }},
    };
    for (const EndCase& c : cases) {
        SCOPED_TRACE(c.name);
        login1.locks.clear();
        Rig rig;
        rig.receiver.answerPolls = false;  // the loader stays silent until the case says
        rig.Update();
        ASSERT_TRUE(WaitUntil([&] { return rig.inhibitor.IsHeld(); }, kWait));
        ASSERT_EQ(login1.locks.size(), 1u);
        const FakeLogin1::Lock& lock = login1.locks.front();
        EXPECT_EQ(lock.what, "sleep:idle");
        EXPECT_EQ(lock.who, "QuorvexUpdate");
        EXPECT_EQ(lock.why, "Updating receiver firmware");
        EXPECT_EQ(lock.mode, "block");
        EXPECT_EQ(login1.Held(), 1);
        EXPECT_TRUE(rig.receiver.blocks.empty()) << "taken before the transfer";

        c.end(rig);
        EXPECT_TRUE(WaitUntil([&] { return login1.Held() == 0; }, kWait));
        EXPECT_FALSE(rig.inhibitor.IsHeld());
        EXPECT_EQ(login1.locks.size(), 1u);
        for (const FakeLogin1::Lock& l : login1.locks) ::close(l.readEnd);
    }
    login1.locks.clear();
}

TEST_F(Inhibitor, WithoutLogindTheUpdateGoesOnAndOneTraceLineSaysSo) {
    static QStringList traced;
    traced.clear();
    QLoggingCategory::setFilterRules(QStringLiteral("quorvex.trace.debug=true"));
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext& context, const QString& m) {
            if (qstrcmp(context.category, "quorvex.trace") == 0 && m.contains("inhibitor"))
                traced << m;
        });
    Rig rig;
    rig.Update();
    EXPECT_TRUE(WaitUntil([&] { return rig.Ended(UpdateOutcome::Completed); }, kWait));
    EXPECT_TRUE(WaitUntil([&] { return !traced.isEmpty(); }, kWait));
    qInstallMessageHandler(previous);
    QLoggingCategory::setFilterRules(QString());
    EXPECT_EQ(traced.size(), 1) << traced.join('\n').toStdString();
    EXPECT_FALSE(rig.inhibitor.IsHeld());
    EXPECT_EQ(rig.receiver.Image(21).size(), 21u * 128) << "every block went out";
}

}  // namespace

// Under a private bus of its own, which the system bus is pointed at before
// anything connects.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QUORVEX_PRIVATE_BUS")) {
        qputenv("QUORVEX_PRIVATE_BUS", "1");
        const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
        std::vector<char*> args{const_cast<char*>("dbus-run-session"), const_cast<char*>("--"),
                                const_cast<char*>(self.c_str())};
        for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::perror("inhibitor_test: dbus-run-session");
        return 1;
    }
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", qgetenv("DBUS_SESSION_BUS_ADDRESS"));
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "inhibitor_test.moc"
