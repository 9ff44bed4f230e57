#include "historyrun.h"

#include <QCoreApplication>
#include <QJsonValue>
#include <algorithm>

#include "engineclock.h"

namespace {

constexpr char kTimeFormat[] = "yyyy-MM-dd HH:mm:ss";

QString Tr(const char* text) {
    return QCoreApplication::translate("HistoryRun", text);
}

QByteArray CsvField(const QString& text) {
    QByteArray bytes = text.toUtf8();
    if (!bytes.contains(',') && !bytes.contains('"') && !bytes.contains('\n') &&
        !bytes.contains('\r'))
        return bytes;
    bytes.replace('"', "\"\"");
    return '"' + bytes + '"';
}

QString SerialText(const HistoryRun& run) {
    return run.serial.isEmpty() ? run.loaderSerial : run.serial;
}

}  // namespace

QString HistoryOutcome(UpdateOutcome outcome) {
    switch (outcome) {
        case UpdateOutcome::Completed:
            return QStringLiteral("Completed");
        case UpdateOutcome::BootSent:
            return QStringLiteral("Boot sent");
        case UpdateOutcome::NoFirmware:
            return QStringLiteral("No firmware");
        case UpdateOutcome::LinkLost:
            return QStringLiteral("Line lost");
        case UpdateOutcome::Unconfirmed:
            return QStringLiteral("Unconfirmed");
        case UpdateOutcome::Interrupted:
            return QStringLiteral("Interrupted");
    }
    return QString();
}

QStringList HistoryOutcomes() {
    QStringList words;
    for (UpdateOutcome o :
         {UpdateOutcome::Completed, UpdateOutcome::BootSent, UpdateOutcome::NoFirmware,
          UpdateOutcome::LinkLost, UpdateOutcome::Unconfirmed, UpdateOutcome::Interrupted})
        words << HistoryOutcome(o);
    return words << QLatin1String(kOutcomeDisconnected) << QLatin1String(kOutcomeFailed);
}

const std::vector<HistoryTextField>& HistoryTextFields() {
    static const std::vector<HistoryTextField> fields = {
        {"host", &HistoryRun::host},
        {"port", &HistoryRun::port},
        {"serial", &HistoryRun::serial},
        {"loader_serial", &HistoryRun::loaderSerial},
        {"part_number", &HistoryRun::partNumber},
        {"cpu_before", &HistoryRun::cpuBefore},
        {"fpga_before", &HistoryRun::fpgaBefore},
        {"boot_before", &HistoryRun::bootBefore},
        {"package", &HistoryRun::package},
        {"images", &HistoryRun::images},
        {"outcome", &HistoryRun::outcome},
        {"detail", &HistoryRun::detail},
        {"cpu_after", &HistoryRun::cpuAfter},
        {"fpga_after", &HistoryRun::fpgaAfter},
        {"boot_after", &HistoryRun::bootAfter},
        {"run_log", &HistoryRun::runLog},
    };
    return fields;
}

QString VersionsText(const QString& cpu, const QString& fpga, const QString& boot) {
    if (cpu.isEmpty() && fpga.isEmpty() && boot.isEmpty()) return {};
    return QStringLiteral("%1 - %2, boot %3").arg(cpu, fpga, boot);
}

QString HistoryRunSummary(const HistoryRun& run) {
    QString text = Tr("Last recorded update: %1, %2")
                       .arg(run.started.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")),
                            run.outcome);
    const QString before = VersionsText(run.cpuBefore, run.fpgaBefore, run.bootBefore);
    const QString after = VersionsText(run.cpuAfter, run.fpgaAfter, run.bootAfter);
    if (!after.isEmpty())
        text +=
            QStringLiteral(", %1 → %2").arg(before.isEmpty() ? QStringLiteral("?") : before, after);
    else if (!before.isEmpty())
        text += Tr(", from %1").arg(before);
    if (!run.package.isEmpty()) text += QStringLiteral(", ") + run.package;
    return text + QStringLiteral(" (%1, %2)").arg(run.host, run.port);
}

QByteArray HistoryCsv(const std::vector<HistoryRun>& runs) {
    QByteArray csv = "started";
    for (const HistoryTextField& f : HistoryTextFields()) csv += ',' + QByteArray(f.name);
    csv += ",duration_s,run_id\r\n";
    for (const HistoryRun& run : runs) {
        csv += run.started.toUTC().toString(Qt::ISODateWithMs).toUtf8();
        for (const HistoryTextField& f : HistoryTextFields()) csv += ',' + CsvField(run.*f.member);
        csv += ',' + QByteArray::number(run.durationMs / 1000.0, 'f', 1) + ',' + run.id.toUtf8() +
               "\r\n";
    }
    return csv;
}

QString HistoryTable(const std::vector<HistoryRun>& runs) {
    const QStringList header{
        QStringLiteral("Time"),   QStringLiteral("Serial"),  QStringLiteral("Part"),
        QStringLiteral("Before"), QStringLiteral("After"),   QStringLiteral("Outcome"),
        QStringLiteral("Took"),   QStringLiteral("Package"), QStringLiteral("Station"),
        QStringLiteral("Port"),   QStringLiteral("Detail")};
    std::vector<QStringList> rows{header};
    for (const HistoryRun& r : runs)
        rows.push_back({r.started.toLocalTime().toString(QLatin1String(kTimeFormat)), SerialText(r),
                        r.partNumber, VersionsText(r.cpuBefore, r.fpgaBefore, r.bootBefore),
                        VersionsText(r.cpuAfter, r.fpgaAfter, r.bootAfter), r.outcome,
                        DurationText(r.durationMs), r.package, r.host, r.port,
                        r.detail.simplified()});
    std::vector<qsizetype> widths(static_cast<std::size_t>(header.size()), 0);
    for (const QStringList& row : rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[static_cast<std::size_t>(c)] =
                std::max(widths[static_cast<std::size_t>(c)], row[c].size());
    QString text;
    for (const QStringList& row : rows) {
        QString line;
        // The last column is left ragged: a long reason needs no padding.
        for (qsizetype c = 0; c + 1 < row.size(); ++c)
            line += row[c].leftJustified(widths[static_cast<std::size_t>(c)] + 2);
        text += (line + row.back()).trimmed() + QLatin1Char('\n');
    }
    return text;
}

QJsonObject HistoryRunToJson(const HistoryRun& run) {
    QJsonObject json{{QStringLiteral("run_id"), run.id},
                     {QStringLiteral("started"), run.started.toUTC().toString(Qt::ISODateWithMs)},
                     {QStringLiteral("duration_ms"), run.durationMs}};
    for (const HistoryTextField& f : HistoryTextFields())
        json.insert(QLatin1String(f.name), run.*f.member);
    return json;
}

bool HistoryRunFromJson(const QJsonObject& json, HistoryRun* run) {
    HistoryRun r;
    r.id = json.value(QStringLiteral("run_id")).toString();
    r.started =
        QDateTime::fromString(json.value(QStringLiteral("started")).toString(), Qt::ISODateWithMs);
    r.durationMs = json.value(QStringLiteral("duration_ms")).toInteger();
    for (const HistoryTextField& f : HistoryTextFields())
        r.*f.member = json.value(QLatin1String(f.name)).toString();
    if (r.id.isEmpty() || !r.started.isValid()) return false;
    *run = r;
    return true;
}
