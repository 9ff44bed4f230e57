// GoogleTest main for tests that need a Qt application and its event loop.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtGlobal>
#ifdef QUORVEX_TEST_WIDGETS
#include <QApplication>
#else
#include <QCoreApplication>
#endif

int main(int argc, char** argv) {
    // Set here, not only in CTest: test discovery runs this binary at build time.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Every update leaves a run log: never in the user's own state folder.
    // Programs the tests start inherit it.
    const QTemporaryDir state;
    if (!state.isValid()) return 1;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());
    // Nor a history row in the user's own data folder.
    qputenv("XDG_DATA_HOME", (state.path() + "/data").toUtf8());
    // Nor a sleep inhibitor from the machine's own logind: a system bus that
    // is not there, as on a machine without one.
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + state.path().toUtf8() + "/no-system-bus");
    ::testing::InitGoogleTest(&argc, argv);
#ifdef QUORVEX_TEST_WIDGETS
    QApplication app(argc, argv);
#else
    QCoreApplication app(argc, argv);
#endif
    return RUN_ALL_TESTS();
}
