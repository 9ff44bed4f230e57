// quorvexupdate --headless and quorvexupdate-cli: one update without a window.
#include "headless.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "appinfo.h"
#include "datafolders.h"
#include "firmware.h"
#include "headless_history.h"
#include "headless_options.h"
#include "headless_output.h"
#include "headless_run.h"
#include "history.h"
#include "linkfactory.h"
#include "settings.h"
#include "settingsfile.h"
#include "updateengine.h"

namespace {

// Self-pipe: the handler only writes a byte; the event loop reads it.
int g_signalPipe[2] = {-1, -1};

extern "C" void OnStopSignal(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

// Once the run is stopping, another Ctrl-C ends the program at once.
void RestoreStopSignals() {
    struct sigaction dflt {};
    dflt.sa_handler = SIG_DFL;
    ::sigaction(SIGINT, &dflt, nullptr);
    ::sigaction(SIGTERM, &dflt, nullptr);
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

int TerminalColumns() {
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    return 80;
}

const char* ProgramName(HeadlessProgram program) {
    return program == HeadlessProgram::kCli ? "quorvexupdate-cli" : "quorvexupdate";
}

void PrintUsage(HeadlessProgram program) {
    // First, so that the rest reads the same for both programs (and their
    // manual pages keep the exit statuses as the last section).
    if (program == HeadlessProgram::kWindow)
        std::fputs(
            "Usage: quorvexupdate [-platform NAME]\n"
            "   or: quorvexupdate --headless --firmware PACKAGE [OPTION]... PORT\n"
            "\n"
            "Without --headless, quorvexupdate opens its window, which needs a display (X11 or\n"
            "Wayland): choose the port in App > Link setup, the firmware in App > Firmware\n"
            "Package..., Connect and Update; App > Station... updates several receivers side by\n"
            "side. The window takes no options of its own besides Qt's -platform, -style,\n"
            "-geometry, -display and -reverse.\n"
            "\n"
            "With --headless it runs one update without a window, as quorvexupdate-cli does:\n"
            "\n",
            stdout);
    const QString command = program == HeadlessProgram::kCli
                                ? QStringLiteral("quorvexupdate-cli")
                                : QStringLiteral("quorvexupdate --headless");
    std::fputs(qPrintable(HeadlessUsage(command)), stdout);
}

void PrintVersion(HeadlessProgram program) {
    // The window's line stays as scripts already read it; the CLI program
    // names itself in the usual "program (package) version" form.
    if (program == HeadlessProgram::kCli)
        std::printf("%s (%s) %s\n", ProgramName(program), kProductName, kProgramVersion);
    else
        std::printf("%s %s\n", kProductName, kProgramVersion);
}

}  // namespace

bool PrintHelpOrVersion(int argc, char** argv, HeadlessProgram program) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            PrintVersion(program);
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(program);
            return true;
        }
    }
    return false;
}

int RunHeadless(int argc, char** argv, HeadlessProgram program) {
    const QString name = QString::fromLatin1(ProgramName(program));
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    if (IsHistoryCommand(args)) {
        const QCoreApplication app(argc, argv);  // the SQL drivers are its plug-ins
        return RunHistoryCommand(args, name, stdout, stderr);
    }
    HeadlessOptions options;
    QString error;
    if (!ParseHeadlessArguments(args, &options, &error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s%s --help'.\n", ProgramName(program),
                     qPrintable(error), ProgramName(program),
                     program == HeadlessProgram::kCli ? "" : " --headless");
        return kExitBadArguments;
    }
    if (options.help) {
        PrintUsage(program);
        return kExitCompleted;
    }
    if (options.version) {
        PrintVersion(program);
        return kExitCompleted;
    }
    if (!options.historyDb.isEmpty() && !ParseHistoryUrl(options.historyDb, &error)) {
        std::fprintf(stderr, "%s: --history-db: %s\n", ProgramName(program), qPrintable(error));
        return kExitBadArguments;
    }

    // A reader that went away must not end the run in the middle of a transfer.
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(kProductName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));

    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    CHeadlessOutput output(stdout, stderr, terminal, terminal ? TerminalColumns() : 80);
    if (!options.logFile.isEmpty() && !output.OpenLog(options.logFile, &error)) {
        output.Error(name + QStringLiteral(": ") + error);
        return kExitBadArguments;
    }
    if (options.check)
        return CheckFirmwarePackage(options.firmware, FirmwareSearchFolders(), output);
    // Said before the run reads any setting.
    if (const QString problem = SettingsFileProblem(CheckSettingsFile()); !problem.isEmpty())
        output.Error(problem);
    if (!InstallStopSignals()) {
        output.Error(name + QStringLiteral(": cannot watch for Ctrl-C"));
        return kExitBadArguments;
    }

    // Outlives the run, so that its row is written (or spooled) before the end.
    CHistory history(options.historyDb.isEmpty() ? CSettings().HistoryDatabase()
                                                 : options.historyDb);
    const CResourceImageStore store;
    UpdateEngine engine(RealLinks(), CarriedImageConfig(), store);
    CHeadlessRun run(engine, options, output, FirmwareSearchFolders(), &history);
    QSocketNotifier stopNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &run, [&] {
        char byte = 0;
        while (::read(g_signalPipe[0], &byte, 1) > 0) {
            // SIGTERM is a machine's request and stops at once; a Ctrl-C in
            // the middle of a flash is first only warned about.
            run.Interrupt(byte == SIGTERM);
        }
        if (run.IsFinished()) RestoreStopSignals();
    });
    QObject::connect(&run, &CHeadlessRun::finished, &app,
                     [](int code) { QCoreApplication::exit(code); });
    run.Start();
    const int code = app.exec();
    // The run's row is written, or kept for later, before the program ends,
    // and what became of it is said.
    constexpr int kHistoryWaitMs = 15000;
    history.Drain(kHistoryWaitMs);
    QCoreApplication::sendPostedEvents(&history);
    return run.IsFinished() ? run.ExitCode() : code;
}
