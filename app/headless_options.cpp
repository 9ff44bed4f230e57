#include "headless_options.h"

#include <QCommandLineParser>

#include "portnames.h"

namespace {

constexpr int kMaxTimeoutSeconds = 24 * 3600;
constexpr int kMaxRestartsLimit = 1000;

bool ToBoundedInt(const QString& text, int low, int high, int* value) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < low || v > high) return false;
    *value = v;
    return true;
}

// The options `--headless` takes, on their parser.
struct HeadlessCommandLine {
    QCommandLineParser parser;
    const QCommandLineOption headless{QStringLiteral("headless")};
    const QCommandLineOption port{QStringLiteral("port"), {}, QStringLiteral("PORT")};
    const QCommandLineOption usb{QStringLiteral("usb")};
    const QCommandLineOption manual{QStringLiteral("manual-restart")};
    const QCommandLineOption baud{QStringLiteral("baud-115200")};
    const QCommandLineOption boot{QStringLiteral("boot"), {}, QStringLiteral("ANSWER")};
    const QCommandLineOption timeout{QStringLiteral("timeout"), {}, QStringLiteral("SECONDS")};
    const QCommandLineOption completion{
        QStringLiteral("completion-timeout"), {}, QStringLiteral("SECONDS")};
    const QCommandLineOption restarts{QStringLiteral("max-restarts"), {}, QStringLiteral("N")};
    const QCommandLineOption log{QStringLiteral("log"), {}, QStringLiteral("FILE")};
    const QCommandLineOption firmware{QStringLiteral("firmware"), {}, QStringLiteral("PACKAGE")};
    const QCommandLineOption check{QStringLiteral("check")};
    const QCommandLineOption force{QStringLiteral("force")};
    const QCommandLineOption noVerify{QStringLiteral("no-verify")};
    const QCommandLineOption historyDb{QStringLiteral("history-db"), {}, QStringLiteral("URL")};
    const QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    const QCommandLineOption version{QStringLiteral("version")};

    HeadlessCommandLine() {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({headless, port, usb, manual, baud, boot, timeout, completion, restarts,
                           log, firmware, check, force, noVerify, historyDb, help, version});
        parser.addPositionalArgument(QStringLiteral("PORT"), {});
    }
};

// --firmware and --check.
bool ReadPackage(const HeadlessCommandLine& c, HeadlessOptions* o, QString* error) {
    // A missing --firmware is not a bad command line: the run says which
    // package to give and ends with its own status.
    const QStringList firmwares = c.parser.values(c.firmware);
    if (firmwares.size() > 1) {
        *error = QStringLiteral("more than one --firmware given");
        return false;
    }
    if (!firmwares.isEmpty()) {
        o->firmware = firmwares.front();
        if (o->firmware.isEmpty()) {
            *error = QStringLiteral("--firmware needs a folder, a package name or builtin");
            return false;
        }
    }
    o->check = c.parser.isSet(c.check);
    o->historyDb = c.parser.value(c.historyDb);
    if (o->check && o->firmware.isEmpty()) {
        *error =
            QStringLiteral("--check needs --firmware DIR, --firmware NAME or --firmware builtin");
        return false;
    }
    return true;
}

// The port, given as an argument or with --port, or --usb.
bool ReadPort(const HeadlessCommandLine& c, HeadlessOptions* o, QString* error) {
    QStringList ports = c.parser.positionalArguments();
    if (c.parser.isSet(c.port)) ports += c.parser.values(c.port);
    o->link.m_bUsb = c.parser.isSet(c.usb);
    if (ports.size() > 1) {
        *error = QStringLiteral("more than one port given: %1").arg(ports.join(QLatin1Char(' ')));
        return false;
    }
    if (o->link.m_bUsb && !ports.isEmpty()) {
        *error = QStringLiteral("give either a serial port or --usb, not both");
        return false;
    }
    if (o->link.m_bUsb || (o->check && ports.isEmpty())) return true;
    if (ports.isEmpty()) {
        *error = QStringLiteral("no port given (e.g. COM5, 5, /dev/ttyUSB0, or --usb)");
        return false;
    }
    const QString& text = ports.front();
    if (text.startsWith(QLatin1Char('/'))) {
        o->device = text.toLocal8Bit().toStdString();
        return true;
    }
    o->link.m_nComPort = static_cast<int>(ParseComNumber(text));
    if (o->link.m_nComPort == 0) {
        *error = QStringLiteral(
                     "not a port: %1 (give COM1..COM256, 1..256 or a device path such as "
                     "/dev/ttyUSB0)")
                     .arg(text);
        return false;
    }
    return true;
}

// A number option from low to high; takes says what it takes, with the
// high bound as %1 and the text given as %2.
bool ReadNumber(const HeadlessCommandLine& c, const QCommandLineOption& option, int low, int high,
                const QString& takes, int* value, QString* error) {
    if (!c.parser.isSet(option) || ToBoundedInt(c.parser.value(option), low, high, value))
        return true;
    *error = takes.arg(high).arg(c.parser.value(option));
    return false;
}

// How the run goes: the restart, the boot answer, the time-outs, the log.
bool ReadRun(const HeadlessCommandLine& c, HeadlessOptions* o, QString* error) {
    o->link.m_bManualUpdate = c.parser.isSet(c.manual);
    o->link.m_bBaudrate115200 = c.parser.isSet(c.baud);
    // As in Link Setup, the loader speed option belongs to the manual restart.
    if (o->link.m_bBaudrate115200 && !o->link.m_bManualUpdate) {
        *error = QStringLiteral("--baud-115200 goes with --manual-restart");
        return false;
    }
    if (c.parser.isSet(c.boot)) {
        const QString answer = c.parser.value(c.boot).toLower();
        if (answer != QLatin1String("yes") && answer != QLatin1String("no")) {
            *error = QStringLiteral("--boot takes yes or no, not %1").arg(c.parser.value(c.boot));
            return false;
        }
        o->bootAnswer = answer == QLatin1String("yes");
    }
    if (!ReadNumber(c, c.timeout, 1, kMaxTimeoutSeconds,
                    QStringLiteral("--timeout takes whole seconds from 1 to %1, not %2"),
                    &o->timeoutSeconds, error) ||
        !ReadNumber(c, c.completion, 1, kMaxTimeoutSeconds,
                    QStringLiteral("--completion-timeout takes whole seconds from 1 to %1, not %2"),
                    &o->completionTimeoutSeconds, error) ||
        !ReadNumber(c, c.restarts, 0, kMaxRestartsLimit,
                    QStringLiteral("--max-restarts takes a number from 0 to %1, not %2"),
                    &o->maxRestarts, error))
        return false;
    o->force = c.parser.isSet(c.force);
    o->verify = !c.parser.isSet(c.noVerify);
    if (c.parser.isSet(c.log)) {
        o->logFile = c.parser.value(c.log);
        if (o->logFile.isEmpty()) {
            *error = QStringLiteral("--log needs a file name");
            return false;
        }
    }
    return true;
}

}  // namespace

bool ParseHeadlessArguments(const QStringList& args, HeadlessOptions* options, QString* error) {
    HeadlessCommandLine c;
    if (!c.parser.parse(args)) {
        *error = c.parser.errorText();
        return false;
    }
    HeadlessOptions o;
    o.help = c.parser.isSet(c.help);
    o.version = c.parser.isSet(c.version);
    if (!o.help && !o.version &&
        !(ReadPackage(c, &o, error) && ReadPort(c, &o, error) && ReadRun(c, &o, error)))
        return false;
    *options = o;
    return true;
}

// The exit statuses, as --help lists them.
constexpr char kExitStatuses[] =
    "Exit status:\n"
    "  0    \"Completed!\": the receiver confirmed the update; with --check, the\n"
    "       package is usable\n"
    "  2    bad arguments, or the log file cannot be written\n"
    "  3    the port could not be opened\n"
    "  4    no answer from the receiver: within the time-out it sent neither a\n"
    "       version record nor a loader identification\n"
    "  5    no firmware for this model\n"
    "  6    the receiver answered, then sent nothing for longer than the time-out\n"
    "  7    the receiver asked for a restart (\"VX\") more than --max-restarts times\n"
    "  8    boot loader sent (--boot yes): restart the receiver and run again for\n"
    "       the CPU firmware\n"
    "  9    no firmware package given, or it is not usable (every problem is\n"
    "       listed); the port was not opened\n"
    "  10   everything was sent, but the receiver did not report the end of its\n"
    "       flash write within --completion-timeout: it may still be writing; do\n"
    "       not power it off, check it once it has restarted\n"
    "  11   the receiver confirmed the update, but came back with other versions\n"
    "       than the package states, or gave no version record within 60 s\n"
    "  12   the receiver already runs the package's versions; nothing was sent\n"
    "       (--force sends them all the same)\n"
    "  130  interrupted (SIGINT or SIGTERM); the port was closed first. While\n"
    "       blocks go out or the receiver writes its flash, the first Ctrl-C only\n"
    "       warns; a second one within 5 s stops\n";

QString HeadlessUsage(const QString& command) {
    const QString usage = QStringLiteral(
        "Usage: %1 --firmware PACKAGE [OPTION]... PORT\n"
        "  or:  %1 --firmware PACKAGE [OPTION]... --usb\n"
        "  or:  %1 --firmware PACKAGE --check\n"
        "  or:  %1 history [--serial SN] [--since DATE] [--csv] [--history-db URL]\n"
        "Updates the firmware of one Z4 receiver without a window: connects, reads the\n"
        "receiver's version record, gives the Update command and prints every line of\n"
        "the message list on standard output.\n"
        "\n"
        "PACKAGE is a firmware package folder (images.conf, CPU/, FPGA/, BOOT/), the\n"
        "name of an installed package, or builtin: the built-in test image, which only\n"
        "the simulated receiver takes (./builtin for a folder of that name). A name\n"
        "without a slash that is not an existing file or folder is looked up in\n"
        "quorvexupdate/firmware in $XDG_DATA_HOME (~/.local/share), then in each\n"
        "folder of $XDG_DATA_DIRS (/usr/local/share:/usr/share).\n"
        "\n"
        "PORT is a COM number (COM5 or 5; see the settings file, group Ports) or a\n"
        "device path (/dev/ttyUSB0, /dev/serial/by-id/...). A device path is used by\n"
        "this run only; nothing is written to the settings file.\n"
        "\n"
        "Options:\n"
        "  --firmware PACKAGE   the firmware package to send (required)\n"
        "  --check              check the package and print what it holds; no port\n"
        "                       is needed or opened\n"
        "  --port PORT          the port, as an option\n"
        "  --usb                use the USB link instead of a serial port\n"
        "  --manual-restart     the operator restarts the receiver by hand (the loader\n"
        "                       is then spoken to at 9600 baud)\n"
        "  --baud-115200        with --manual-restart: the loader listens at 115200\n"
        "  --boot yes|no        the answer to \"Update boot?\" (no)\n"
        "  --timeout SECONDS    give up after this long without a byte from the\n"
        "                       receiver while it must answer: identification, the\n"
        "                       loader poll, the transfer (30)\n"
        "  --completion-timeout SECONDS\n"
        "                       how long the receiver may take to write its flash\n"
        "                       after the last block before it reports (600)\n"
        "  --max-restarts N     give up when the receiver asks for a restart (\"VX\")\n"
        "                       more than N times (3)\n"
        "  --force              update a receiver that already runs the versions the\n"
        "                       package states\n"
        "  --no-verify          end at \"Completed!\" without reading the versions the\n"
        "                       receiver comes back with\n"
        "  --log FILE           also append every line to FILE\n"
        "  --history-db URL     record the run in this history database instead of\n"
        "                       the settings file's ([History] Database) or the\n"
        "                       user's own file ($XDG_DATA_HOME/quorvexupdate/\n"
        "                       history.sqlite): a file, sqlite:FILE, or\n"
        "                       postgresql://[user@]host[:port]/database\n"
        "  --version            print the program version\n"
        "  -h, --help           this text\n"
        "\n"
        "history lists the runs the history holds, oldest first: --serial SN only\n"
        "those of this serial number (the version record's or the loader's), --since\n"
        "DATE those started then or later (2026-12-01, 2026-12-01T08:00), --csv as\n"
        "CSV with every column. It exits 0 when the history was read, 1 when it\n"
        "cannot be, 2 on bad arguments.\n"
        "\n"
        "On a terminal the address line and the progress bar update in place;\n"
        "otherwise plain lines are printed, with at most one progress line per 5%.\n"
        "\n");
    return usage.arg(command) + QLatin1String(kExitStatuses);
}
