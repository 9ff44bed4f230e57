#include "historyrecorder.h"

#include <QFileInfo>
#include <QSysInfo>
#include <QUuid>

#include "history.h"
#include "runlog.h"
#include "updateengine.h"

CHistoryRecorder::CHistoryRecorder(UpdateEngine& engine, CHistory& history, const CRunLog* runLog,
                                   QObject* parent)
    : QObject(parent), m_pEngine(&engine), m_history(history), m_pRunLog(runLog) {
    connect(&engine, &UpdateEngine::happened, this, &CHistoryRecorder::OnEvent);
    connect(&engine, &UpdateEngine::stateChanged, this, &CHistoryRecorder::OnStateChanged);
    connect(&engine, &QObject::destroyed, this, [this] {
        m_pEngine = nullptr;
        Finish(HistoryOutcome(UpdateOutcome::Interrupted), tr("The program was closed."));
    });
}

CHistoryRecorder::~CHistoryRecorder() {
    Finish(HistoryOutcome(UpdateOutcome::Interrupted), tr("The program was closed."));
}

void CHistoryRecorder::End(const QString& detail) {
    Finish(QLatin1String(kOutcomeFailed), detail);
}

void CHistoryRecorder::OnEvent(const EngineEvent& event) {
    if (std::holds_alternative<ev::ListCleared>(event)) {
        m_record = {};
    } else if (const auto* e = std::get_if<ev::ReceiverIdentified>(&event)) {
        // The versions before the run; a record read during one is not.
        if (!m_run) m_record = *e;
    } else if (std::holds_alternative<ev::Restarting>(event)) {
        if (!m_run) Begin();
    } else if (const auto* e = std::get_if<ev::TransferStarted>(&event)) {
        // After a boot update the receiver starts its CPU transfer by itself.
        if (!m_run) Begin();
        TakeLoader();
        m_run->package = e->packageName;
        TakeImages(*e);
    } else if (const auto* e = std::get_if<ev::Finished>(&event)) {
        // The loader answered this run when it found no image for the part.
        if (e->outcome == UpdateOutcome::NoFirmware) TakeLoader();
        // The check of the versions belongs to the run: it ends with it.
        if (e->verifying)
            m_pendingOutcome = HistoryOutcome(e->outcome);
        else
            Finish(HistoryOutcome(e->outcome), e->detail);
    } else if (const auto* e = std::get_if<ev::Verified>(&event)) {
        if (!m_run || !m_pendingOutcome) return;
        if (e->result != ev::Verified::Result::NoAnswer) {
            m_run->cpuAfter = QString::fromStdString(e->reported.cpu);
            m_run->fpgaAfter = QString::fromStdString(e->reported.fpga);
            m_run->bootAfter = QString::fromStdString(e->reported.boot);
        }
        Finish(*std::exchange(m_pendingOutcome, std::nullopt), ListLines(event).lines.value(0));
    }
}

void CHistoryRecorder::OnStateChanged() {
    if (m_pEngine->IsConnected()) return;
    if (m_pendingOutcome)
        Finish(*std::exchange(m_pendingOutcome, std::nullopt), tr("Not verified: disconnected."));
    else
        Finish(QLatin1String(kOutcomeDisconnected), {});
}

void CHistoryRecorder::Begin() {
    m_clock.start();
    HistoryRun& run = m_run.emplace();
    run.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    run.started = QDateTime::currentDateTimeUtc();
    run.host = QSysInfo::machineHostName();
    run.port = m_pEngine->PortText();
    if (const std::string device = m_pEngine->LinkDevice(); !device.empty())
        run.port += QStringLiteral(" (%1)").arg(QString::fromStdString(device));
    if (const FirmwarePackage* package = m_pEngine->Package())
        run.package = QString::fromStdString(package->name);
    run.serial = m_record.serial;
    run.cpuBefore = m_record.cpu;
    run.fpgaBefore = m_record.fpga;
    run.bootBefore = m_record.boot;
}

void CHistoryRecorder::TakeLoader() {
    if (!m_run) return;
    m_run->partNumber = QString::fromStdString(m_pEngine->PartNumber());
    m_run->loaderSerial = QString::fromStdString(m_pEngine->Serial());
}

void CHistoryRecorder::TakeImages(const ev::TransferStarted& started) {
    // The images the engine took for this part number: the boot image, or
    // the CPU image and the FPGA image where the rule sends one.
    const std::string pn = started.partNumber.toStdString();
    CImageTable& table = m_pEngine->ImageTable();
    std::vector<std::pair<std::string, int>> sent;
    if (started.boot) {
        sent.emplace_back("BOOT", table.GetBootImage(pn));
    } else {
        sent.emplace_back("CPU", table.GetCpuImage(pn));
        if (m_pEngine->Transfer().m_bHasFpga && !started.fpgaImageMissing)
            sent.emplace_back("FPGA", table.GetFpgaImage(pn));
    }
    QStringList images;
    const FirmwarePackage* package = m_pEngine->Package();
    for (const auto& [type, id] : sent) {
        QString text = QStringLiteral("%1 %2").arg(QString::fromStdString(type)).arg(id);
        for (std::size_t i = 0; package && i < package->images.size(); ++i)
            if (package->images[i].type == type && package->images[i].id == id)
                text += QLatin1Char(' ') + QString::fromStdString(package->images[i].sha256);
        images << text;
    }
    m_run->images = images.join(QStringLiteral("; "));
}

void CHistoryRecorder::Finish(const QString& outcome, const QString& detail) {
    if (!m_run) return;
    HistoryRun run = std::move(*m_run);
    m_run.reset();
    m_pendingOutcome.reset();
    run.outcome = outcome;
    run.detail = detail.simplified();
    run.durationMs = m_clock.elapsed();
    if (m_pRunLog) {
        const QString name = QFileInfo(m_pRunLog->Path()).fileName();
        if (IsRunLogFileName(name)) run.runLog = name;
    }
    m_history.Record(run, this, [this](const QString& line) { emit unwritable(line); });
    emit recorded(run);
}
