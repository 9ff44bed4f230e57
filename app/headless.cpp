// quorvexupdate --headless: one update without a window.
#include "headless.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>

#include "appinfo.h"
#include "comports.h"
#include "headless_options.h"
#include "headless_output.h"
#include "headless_run.h"
#include "mainframe.h"

namespace {

// Self-pipe: the handler only writes a byte; the event loop reads it.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    // A second Ctrl-C ends the program at once.
    struct sigaction dflt {};
    dflt.sa_handler = SIG_DFL;
    ::sigaction(signal, &dflt, nullptr);
    errno = saved;
}

bool InstallStopSignals() {
    if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 &&
           ::sigaction(SIGTERM, &action, nullptr) == 0;
}

// Qt's own notices pass through, except the one every run without a login
// session would print and nobody can act on.
QtMessageHandler g_defaultHandler = nullptr;

void FilterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"))) return;
    if (g_defaultHandler) g_defaultHandler(type, context, text);
}

int TerminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

}  // namespace

int RunHeadless(int argc, char** argv) {
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    HeadlessOptions options;
    QString error;
    if (!ParseHeadlessArguments(args, &options, &error)) {
        std::fprintf(stderr, "quorvexupdate: %s\nTry 'quorvexupdate --headless --help'.\n",
                     qPrintable(error));
        return kExitBadArguments;
    }
    if (options.help) {
        std::fputs(qPrintable(HeadlessUsage()), stdout);
        return kExitCompleted;
    }
    if (options.version) {
        std::printf("%s %s\n", kProductName, kProgramVersion);
        return kExitCompleted;
    }

    // No display is needed, nor used.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // A reader that went away must not end the run in the middle of a transfer.
    ::signal(SIGPIPE, SIG_IGN);
    g_defaultHandler = qInstallMessageHandler(FilterQtMessages);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(kProductName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));

    if (!options.device.empty()) {
        // This run's device goes by a COM number in the messages; it is known
        // to this process only, so no settings file is written.
        const unsigned port = ComNumberForDevice(options.device, LoadPortOverrides());
        SetComDeviceOverride(port, options.device);
        options.link.m_nComPort = static_cast<int>(port);
    }

    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    CHeadlessOutput output(stdout, stderr, terminal, terminal ? TerminalColumns() : 80);
    if (!options.logFile.isEmpty() && !output.OpenLog(options.logFile, &error)) {
        output.Error(QStringLiteral("quorvexupdate: ") + error);
        return kExitBadArguments;
    }
    if (!InstallStopSignals()) {
        output.Error(QStringLiteral("quorvexupdate: cannot watch for Ctrl-C"));
        return kExitBadArguments;
    }

    CMainFrame frame(FrameStartup{options.link, false});
    CHeadlessRun run(frame, options, output);
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &run, [&] {
        char byte = 0;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
        }
        run.Interrupt();
    });
    QObject::connect(&run, &CHeadlessRun::finished, &app,
                     [](int code) { QCoreApplication::exit(code); });
    run.Start();
    const int code = app.exec();
    return run.IsFinished() ? run.ExitCode() : code;
}
