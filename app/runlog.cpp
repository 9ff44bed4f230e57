#include "runlog.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "appinfo.h"
#include "datafolders.h"
#include "updateengine.h"

namespace {

// Lines between runs kept for the next run's file; only a session left
// connected for days would reach it.
constexpr std::size_t kMaxBetween = 1000;

// Lines are taken in UTC, which costs nothing to read, and shown in local
// time: the address line comes with every block, and the local clock costs
// microseconds a read where TZ is unset.
QString Stamp(const QDateTime& when) {
    return when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString OutcomeText(UpdateOutcome outcome, const QString& message) {
    switch (outcome) {
        case UpdateOutcome::Completed:
            return QStringLiteral("Completed");
        case UpdateOutcome::BootSent:
            return QStringLiteral("Boot loader sent");
        case UpdateOutcome::NoFirmware:
            return QStringLiteral("No firmware: ") + message;
        case UpdateOutcome::LinkLost:
            return QStringLiteral("Failed (the line was lost: %1)").arg(message.trimmed());
        case UpdateOutcome::Unconfirmed:
            return QStringLiteral("Unconfirmed (") + message + QLatin1Char(')');
        case UpdateOutcome::Interrupted:
            return QStringLiteral("Failed (") + message + QLatin1Char(')');
    }
    return message;
}

QString PackageText(const FirmwarePackage* package) {
    if (!package) return QStringLiteral("none");
    if (package->builtin) return QStringLiteral("built-in test image");
    return QStringLiteral("%1 (%2)").arg(QString::fromStdString(package->name),
                                         QString::fromStdString(package->folder));
}

}  // namespace

QString RunLogFolder() {
    return UserStateFolder() + QStringLiteral("/logs");
}

QString RunLogFileName(const QDateTime& when, const QString& port) {
    static const QRegularExpression unsafe(QStringLiteral("[^A-Za-z0-9]+"));
    QString safe = port;
    safe.replace(unsafe, QStringLiteral("-"));
    while (safe.startsWith(QLatin1Char('-'))) safe.remove(0, 1);
    while (safe.endsWith(QLatin1Char('-'))) safe.chop(1);
    return when.toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss.zzz_")) + safe.left(64) +
           QStringLiteral(".log");
}

bool IsRunLogFileName(const QString& name) {
    static const QRegularExpression pattern(
        QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}_[0-9]{2}-[0-9]{2}-[0-9]{2}\\.[0-9]{3}_[A-Za-z0-"
                       "9-]{0,64}\\.log$"));
    return pattern.match(name).hasMatch();
}

void PruneRunLogs(const QString& folder, int keep, const QString& current) {
    const QDir dir(folder);
    // Links are never the program's own, whatever their names.
    QStringList logs =
        dir.entryList({QStringLiteral("*.log")}, QDir::Files | QDir::NoSymLinks, QDir::Name);
    logs.removeIf([](const QString& name) { return !IsRunLogFileName(name); });
    if (logs.removeAll(current) > 0) --keep;
    // Another engine may prune the same folder at the same moment: a file
    // already gone is no matter.
    for (qsizetype i = 0; i < logs.size() - keep; ++i) QFile::remove(dir.filePath(logs[i]));
}

CRunLog::CRunLog(UpdateEngine& engine, QString folder, QObject* parent)
    : QObject(parent), m_pEngine(&engine), m_folder(std::move(folder)) {
    connect(&engine, &UpdateEngine::happened, this, &CRunLog::OnEvent);
    connect(&engine, &UpdateEngine::stateChanged, this, &CRunLog::OnStateChanged);
    connect(&engine, &QObject::destroyed, this, [this] {
        m_pEngine = nullptr;
        End(QStringLiteral("Program closed"));
    });
}

CRunLog::~CRunLog() {
    End(QStringLiteral("Program closed"));
}

QString CRunLog::PortText() const {
    const QString device = QString::fromStdString(m_pEngine->LinkDevice());
    QString text = m_pEngine->IsUsb()
                       ? QStringLiteral("USB")
                       : QStringLiteral("COM%1").arg(m_pEngine->LinkChoice().m_nComPort);
    if (!device.isEmpty()) text += QStringLiteral(" (%1)").arg(device);
    return text;
}

void CRunLog::OnEvent(const EngineEvent& event) {
    // The file reads as the list does: the same lines, from the same words.
    const ListChange change = ListLines(event);
    switch (change.op) {
        case ListChange::Op::Clear:
            OnListCleared();
            break;
        case ListChange::Op::Append:
            for (const QString& line : change.lines) OnLineAdded(line);
            break;
        case ListChange::Op::ReplaceLast:
            OnLastLineReplaced(change.lines.value(0));
            break;
        case ListChange::Op::None:
            break;
    }
    if (std::holds_alternative<ev::Restarting>(event) && !m_bRunning) Begin();
    if (const auto* e = std::get_if<ev::TransferStarted>(&event)) LogImages(e->images);
    if (const auto* e = std::get_if<ev::Finished>(&event)) {
        // The check of the versions belongs to the run: it ends after it.
        if (e->verifying) {
            TakeReceiver();
            m_pendingOutcome = OutcomeText(e->outcome, e->detail);
        } else {
            OnFinished(e->outcome, e->detail);
        }
    }
    if (std::holds_alternative<ev::Verified>(event) && m_pendingOutcome)
        End(*std::exchange(m_pendingOutcome, std::nullopt) + QStringLiteral("; ") +
            change.lines.value(0));
}

void CRunLog::OnListCleared() {
    m_identification.clear();
    m_between.clear();
    m_bRunSinceConnect = false;
}

void CRunLog::OnLineAdded(const QString& line) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (m_bRunning) {
        Hold(now, line);
        return;
    }
    std::vector<Line>& lines = m_bRunSinceConnect ? m_between : m_identification;
    lines.emplace_back(now, line);
    if (m_between.size() > kMaxBetween) m_between.erase(m_between.begin());
}

void CRunLog::OnLastLineReplaced(const QString& line) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (m_bRunning) {
        if (m_held)
            m_held = Line(now, line);
        else
            Hold(now, line);
        return;
    }
    std::vector<Line>& lines = m_bRunSinceConnect ? m_between : m_identification;
    if (lines.empty())
        lines.emplace_back(now, line);
    else
        lines.back() = Line(now, line);
}

void CRunLog::OnStateChanged() {
    if (!m_pEngine->IsConnected()) {
        m_bWasSending = false;
        End(m_pendingOutcome ? *std::exchange(m_pendingOutcome, std::nullopt) +
                                   QStringLiteral("; not verified (disconnected)")
                             : QStringLiteral("Disconnected"));
        return;
    }
    // A transfer begins: the loader has identified the receiver. After a boot
    // update the receiver starts the CPU firmware's transfer by itself.
    const bool sending = m_pEngine->IsSending();
    if (sending && !m_bWasSending) {
        if (!m_bRunning) Begin();
        TakeReceiver();
    }
    m_bWasSending = sending;
}

void CRunLog::OnFinished(UpdateOutcome outcome, const QString& message) {
    if (outcome != UpdateOutcome::LinkLost) TakeReceiver();
    End(OutcomeText(outcome, message));
}

void CRunLog::TakeReceiver() {
    if (!m_bRunning) return;
    const auto known = [](const std::string& s) {
        return s.empty() ? QStringLiteral("unknown") : QString::fromStdString(s);
    };
    m_receiver = QStringLiteral("part number %1, serial number %2")
                     .arg(known(m_pEngine->PartNumber()), known(m_pEngine->Serial()));
    NameBySerial(m_pEngine->Serial());
}

void CRunLog::LogImages(const std::vector<ev::SentImage>& images) {
    if (!m_bRunning) return;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (const ev::SentImage& image : images)
        Hold(now, QStringLiteral("Image sent: %1 %2, %3 bytes, SHA-256 %4")
                      .arg(image.type)
                      .arg(image.id)
                      .arg(image.size)
                      .arg(image.sha256));
}

void CRunLog::NameBySerial(const std::string& serial) {
    if (m_bNamedBySerial || serial.empty() || !m_file.isOpen()) return;
    m_bNamedBySerial = true;
    const QDir dir(m_folder);
    const QString path = dir.filePath(
        RunLogFileName(m_begun, m_port + QStringLiteral(" SN ") + QString::fromStdString(serial)));
    // QFile closes a file to rename it; the run goes on at its end.
    const QString old = m_file.fileName();
    if (QFileInfo::exists(path) || !m_file.rename(path)) m_file.setFileName(old);
    if (!m_file.isOpen() &&
        !m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        Fail(m_file.errorString());
}

void CRunLog::Begin() {
    m_bRunning = true;
    m_bFailed = false;
    m_receiver.clear();
    m_bNamedBySerial = false;
    m_clock.start();
    const QDateTime now = QDateTime::currentDateTime();
    const QString port = PortText();
    m_begun = now;
    m_port = port;
    if (!QDir().mkpath(m_folder)) {
        m_file.setFileName(m_folder);
        Fail(QStringLiteral("cannot create the folder"));
    } else {
        // Two runs on one port within the same millisecond get two files.
        const QDir dir(m_folder);
        QString path = dir.filePath(RunLogFileName(now, port));
        for (int n = 2; QFileInfo::exists(path); ++n)
            path = dir.filePath(RunLogFileName(now, port + QStringLiteral("-%1").arg(n)));
        m_file.setFileName(path);
        if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            PruneRunLogs(m_folder, kKeep, QFileInfo(path).fileName());
        else
            Fail(m_file.errorString());
    }
    Write(now, QStringLiteral("%1 %2 run log")
                   .arg(QLatin1String(kProductName), QLatin1String(kProgramVersion)));
    Write(now, QStringLiteral("Port: ") + port);
    Write(now, QStringLiteral("Firmware package: ") + PackageText(m_pEngine->Package()));
    // The identification goes into every run's file of this connection.
    for (const Line& line : m_identification) Hold(line.first, line.second);
    for (const Line& line : m_between) Hold(line.first, line.second);
    m_between.clear();
    m_bRunSinceConnect = true;
}

void CRunLog::End(const QString& outcome) {
    if (!m_bRunning) return;
    if (m_held) Write(m_held->first, m_held->second);
    m_held.reset();
    const QDateTime now = QDateTime::currentDateTime();
    Write(now,
          QStringLiteral("Receiver: ") +
              (m_receiver.isEmpty() ? QStringLiteral("not identified by its loader") : m_receiver));
    Write(now, QStringLiteral("Outcome: ") + outcome);
    const qint64 ms = m_clock.elapsed();
    Write(now, QStringLiteral("Duration: %1:%2.%3 (%4 s)")
                   .arg(ms / 60000)
                   .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
                   .arg(ms % 1000 / 100)
                   .arg(static_cast<double>(ms) / 1000.0, 0, 'f', 1));
    m_file.close();
    m_bRunning = false;
}

void CRunLog::Hold(const QDateTime& when, const QString& text) {
    if (m_held) Write(m_held->first, m_held->second);
    m_held = Line(when, text);
}

void CRunLog::Write(const QDateTime& when, const QString& text) {
    if (!m_file.isOpen()) return;
    // One message, one line: a link's report comes over several.
    QString flat = text;
    if (flat.contains(QLatin1Char('\n'))) {
        QStringList parts = flat.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (QString& part : parts) part = part.trimmed();
        parts.removeAll(QString());
        flat = parts.join(QLatin1Char(' '));
    }
    const QByteArray line =
        (Stamp(when) + QStringLiteral("  ") + flat + QLatin1Char('\n')).toUtf8();
    if (m_file.write(line) != line.size()) Fail(m_file.errorString());
}

void CRunLog::Fail(const QString& reason) {
    m_file.close();
    if (m_bFailed) return;
    m_bFailed = true;
    emit unwritable(tr("The run log %1 cannot be written (%2); the update goes on without it.")
                        .arg(m_file.fileName(), reason));
}
