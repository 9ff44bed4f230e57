#include "mainframe.h"

#include <QCloseEvent>
#include <cerrno>
#include <cstring>

#include "identifyreply.h"
#include "prompter.h"
#include "protocolwait.h"
#include "serialport.h"
#include "settings.h"
#include "trace.h"
#include "updateview.h"
#include "versionrecord.h"

namespace {

// Receiver texts; the counted terminating NUL is sent as a byte.
constexpr char kInterfaceCommand[] = "interfacemode quorvex quorvex on\r\nunlogall\r\n";
constexpr char kLogVersion[] = "log version\r\n";
static_assert(sizeof kInterfaceCommand == 45 && sizeof kLogVersion == 14);

constexpr int kMaxPort = 256;
constexpr std::uint32_t kEventMask = 9;  // receive-character and CTS-change events

const std::uint8_t* Bytes(const char* text) {
    return reinterpret_cast<const std::uint8_t*>(text);
}

}  // namespace

CMainFrame::CMainFrame(FrameStartup startup, QWidget* parent) : QMainWindow(parent) {
    m_nComPort = 1;
    if (startup.link)
        static_cast<CLinkChoice&>(*this) = *startup.link;
    else
        m_nComPort = ParsePortOfMonitor(GetPortOfMonitor());
    if (startup.probePorts) m_arrPorts = EnumeratePorts();
    BuildImageTable();

    m_usb.SetOwner(this);
    m_timerVersion.setTimerType(Qt::PreciseTimer);
    m_timerSs.setTimerType(Qt::PreciseTimer);
    connect(&m_timerVersion, &QTimer::timeout, this, [this] { OnTimer(TIMER_VERSION); });
    connect(&m_timerSs, &QTimer::timeout, this, [this] { OnTimer(TIMER_SS); });

    setWindowTitle(QStringLiteral("QuorvexUpdate"));
    setFixedSize(650, 500);
    m_pView = new CUpdateView(this);
    setCentralWidget(m_pView);
    CreateActions();
    RefreshActions();
}

CMainFrame::~CMainFrame() {
    // The monitor thread stops before the port goes; no link thread may post
    // to a frame that is being torn down.
    m_pPort.reset();
    m_usb.SetReaderRunning(false);
}

void CMainFrame::OnCreate() {
    setWindowTitle(tr("Update For Z4 OEM Board"));
    OnConnect();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    m_usb.SetReaderRunning(false);
    event->accept();
}

// ---------------------------------------------------------------- commands

void CMainFrame::OnConnect() {
    if (m_pView) m_pView->ClearList();
    if (OpenLink() == 0) {
        RefreshActions();
        return;
    }
    if (m_bUsb) {
        if (m_usb.m_bOpen) {
            std::int32_t queued = 0;
            m_usb.UsbWrite(Bytes(kInterfaceCommand), sizeof kInterfaceCommand, &queued);
        }
    } else {
        m_pPort->SetBaudRate(115200);
        ProtocolWait(100);
        m_pPort->WritePort(Bytes(kInterfaceCommand), sizeof kInterfaceCommand);
    }
    StartTimer(TIMER_VERSION, 200);
    m_bIdentifying = true;
    m_nVersionTries = 0;
    m_bConnected = true;
    RefreshActions();
    emit connectionChanged(true);
}

std::uintptr_t CMainFrame::OpenLink() {
    if (m_bUsb) {
        const UsbHandle handle = m_usb.OpenDevice(1);
        if (handle == kInvalidUsbHandle) return 1;  // connected; the poll opens the device later
        m_usb.m_bOpen = 1;
        m_usb.InitWinUsb(this);
        qCDebug(lcTrace, "Initialize USB Device.");
        setWindowTitle(QStringLiteral("USB"));
        return 1;
    }
    if (m_nComPort < 1 || m_nComPort > kMaxPort || m_pPort) return 0;
    m_pPort = std::make_unique<CSerialPort>();
    m_pRxRing = &m_pPort->m_rxRing;
    RingInit(m_pRxRing, sizeof m_pPort->m_rxStore, m_pPort->m_rxStore);
    if (m_pPort->OpenPort(this, static_cast<unsigned>(m_nComPort), 115200, 'N', 8, 1, kEventMask,
                          512)) {
        m_pPort->StartMonitor();
        setWindowTitle(tr("Update For Z4 OEM Board") + QString::asprintf(" - COM%d", m_nComPort));
        qCDebug(lcTrace, "Serial Port COM%d Init Succeed!", m_nComPort);
        return reinterpret_cast<std::uintptr_t>(m_pPort.get());
    }
    // Without access to the device the operator would otherwise see nothing
    // at all; every other failure stays as quiet as it always was.
    if (m_pPort->OpenErrno() == EACCES && m_pView)
        m_pView->AddLine(
            tr("Cannot open COM%1 (%2): permission denied. Your user needs access to "
               "the device, e.g. membership of the dialout group.")
                .arg(m_nComPort)
                .arg(QString::fromStdString(ComDevicePath(static_cast<unsigned>(m_nComPort)))));
    m_pPort.reset();
    m_pRxRing = nullptr;
    qCDebug(lcTrace, "Serial Port COM%d Init Error!", m_nComPort);
    return 0;
}

void CMainFrame::OnDisconnect() {
    m_bConnected = false;
    if (m_pPort) {
        // The ring goes with the port: never leave a pointer into it.
        if (m_pRxRing == &m_pPort->m_rxRing) m_pRxRing = nullptr;
        m_pPort.reset();
    }
    KillTimer(TIMER_VERSION);
    KillTimer(TIMER_SS);
    m_bAwaitingAt = false;
    if (m_bUsb) {
        if (m_usb.m_bOpen) m_usb.CloseDevice();
        m_usb.SetReaderRunning(false);
    }
    m_bIdentifying = false;
    RefreshActions();
    emit connectionChanged(false);
}

// ------------------------------------------------------------------ timers

void CMainFrame::StartTimer(int id, int periodMs) {
    // A new poll means a new identification is awaited.
    if (id == TIMER_SS) m_bAwaitingAt = false;
    (id == TIMER_VERSION ? m_timerVersion : m_timerSs).start(periodMs);
}

void CMainFrame::KillTimer(int id) {
    (id == TIMER_VERSION ? m_timerVersion : m_timerSs).stop();
}

bool CMainFrame::IsTimerActive(int id) const {
    return (id == TIMER_VERSION ? m_timerVersion : m_timerSs).isActive();
}

void CMainFrame::WriteRaw(const std::uint8_t* bytes, int length) {
    if (m_bUsb) {
        if (m_usb.m_bOpen) {
            std::int32_t queued = 0;
            m_usb.UsbWrite(bytes, length, &queued);
        }
    } else if (m_pPort) {
        m_pPort->WritePort(bytes, length);
    }
}

void CMainFrame::OnTimer(int id) {
    switch (id) {
        case TIMER_VERSION:
            WriteRaw(Bytes(kLogVersion), sizeof kLogVersion);
            if (++m_nVersionTries > 3) {
                KillTimer(TIMER_VERSION);
                m_bIdentifying = false;
                RefreshActions();
                emit identificationEnded(false);
            }
            break;
        case TIMER_SS: {
            if (m_bUsb && !m_usb.m_bOpen) {
                // The receiver re-enumerates when it restarts into its loader.
                const UsbHandle handle = m_usb.OpenDevice(1);
                qCDebug(lcTrace, "TIMER_SS : 0x%p ", static_cast<void*>(handle));
                if (handle != kInvalidUsbHandle) {
                    m_usb.InitWinUsb(this);
                    m_usb.m_bOpen = 1;
                }
            }
            SendCommand("SS, B49,B54,", 50);
            qCDebug(lcTrace, "OnSendCommand,B%d,B%d", 49, 54);
            break;
        }
        default:
            break;
    }
}

bool CMainFrame::SendCommand(const std::string& text, int delayMs) {
    const EncodedFrame frame = EncodeCommand(text, m_nBlockKind);
    if (m_bUsb && m_usb.m_bOpen) {
        std::int32_t queued = 0;
        m_usb.UsbWrite(frame.data(), static_cast<std::int32_t>(frame.size), &queued);
    }
    if (!m_pPort) return false;
    ProtocolWait(delayMs);
    m_pPort->WritePort(frame.data(), static_cast<std::int32_t>(frame.size));
    return true;
}

// --------------------------------------------------------------- receiving

void CMainFrame::PostLinkMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
    // The other port notices keep their default handling: none.
    if (message != WM_LINK_DATA) return;
    // The serial link posts once per byte. One queued notice stands for every
    // read made until it runs, and it drains them all, so the UI thread is
    // woken on the edge rather than per byte. The fences pair with the ones
    // in the notice: a byte put after the drain began always posts anew.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (m_bNoticePending.exchange(true)) return;
    QMetaObject::invokeMethod(
        this,
        [this, wParam, lParam] {
            m_bNoticePending.store(false);
            std::atomic_thread_fence(std::memory_order_seq_cst);
            OnLinkData(wParam, lParam);
        },
        Qt::QueuedConnection);
}

void CMainFrame::ReportLinkError(const std::string& text) {
    QMetaObject::invokeMethod(
        this,
        [this, message = QString::fromStdString(text)] {
            emit linkError(message);
            Prompter().ShowError(QStringLiteral("Application Error"), message);
        },
        Qt::QueuedConnection);
}

void CMainFrame::OnLinkData(std::uintptr_t, std::intptr_t lParam) {
    if (!m_bUsb && (lParam < 1 || lParam > kMaxPort || !m_pPort)) return;
    // A handler that runs a nested event loop (a question box) must not parse
    // newer bytes before the ones this call still holds: the nested notice is
    // left to this call, which drains again when it is done.
    if (m_nLinkDataDepth > 0) {
        m_bLinkDataDeferred = true;
        return;
    }
    ++m_nLinkDataDepth;
    std::uint8_t chunk[4097];
    do {
        m_bLinkDataDeferred = false;
        if (!m_pRxRing || (!m_bUsb && !m_pPort)) break;
        const std::uint32_t n = RingGet(m_pRxRing, chunk, 4096);
        if (n == 0) break;
        // A full chunk may have left more behind that no later notice covers.
        if (n == 4096) m_bLinkDataDeferred = true;
        chunk[n] = 0;
        emit bytesReceived(static_cast<int>(n));
        if (m_bIdentifying) {
            m_arrVersionText.emplace_back(reinterpret_cast<const char*>(chunk));
            if (ParseVersionRecord()) {
                KillTimer(TIMER_VERSION);
                m_bIdentifying = false;
                RefreshActions();
                emit identificationEnded(true);
            }
        }
        for (std::uint32_t i = 0; i < n; ++i)
            if (m_parser.ParseByte(chunk[i])) m_parser.DispatchFrame(*this);
    } while (m_bLinkDataDeferred);
    --m_nLinkDataDepth;
}

bool CMainFrame::ParseVersionRecord() {
    std::string text;
    for (const auto& part : m_arrVersionText) text += part;
    VersionRecord record;
    if (!::ParseVersionRecord(text, &record)) return false;
    std::memcpy(m_strReceiverSn, record.sn, sizeof m_strReceiverSn);
    std::memcpy(m_strCpuVersion, record.cpu, sizeof m_strCpuVersion);
    std::memcpy(m_strFpgaVersion, record.fpga, sizeof m_strFpgaVersion);
    std::memcpy(m_strBootVersion, record.boot, sizeof m_strBootVersion);
    m_bLoader115200 = record.loader115200;
    m_arrVersionText.clear();
    if (m_pView) m_pView->OnReceiverInfo();
    return true;
}

// ----------------------------------------------------------- frame types

int CMainFrame::OnIdentifyReply(const std::uint8_t* payload, unsigned length) {
    // A poll sent while the previous answer was on its way is answered too.
    // Taking that late answer as a new identification would start the
    // transfer a second time with a block already in flight: two blocks
    // outstanding, and the purge before a write can cut one of them off.
    const bool polling = IsTimerActive(TIMER_SS);
    KillTimer(TIMER_SS);
    if (!polling && (m_bAwaitingAt || (m_pView && m_pView->IsSending()))) {
        qCDebug(lcTrace, "late \"SS\" answer ignored during a transfer");
        return 1;
    }
    m_bAwaitCompletion = false;
    const std::string& family = CarriedImageConfig().loaderFamily;
    const auto reply = ParseIdentifyReply(payload, static_cast<std::uint16_t>(length), family);
    if (!m_pView || !reply) return 1;
    m_pView->m_strPartNumber = reply->partNumber;
    m_pView->m_strSerial = reply->serial;
    m_pView->m_strPnTail = reply->tail;
    m_pView->m_bBootUpdate =
        reply->bootOffered &&
        Prompter().AskYesNo(QStringLiteral("QuorvexUpdate"), tr("Update boot?"));
    if (!StartsWith(reply->partNumber, family)) {
        m_bAwaitingAt = true;
        SendCommand("AT", 50);
        return 1;
    }
    StartChosenTransfer();
    return 1;
}

int CMainFrame::OnStartReply() {
    // Only the answer to our own "AT" starts a transfer; a repeated one
    // arriving while blocks go out would start it a second time.
    if (!m_bAwaitingAt && m_pView && m_pView->IsSending()) return 1;
    m_bAwaitingAt = false;
    m_bAwaitCompletion = false;
    if (m_pView) StartChosenTransfer();
    return 1;
}

void CMainFrame::StartChosenTransfer() {
    const std::string& pn = m_pView->m_strPartNumber;
    if (m_pView->m_bBootUpdate)
        m_pView->StartBootUpdate(static_cast<std::uint16_t>(GetBootImage(pn)));
    else
        m_pView->StartCpuUpdate(static_cast<std::uint16_t>(GetCpuImage(pn)),
                                static_cast<std::uint16_t>(GetFpgaImage(pn)));
}

int CMainFrame::OnBlockReply(const std::uint8_t* payload, unsigned length) {
    if (!m_pView) return 1;
    // An acknowledgement without a payload confirms nothing: the block is
    // sent again rather than skipped.
    if (length == 0 || payload[0] == 0) {
        qCDebug(lcTrace, "写失败！");
        m_pView->ResendLastBlock();
    } else {
        m_pView->SendNextBlock();
    }
    return 1;
}

int CMainFrame::OnCompleteReply() {
    if (m_pView) m_pView->OnUpdateCompleted();
    return 1;
}

int CMainFrame::OnVxReply() {
    m_bAwaitCompletion = false;
    if (m_pView) m_pView->ResetReceiver();
    return 1;
}
