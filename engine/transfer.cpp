// The engine's transfer side: restart into the loader, the CPU and boot
// update starts, one block per acknowledgement, the checksum block, the end.
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <algorithm>

#include "iprompter.h"
#include "link.h"
#include "trace.h"
#include "transferrules.h"
#include "updateengine.h"

namespace {

// The package hashed its images when it took them, and the store holds those
// very bytes: hashing megabytes again for each receiver would hold up the
// thread every engine of a station shares. Only bytes the engine changed
// (the boot image's serial number) are hashed here.
ev::SentImage Sent(const FirmwarePackage* package, const char* type, std::uint16_t id,
                   const std::uint8_t* bytes, std::size_t size, bool changed = false) {
    for (std::size_t i = 0; package && !changed && i < package->images.size(); ++i) {
        const PackageImage& image = package->images[i];
        if (image.type == type && image.id == id && image.size == size && !image.sha256.empty())
            return {QLatin1String(type), id, static_cast<qint64>(size),
                    QString::fromStdString(image.sha256)};
    }
    const QByteArray sha = QCryptographicHash::hash(
        QByteArrayView(bytes, static_cast<qsizetype>(size)), QCryptographicHash::Sha256);
    return {QLatin1String(type), id, static_cast<qint64>(size), QString::fromLatin1(sha.toHex())};
}

constexpr char kResetText[] = "\r\n\r\nreset\r\n";                         // 11 bytes, no NUL
constexpr char kUsbRebootText[] = "\r\n\r\ntst usbcmdreset\r\nreset\r\n";  // 29 bytes with the NUL
constexpr int kUsbWrittenBoundMs = 3000;
static_assert(sizeof kResetText - 1 == 11 && sizeof kUsbRebootText == 29);

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

}  // namespace

// ----------------------------------------------------------------- restart

void UpdateEngine::OnFirmwareUpdate() {
    // A new Update abandons whatever the last one still waited for.
    m_pause.Cancel();
    m_bSending = false;
    m_bAwaitCompletion = false;
    m_nRunStartMs = m_pClock->NowMs();
    MarkActivity();
    emit happened(ev::Restarting{});
    if (m_choice.m_bUsb)
        RestartReceiverUsb();
    else
        RestartReceiverSerial();
}

void UpdateEngine::SetLoaderBaudRate(std::function<void()> then) {
    m_bProbingSpeed = false;
    if (!IsSerial()) {
        then();
        return;
    }
    bool stay115200 = m_choice.m_bManualUpdate ? m_choice.m_bBaudrate115200 : m_bLoader115200;
    if (!m_choice.m_bManualUpdate && !m_bRecordThisConnect) {
        // Without a record the loader's speed is unknown (a receiver left in
        // its loader answers no "log version"): where it answered before, else
        // both speeds in turn until it answers.
        if (m_nLoaderBaud != 0) {
            stay115200 = m_nLoaderBaud == 115200;
        } else {
            stay115200 = false;
            m_bProbingSpeed = true;
            m_nPollsAtSpeed = 0;
        }
    }
    if (stay115200) {
        then();
        return;
    }
    SetSpeed(9600);
    Pause(100, std::move(then));
}

bool UpdateEngine::ProbeLoaderSpeed() {
    // A few polls at each speed: enough for a loader that is up to answer.
    constexpr int kPollsPerSpeed = 5;
    if (++m_nPollsAtSpeed <= kPollsPerSpeed) return false;
    m_nPollsAtSpeed = 1;
    SetSpeed(m_nLineBaud == 9600 ? 115200 : 9600);
    qCDebug(lcTrace, "loader poll at %u", m_nLineBaud);
    return true;
}

void UpdateEngine::RestartReceiverSerial() {
    emit happened(ev::RestartBegun{false, m_choice.m_nComPort, false});
    RestartSerial(true);
}

// The reset text at 115200 with the pauses the receiver relies on (the block
// checksum starts again with it), the loader's speed, then the poll. No poll
// goes out in between: the poll starts anew at the end.
void UpdateEngine::RestartSerial(bool withLine) {
    m_timerSs.stop();
    m_bRestarting = true;
    SetSpeed(115200);
    Pause(100, [this, withLine] {
        WriteRaw(reinterpret_cast<const std::uint8_t*>(kResetText), sizeof kResetText - 1);
        Pause(100, [this, withLine] {
            m_transfer.m_nCrc = 0;
            if (withLine) emit happened(ev::RestartSent{m_choice.m_bManualUpdate});
            SetLoaderBaudRate([this] {
                m_bRestarting = false;
                StartTimer(TIMER_SS, 20);
            });
        });
    });
    emit stateChanged();
}

void UpdateEngine::RestartReceiverUsb() {
    emit happened(ev::RestartBegun{true, m_choice.m_nComPort, IsLinkReady()});
    if (IsLinkReady()) {
        WriteRaw(reinterpret_cast<const std::uint8_t*>(kUsbRebootText), sizeof kUsbRebootText);
        m_timerSs.stop();
        m_bRestarting = true;
        ReleaseWhenWritten(QDeadlineTimer(kUsbWrittenBoundMs));
        emit stateChanged();
    } else {
        StartTimer(TIMER_SS, 5);
    }
}

void UpdateEngine::ResetReceiver() {
    m_bAwaitCompletion = false;
    m_bSending = false;
    if (m_nRunStartMs < 0) m_nRunStartMs = m_pClock->NowMs();
    MarkActivity();
    emit happened(ev::Restarting{});
    if (IsSerial()) {
        RestartSerial(false);
        return;
    }
    // Over USB there is no serial line to send the reset text on: the loader
    // that asked for a restart is polled again as it stands.
    m_transfer.m_nCrc = 0;
    StartTimer(TIMER_SS, 20);
}

// The device may go once the reboot text has left the host, and not before;
// a receiver that takes nothing more must not hold the restart up for long.
void UpdateEngine::ReleaseWhenWritten(QDeadlineTimer bound) {
    if (!m_pLink) return;
    if (!m_pLink->IsWritten() && !bound.hasExpired()) {
        Pause(1, [this, bound] { ReleaseWhenWritten(bound); });
        return;
    }
    m_pLink->Release();
    m_bRestarting = false;
    StartTimer(TIMER_SS, 100);
}

// ------------------------------------------------------------------ starts

void UpdateEngine::FirmwareMissing(const QString& message) {
    Prompter().ShowError(tr("Error"), message);
    Finish(UpdateOutcome::NoFirmware, message);
}

void UpdateEngine::Finish(UpdateOutcome outcome, const QString& detail) {
    emit happened(ev::Finished{outcome, detail});
}

void UpdateEngine::StartCpuUpdate(std::uint16_t cpuId, std::uint16_t fpgaId) {
    // A row whose image is not carried is no firmware either: an empty image
    // would send only a checksum block, which the loader refuses for ever.
    if (cpuId == 0 || m_pStore->Find("CPU", cpuId).empty()) {
        FirmwareMissing(tr("NO CPU firmware for this model: %1").arg(Text(m_strPartNumber)));
        return;
    }
    m_transfer.m_nCrc = 0;
    m_transfer.m_nEndState = 0;
    // Under way from here: the pause before the first block is part of it.
    m_bSending = true;
    if (IsSerial()) SetSpeed(115200);
    Pause(100, [this, cpuId, fpgaId] { BeginCpuTransfer(cpuId, fpgaId); });
    emit stateChanged();
}

void UpdateEngine::BeginCpuTransfer(std::uint16_t cpuId, std::uint16_t fpgaId) {
    CTransferState& t = m_transfer;
    // What the check after the update holds the receiver to: the CPU image's
    // version, and the FPGA image's only where one is sent.
    m_sentVersions = m_pConfig->VersionsFor(m_strPartNumber);
    m_sentVersions.boot.clear();
    m_pTransferStore = m_package ? m_package->store : nullptr;
    t.m_bHasFpga =
        DecideFpga(m_strFpgaVersion, m_strBootVersion, m_strPartNumber, m_pConfig->fpgaPrefixes);
    t.m_nTotalSize = 0;
    m_sentImages.clear();
    if (t.m_bHasFpga) {
        const ImageBytes fpga = m_pStore->Find("FPGA", fpgaId);
        if (!fpga.empty())
            m_sentImages.push_back(Sent(Package(), "FPGA", fpgaId, fpga.data(), fpga.size()));
        t.m_pSecondImage = fpga.data();
        t.m_nTotalSize = static_cast<std::uint32_t>(fpga.size());
    }
    const ImageBytes cpu = m_pStore->Find("CPU", cpuId);
    m_sentImages.insert(m_sentImages.begin(),
                        Sent(Package(), "CPU", cpuId, cpu.data(), cpu.size()));
    t.m_pImage = cpu.data();
    t.m_nImageSize = static_cast<std::uint32_t>(cpu.size());
    t.m_nTotalSize += t.m_nImageSize;
    if (t.m_nTotalSize == t.m_nImageSize) m_sentVersions.fpga.clear();
    t.m_bSecondImage = false;
    t.m_nProgress = 0;
    m_nProgressMax = t.m_nTotalSize;

    SendFirstBlock(false);
}

void UpdateEngine::StartBootUpdate(std::uint16_t bootId) {
    if (bootId == 0 || m_pStore->Find("BOOT", bootId).empty()) {
        FirmwareMissing(tr("NO BOOT firmware for this model: %1").arg(Text(m_strPartNumber)));
        return;
    }
    m_transfer.m_nCrc = 0;
    m_transfer.m_nEndState = 0;
    emit happened(ev::BootStarting{});
    m_bSending = true;
    if (IsSerial()) SetSpeed(115200);
    Pause(100, [this, bootId] { BeginBootTransfer(bootId); });
    emit stateChanged();
}

void UpdateEngine::BeginBootTransfer(std::uint16_t bootId) {
    CTransferState& t = m_transfer;
    const ImageBytes boot = m_pStore->Find("BOOT", bootId);
    m_bootImage.assign(boot.begin(), boot.end());
    t.m_pImage = m_bootImage.data();
    t.m_nImageSize = t.m_nTotalSize = static_cast<std::uint32_t>(m_bootImage.size());
    t.m_bHasFpga = false;

    // Patched in our own copy before the first block, so the checksum covers it.
    PatchBootSerial(m_bootImage, m_pConfig->loaderFamily, m_strSerial, m_strPnTail);
    m_sentImages = {Sent(Package(), "BOOT", bootId, m_bootImage.data(), m_bootImage.size(), true)};
    t.m_bSecondImage = false;
    t.m_nProgress = 0;
    m_nProgressMax = t.m_nTotalSize;
    SendFirstBlock(true);
}

void UpdateEngine::SendFirstBlock(bool boot) {
    CTransferState& t = m_transfer;
    ev::TransferStarted started{
        boot, Text(m_strPartNumber), !boot && StartsWith(m_strPartNumber, m_pConfig->seriesPrefix),
        // The rule asks for an FPGA image the package does not hold:
        // the CPU image goes alone, and the operator should know it.
        t.m_bHasFpga && t.m_nTotalSize == t.m_nImageSize, m_package.has_value(),
        m_package && m_package->builtin, m_package ? Text(m_package->name) : QString(),
        m_package ? Text(m_package->folder) : QString(), t.m_nTotalSize, m_sentImages};
    emit happened(started);
    t.m_nPos = 0;
    std::uint8_t block[kBlockSize] = {};
    if (GetNextBlock(t, &m_nBlockKind, block) != 0) {
        t.m_nAddress = 0;
        m_lastBlockFrame = EncodeBlockFrame(m_nBlockKind, 0, t.m_nAddress, block);
        emit happened(
            ev::BlockSent{t.m_nAddress, true, std::min(t.m_nPos, m_nProgressMax), m_nProgressMax});
        t.m_nAddress += kBlockSize;
        SendFrame(m_lastBlockFrame, 20);
        MarkActivity();
        emit stateChanged();
    }
}

// ------------------------------------------------------------------ blocks

void UpdateEngine::SendNextBlock() {
    CTransferState& t = m_transfer;
    const std::uint32_t b2 = t.m_nAddress >> 8;
    std::uint8_t block[kBlockSize] = {};
    const std::uint32_t count = GetNextBlock(t, &m_nBlockKind, block);
    if (count == kBlockSize) {
        m_lastBlockFrame = EncodeBlockFrame(m_nBlockKind, b2, t.m_nAddress, block);
        SendFrame(m_lastBlockFrame, 0);
        qCDebug(lcTrace, "OnSendCommand");
        t.m_nProgress = std::min(t.m_nProgress, t.m_nTotalSize);
        emit happened(ev::BlockSent{t.m_nAddress, false, t.m_nProgress, m_nProgressMax});
        t.m_nAddress += kBlockSize;
        // The event loop, not a nested dispatch, delivers the next reply.
    }
    qCDebug(lcTrace, "Position:%u", t.m_nProgress);
    if (count == 0) {
        m_bSending = false;
        // The receiver's report ends this transfer; the identification that
        // follows it (after a boot update) is a new one.
        m_bIdentifyAnswered = false;
        emit happened(ev::AllSent{m_bBootUpdate});
        if (m_bBootUpdate) {
            // The receiver waits for the operator to restart it, and may
            // report nothing: every block and the checksum were acknowledged,
            // so the boot loader is sent. An "SC" that still comes is ignored.
            Finish(UpdateOutcome::BootSent);
        } else {
            // Its report is read only after the pause, as it always was.
            BeginFlashWrite();
            Pause(500, [] {});
        }
        emit stateChanged();
    }
}

void UpdateEngine::ResendLastBlock() {
    SendFrame(m_lastBlockFrame, 20);
}

void UpdateEngine::OnUpdateCompleted() {
    if (m_bBootUpdate) return;  // its outcome came with the last acknowledgement
    m_bAwaitCompletion = false;
    // A boot update waits for the operator instead; it is never checked so.
    // Nor is a package that states no versions: there is nothing to hold to.
    const bool verify = m_bVerify && m_sentVersions.Any();
    emit happened(ev::Finished{UpdateOutcome::Completed, {}, verify});
    if (verify) BeginVerification();
    emit stateChanged();
}
