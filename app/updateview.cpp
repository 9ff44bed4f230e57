#include "updateview.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>

#include "blockcommand.h"
#include "firmware.h"
#include "imageconfig.h"
#include "mainframe.h"
#include "prompter.h"
#include "protocolwait.h"
#include "serialport.h"
#include "trace.h"
#include "transferrules.h"

namespace {

constexpr char kResetText[] = "\r\n\r\nreset\r\n";                         // 11 bytes, no NUL
constexpr char kUsbRebootText[] = "\r\n\r\ntst usbcmdreset\r\nreset\r\n";  // 29 bytes with the NUL
static_assert(sizeof kResetText - 1 == 11 && sizeof kUsbRebootText == 29);

QString Dashes(bool trailingBlank) {
    return QString(41, QLatin1Char('-')) + (trailingBlank ? QStringLiteral(" ") : QString());
}

QString Text(const std::string& s) {
    return QString::fromStdString(s);
}

// "Address: %X": upper-case hexadecimal without leading zeros.
QString AddressLine(std::uint32_t address) {
    return QStringLiteral("Address: ") + QString::number(address, 16).toUpper();
}

}  // namespace

CUpdateView::CUpdateView(CMainFrame* frame) : QWidget(frame), m_pFrame(frame) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Message:"), this));
    m_list = new QListWidget(this);
    m_list->setObjectName(QStringLiteral("messageList"));
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    // Keyboard focus on an empty list makes its first row current, which
    // paints like a selection; the list takes focus only when clicked.
    m_list->setFocusPolicy(Qt::ClickFocus);
    m_list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(m_list, 1);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);
    layout->addWidget(m_progress);
}

// ------------------------------------------------------------ message list

void CUpdateView::AddLine(const QString& line) {
    // Appending neither selects nor scrolls: the operator scrolls by hand.
    m_list->addItem(line);
    emit lineAdded(line);
}

void CUpdateView::ReplaceLastLine(const QString& line) {
    // Rewriting the row in place repaints one row; removing and appending
    // would re-lay out the whole list for every block, and the view defers
    // that layout until the transfer pauses, so the line would not move.
    if (QListWidgetItem* last = m_list->item(m_list->count() - 1))
        last->setText(line);
    else
        m_list->addItem(line);
    emit lastLineReplaced(line);
}

void CUpdateView::ClearList() {
    m_list->clear();
}

QStringList CUpdateView::Lines() const {
    QStringList lines;
    for (int i = 0; i < m_list->count(); ++i) lines << m_list->item(i)->text();
    return lines;
}

void CUpdateView::SetProgress(std::uint32_t position) {
    m_progress->setValue(static_cast<int>(position));
    emit progressChanged(static_cast<int>(position), m_progress->maximum());
}

void CUpdateView::OnReceiverInfo() {
    AddLine(tr("Connected receiver information:"));
    if (!m_pFrame) return;
    AddLine(tr("  SN: %1").arg(QString::fromLatin1(m_pFrame->m_strReceiverSn)));
    AddLine(tr("  sw version: %1 - %2")
                .arg(QString::fromLatin1(m_pFrame->m_strCpuVersion),
                     QString::fromLatin1(m_pFrame->m_strFpgaVersion)));
    AddLine(tr("  boot version: %1").arg(QString::fromLatin1(m_pFrame->m_strBootVersion)));
}

// ----------------------------------------------------------------- restart

void CUpdateView::OnFirmwareUpdate() {
    m_bSending = false;
    emit restartRequested();
    if (m_pFrame->m_bUsb)
        RestartReceiverUsb();
    else
        RestartReceiverSerial();
}

void CUpdateView::SetLoaderBaudRate() {
    CMainFrame& f = *m_pFrame;
    const bool stay115200 = f.m_bManualUpdate ? f.m_bBaudrate115200 : f.m_bLoader115200;
    if (!stay115200 && f.Port()) {
        f.Port()->SetBaudRate(9600);
        ProtocolWait(100);
    }
}

// The reset text at 115200, with the pauses the receiver relies on; the
// block checksum starts again with it.
void CUpdateView::WriteResetText() {
    if (CSerialPort* port = m_pFrame->Port()) {
        port->SetBaudRate(115200);
        ProtocolWait(100);
        port->WritePort(reinterpret_cast<const std::uint8_t*>(kResetText), sizeof kResetText - 1);
        ProtocolWait(100);
    }
    m_nCrc = 0;
}

void CUpdateView::RestartReceiverSerial() {
    CMainFrame& f = *m_pFrame;
    AddLine(Dashes(true));
    AddLine(tr("Your serial port is COM%1").arg(f.m_nComPort));
    WriteResetText();
    AddLine(f.m_bManualUpdate ? tr("Please manually restart the receiver now.")
                              : tr("Begin update, restarting the receiver..."));
    SetLoaderBaudRate();
    f.StartTimer(TIMER_SS, 20);
}

void CUpdateView::RestartReceiverUsb() {
    CMainFrame& f = *m_pFrame;
    AddLine(Dashes(true));
    AddLine(tr("Your Communication Port is USB"));
    if (f.m_usb.m_bOpen) {
        AddLine(tr("Begin update, rebooting the receiver..."));
        std::int32_t queued = 0;
        f.m_usb.UsbWrite(reinterpret_cast<const std::uint8_t*>(kUsbRebootText),
                         sizeof kUsbRebootText, &queued);
        f.m_usb.WaitTxDone();  // bounded: a stuck receiver must not freeze the window
        f.m_usb.CloseDevice();
        f.StartTimer(TIMER_SS, 100);
    } else {
        AddLine(tr("To Update,"));
        AddLine(tr("Please reboot the receiver manually..."));
        f.StartTimer(TIMER_SS, 5);
    }
}

void CUpdateView::ResetReceiver() {
    CMainFrame& f = *m_pFrame;
    f.m_bAwaitCompletion = false;
    m_bSending = false;
    emit restartRequested();
    // Over USB there is no serial line to send the reset text on: the loader
    // that asked for a restart is polled again as it stands.
    WriteResetText();
    SetLoaderBaudRate();
    f.StartTimer(TIMER_SS, 20);
}

// ------------------------------------------------------------------ starts

void CUpdateView::StartCpuUpdate(std::uint16_t cpuId, std::uint16_t fpgaId) {
    CMainFrame& f = *m_pFrame;
    // A row whose image is not carried is no firmware either: an empty image
    // would send only a checksum block, which the loader refuses for ever.
    if (cpuId == 0 || f.ImageStore().Find("CPU", cpuId).empty()) {
        const QString message = tr("NO CPU firmware for this model: %1").arg(Text(m_strPartNumber));
        emit firmwareMissing(message);
        Prompter().ShowError(tr("Error"), message);
        return;
    }
    m_nCrc = 0;
    m_nEndState = 0;
    if (CSerialPort* port = f.Port()) port->SetBaudRate(115200);
    ProtocolWait(100);

    const ImageConfig& config = CarriedImageConfig();
    m_bHasFpga =
        DecideFpga(f.m_strFpgaVersion, f.m_strBootVersion, m_strPartNumber, config.fpgaPrefixes);
    m_nTotalSize = 0;
    if (m_bHasFpga) {
        const ImageBytes fpga = f.ImageStore().Find("FPGA", fpgaId);
        m_pSecondImage = fpga.data();
        m_nTotalSize = static_cast<std::uint32_t>(fpga.size());
    }
    const ImageBytes cpu = f.ImageStore().Find("CPU", cpuId);
    m_pImage = cpu.data();
    m_nImageSize = static_cast<std::uint32_t>(cpu.size());
    m_nTotalSize += m_nImageSize;
    m_bSecondImage = false;
    m_nProgress = 0;
    m_progress->setRange(0, static_cast<int>(m_nTotalSize));

    AddLine(tr("Begin update %1...").arg(Text(m_strPartNumber)));
    if (StartsWith(m_strPartNumber, config.seriesPrefix))
        AddLine(tr("P/N: %1").arg(Text(m_strPartNumber)));
    SendFirstBlock();
}

void CUpdateView::StartBootUpdate(std::uint16_t bootId) {
    CMainFrame& f = *m_pFrame;
    if (bootId == 0 || f.ImageStore().Find("BOOT", bootId).empty()) {
        const QString message =
            tr("NO BOOT firmware for this model: %1").arg(Text(m_strPartNumber));
        emit firmwareMissing(message);
        Prompter().ShowError(tr("Error"), message);
        return;
    }
    m_nCrc = 0;
    m_nEndState = 0;
    AddLine(tr("Try to update now..."));
    if (CSerialPort* port = f.Port()) port->SetBaudRate(115200);
    ProtocolWait(100);

    const ImageBytes boot = f.ImageStore().Find("BOOT", bootId);
    m_bootImage.assign(boot.begin(), boot.end());
    m_pImage = m_bootImage.data();
    m_nImageSize = m_nTotalSize = static_cast<std::uint32_t>(m_bootImage.size());
    m_bHasFpga = false;

    AddLine(tr("Copy receiver serial number..."));
    // Patched in our own copy before the first block, so the checksum covers it.
    PatchBootSerial(m_bootImage, CarriedImageConfig().loaderFamily, m_strSerial, m_strPnTail);
    m_bSecondImage = false;
    m_nProgress = 0;
    m_progress->setRange(0, static_cast<int>(m_nTotalSize));
    AddLine(tr("Prepare updating for %1...").arg(Text(m_strPartNumber)));
    SendFirstBlock();
}

void CUpdateView::SendFirstBlock() {
    m_nPos = 0;
    std::uint8_t block[kBlockSize] = {};
    if (GetNextBlock(m_pFrame, block) != 0) {
        m_nAddress = 0;
        m_strLastCommand = BuildBlockCommand(0, m_nAddress, block);
        AddLine(AddressLine(m_nAddress));
        m_nAddress += kBlockSize;
        m_pFrame->SendCommand(m_strLastCommand, 20);
        m_bSending = true;
    }
    SetProgress(m_nPos);
}

// ------------------------------------------------------------------ blocks

std::uint32_t CUpdateView::GetNextBlock(CMainFrame* frame, std::uint8_t* buffer) {
    return ::GetNextBlock(*this, &frame->m_nBlockKind, buffer);
}

void CUpdateView::SendNextBlock() {
    const std::uint32_t b2 = m_nAddress >> 8;
    std::uint8_t block[kBlockSize] = {};
    const std::uint32_t count = GetNextBlock(m_pFrame, block);
    if (count == kBlockSize) {
        m_strLastCommand = BuildBlockCommand(b2, m_nAddress, block);
        m_pFrame->SendCommand(m_strLastCommand, 0);
        qCDebug(lcTrace, "OnSendCommand");
        ReplaceLastLine(AddressLine(m_nAddress));
        m_nAddress += kBlockSize;
        // The event loop, not a nested dispatch, delivers the next reply.
    }
    m_nProgress = std::min(m_nProgress, m_nTotalSize);
    SetProgress(m_nProgress);
    qCDebug(lcTrace, "Position:%u", m_nProgress);
    if (count == 0) {
        m_bSending = false;
        AddLine(m_bBootUpdate ? QStringLiteral("继续升级，请立即重启接收机并保持供电……")
                              : tr("Updating Firmware! please wait............."));
        emit allBlocksSent();
        ProtocolWait(500);
        m_pFrame->m_bAwaitCompletion = true;
    }
}

void CUpdateView::ResendLastBlock() {
    m_pFrame->SendCommand(m_strLastCommand, 20);
}

void CUpdateView::OnUpdateCompleted() {
    if (m_bBootUpdate) return;
    AddLine(tr("Completed!"));
    AddLine(Dashes(false));
    emit updateCompleted();
}
