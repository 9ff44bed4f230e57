// The engine's connection side: Connect and Disconnect, the link notices,
// identification by the version record, the loader poll and its answers.
#include "updateengine.h"

#include <QThread>
#include <cstring>

#include "identifyreply.h"
#include "iprompter.h"
#include "link.h"
#include "trace.h"
#include "versionrecord.h"

namespace {

// Receiver texts; the counted terminating NUL is sent as a byte.
constexpr char kInterfaceCommand[] = "interfacemode quorvex quorvex on\r\nunlogall\r\n";
constexpr char kLogVersion[] = "log version\r\n";
static_assert(sizeof kInterfaceCommand == 45 && sizeof kLogVersion == 14);

constexpr std::size_t kChunk = 4096;

const std::uint8_t* Bytes(const char* text) {
    return reinterpret_cast<const std::uint8_t*>(text);
}

// Answers every question No and shows nothing: an engine nobody watches
// never waits for a click.
class SilentPrompter : public IPrompter {
public:
    bool AskYesNo(const QString&, const QString&) override { return false; }
    void ShowError(const QString&, const QString&) override {}
    void ShowInfo(const QString&, const QString&) override {}
};

}  // namespace

// The link's listener. Received bytes are parsed at once when the notice
// comes on the engine's own thread (the serial link's notifier), and queued
// from a link's thread (USB). Errors are always queued: a link reports a
// failed step from within the engine's own call (Write, SetSpeed, Read), and
// that step must end before the engine acts on it, closing the link perhaps.
class UpdateEngine::LinkNotices : public ILinkListener {
public:
    explicit LinkNotices(UpdateEngine& engine) : m_engine(engine) {}
    void OnLinkDataReady() override {
        if (QThread::currentThread() == m_engine.thread())
            m_engine.OnLinkData();
        else
            m_engine.OnLinkDataReady();
    }
    void OnLinkError(const std::string& text, bool lineLost) override {
        m_engine.OnLinkError(text, lineLost);
    }
    void OnLinkReady() override {
        QMetaObject::invokeMethod(
            &m_engine, [engine = &m_engine] { engine->OnLinkReady(); }, Qt::QueuedConnection);
    }

private:
    UpdateEngine& m_engine;
};

UpdateEngine::UpdateEngine(LinkFactory makeLink, const ImageConfig& config,
                           const IImageStore& store, QObject* parent)
    : QObject(parent),
      m_makeLink(std::move(makeLink)),
      m_pNotices(std::make_unique<LinkNotices>(*this)),
      m_pClock(std::make_unique<EngineClock>()) {
    SetFirmware(config, store);
    m_timerVersion.setTimerType(Qt::PreciseTimer);
    m_timerSs.setTimerType(Qt::PreciseTimer);
    connect(&m_timerVersion, &QTimer::timeout, this, [this] { OnTimer(TIMER_VERSION); });
    connect(&m_timerSs, &QTimer::timeout, this, [this] { OnTimer(TIMER_SS); });
    connect(&m_timerVerify, &QTimer::timeout, this, &UpdateEngine::AskVersionAgain);
    // Whatever changed, the watch wakes at the moment that now matters.
    connect(this, &UpdateEngine::stateChanged, this, &UpdateEngine::ArmWatch);
}

UpdateEngine::~UpdateEngine() {
    // The link's thread stops before anything it could notify goes.
    if (m_pLink) m_pLink->Close();
}

bool UpdateEngine::IsLinkReady() const {
    return m_pLink && m_pLink->IsReady();
}

std::string UpdateEngine::LinkDevice() const {
    return m_pLink ? m_pLink->Device() : std::string();
}

bool UpdateEngine::IsSerial() const {
    return m_pLink && m_pLink->Kind() == LinkKind::Serial;
}

void UpdateEngine::SetPackage(FirmwarePackage package) {
    m_package = std::move(package);
    UseFirmware(m_package->config, *m_package->store);
}

void UpdateEngine::SetFirmware(const ImageConfig& config, const IImageStore& store) {
    m_package.reset();
    UseFirmware(config, store);
}

void UpdateEngine::UseFirmware(const ImageConfig& config, const IImageStore& store) {
    m_pConfig = &config;
    m_pStore = &store;
    m_mapImageIds = CImageTable();
    m_mapImageIds.BuildImageTable(config);
}

void UpdateEngine::SetPrompter(IPrompter* prompter) {
    m_pPrompter = prompter;
}

IPrompter& UpdateEngine::Prompter() const {
    static SilentPrompter silent;
    return m_pPrompter ? *m_pPrompter : silent;
}

// ---------------------------------------------------------------- commands

bool UpdateEngine::OnConnect() {
    emit happened(ev::ListCleared{});
    // Text left over from a record that never parsed belongs to the previous
    // receiver: it would name the next one with the old serial number.
    m_arrVersionText.clear();
    // What the loader said belongs to the receiver of the last connection.
    m_strPartNumber.clear();
    m_strSerial.clear();
    m_strPnTail.clear();
    m_bBootUpdate = false;
    m_transfer = CTransferState();
    m_nProgressMax = 0;
    m_nRunStartMs = -1;
    m_bRecordThisConnect = false;
    m_bHeardSinceConnect = false;
    m_nLoaderBaud = 0;
    if (!OpenLink()) {
        emit stateChanged();
        return false;
    }
    m_bIdentifying = true;
    m_nVersionTries = 0;
    m_bConnected = true;
    MarkActivity();
    const auto switchOn = [this] {
        // A USB device that is not there yet gets it when it comes (OnLinkReady).
        m_bInterfaceSent = IsLinkReady();
        WriteRaw(Bytes(kInterfaceCommand), sizeof kInterfaceCommand);
        StartTimer(TIMER_VERSION, 200);
    };
    if (IsSerial()) {
        SetSpeed(115200);
        Pause(100, switchOn);
    } else {
        switchOn();
    }
    emit stateChanged();
    return true;
}

bool UpdateEngine::OpenLink() {
    if (m_pLink) return false;
    std::unique_ptr<ILink> link = m_makeLink ? m_makeLink(m_choice) : nullptr;
    if (!link) return false;
    if (link->Open(m_pNotices.get())) {
        m_pLink = std::move(link);
        if (m_pLink->Kind() == LinkKind::Usb) {
            if (m_pLink->IsReady()) qCDebug(lcTrace, "Initialize USB Device.");
        } else {
            qCDebug(lcTrace, "Serial Port COM%d Init Succeed!", m_choice.m_nComPort);
        }
        return true;
    }
    emit happened(ev::PortRefused{link->Refusal(), m_choice.m_nComPort,
                                  QString::fromStdString(link->Device())});
    link->Close();
    qCDebug(lcTrace, "Serial Port COM%d Init Error!", m_choice.m_nComPort);
    return false;
}

void UpdateEngine::OnDisconnect() {
    const bool interrupted = IsRunUnderWay();
    CloseLink();
    if (interrupted)
        emit happened(ev::Finished{UpdateOutcome::Interrupted,
                                   tr("Disconnected while the update was under way.")});
    emit stateChanged();
}

void UpdateEngine::CloseLink() {
    m_bConnected = false;
    if (m_pLink) {
        m_pLink->Close();
        m_pLink.reset();
    }
    m_pause.Cancel();
    m_lostLine.reset();
    m_held.clear();
    m_nHeldPos = 0;
    m_bRestarting = m_bVersionDue = m_bSsDue = false;
    m_timerVersion.stop();
    m_timerSs.stop();
    m_timerVerify.stop();
    m_bVerifying = false;
    m_bIdentifying = false;
    ForgetRun();
}

void UpdateEngine::ForgetRun() {
    // A transfer cut off by a lost line or a Disconnect must not leave the
    // engine sending: the next Connect would show a transfer nobody runs.
    m_bSending = false;
    m_bAwaitCompletion = false;
    m_bAwaitingAt = false;
    m_bIdentifyAnswered = false;
    m_bProbingSpeed = false;
}

void UpdateEngine::OnReceiverInfo() {
    emit happened(ev::ReceiverIdentified{
        QString::fromLatin1(m_strReceiverSn), QString::fromLatin1(m_strCpuVersion),
        QString::fromLatin1(m_strFpgaVersion), QString::fromLatin1(m_strBootVersion)});
}

// ------------------------------------------------------------------ timers

void UpdateEngine::StartTimer(int id, int periodMs) {
    if (id == TIMER_SS) {
        // A new poll means a new identification is awaited and answered once.
        m_bAwaitingAt = false;
        m_bIdentifyAnswered = false;
    }
    (id == TIMER_VERSION ? m_timerVersion : m_timerSs).start(periodMs);
    emit stateChanged();
}

void UpdateEngine::KillTimer(int id) {
    QTimer& timer = id == TIMER_VERSION ? m_timerVersion : m_timerSs;
    if (!timer.isActive()) return;
    timer.stop();
    emit stateChanged();
}

bool UpdateEngine::IsTimerActive(int id) const {
    return (id == TIMER_VERSION ? m_timerVersion : m_timerSs).isActive();
}

void UpdateEngine::OnTimer(int id) {
    // A tick that comes during a pause waits for its end, as it did when the
    // pause was a sleep.
    if (m_pause.IsPending()) {
        (id == TIMER_VERSION ? m_bVersionDue : m_bSsDue) = true;
        return;
    }
    switch (id) {
        case TIMER_VERSION:
            WriteRaw(Bytes(kLogVersion), sizeof kLogVersion);
            if (++m_nVersionTries > 3) EndIdentification(false);
            break;
        case TIMER_SS:
            if (m_bProbingSpeed && ProbeLoaderSpeed()) {
                Pause(100, [this] { PollLoader(); });
                break;
            }
            PollLoader();
            break;
        default:
            break;
    }
}

void UpdateEngine::PollLoader() {
    if (m_pLink && !m_pLink->IsReady()) {
        // The receiver re-enumerates when it restarts into its loader.
        const bool ready = m_pLink->Reattach();
        qCDebug(lcTrace, "TIMER_SS : %d ", ready ? 1 : 0);
    }
    SendCommand("SS, B49,B54,", 50);
    qCDebug(lcTrace, "OnSendCommand,B%d,B%d", 49, 54);
}

void UpdateEngine::Pause(int ms, std::function<void()> then) {
    m_pause.Start(ms, [this, then = std::move(then)] {
        then();
        AfterPause();
    });
}

void UpdateEngine::AfterPause() {
    // Replies first: a poll's answer must not wait behind the next poll.
    OnLinkData();
    if (m_pause.IsPending()) return;  // a step began another
    if (m_lostLine) {
        OnLinkFailed(*std::exchange(m_lostLine, std::nullopt), true);
        return;
    }
    if (std::exchange(m_bVersionDue, false) && m_timerVersion.isActive()) OnTimer(TIMER_VERSION);
    if (m_pause.IsPending()) return;
    if (std::exchange(m_bSsDue, false) && m_timerSs.isActive()) OnTimer(TIMER_SS);
}

void UpdateEngine::EndIdentification(bool recordFound) {
    KillTimer(TIMER_VERSION);
    m_bIdentifying = false;
    m_arrVersionText.clear();
    emit happened(ev::IdentificationEnded{recordFound});
    emit stateChanged();
}

// ------------------------------------------------------------ link writes

void UpdateEngine::WriteRaw(const std::uint8_t* bytes, std::size_t length) {
    if (m_pLink && m_pLink->IsReady()) m_pLink->Write(bytes, length);
}

void UpdateEngine::SetSpeed(std::uint32_t baud) {
    if (!m_pLink) return;
    m_pLink->SetSpeed(baud);
    m_nLineBaud = baud;
}

void UpdateEngine::SendCommand(const std::string& text, int delayMs) {
    SendFrame(EncodeCommand(text, m_nBlockKind), delayMs);
}

void UpdateEngine::SendFrame(const EncodedFrame& frame, int delayMs) {
    // The loader's pause before a frame is a serial-line matter; USB frames
    // go at once.
    if (!IsSerial() || delayMs <= 0) {
        WriteRaw(frame.data(), frame.size);
        return;
    }
    Pause(delayMs, [this, frame] { WriteRaw(frame.data(), frame.size); });
}

// --------------------------------------------------------------- receiving

void UpdateEngine::OnLinkDataReady() {
    // A link's thread: the link raises this once per drain, so one queued
    // call stands for every byte put until it runs.
    QMetaObject::invokeMethod(
        this, [this] { OnLinkData(); }, Qt::QueuedConnection);
}

void UpdateEngine::OnLinkError(const std::string& text, bool lineLost) {
    QMetaObject::invokeMethod(
        this,
        [this, message = QString::fromStdString(text), lineLost] {
            // What came before the line went (a "SC" just before the board
            // restarts) is read first, after the pause.
            if (lineLost && m_pause.IsPending()) {
                m_lostLine = message;
                return;
            }
            OnLinkFailed(message, lineLost);
        },
        Qt::QueuedConnection);
}

void UpdateEngine::OnLinkFailed(const QString& message, bool lineLost) {
    if (lineLost && m_bVerifying) {
        // The receiver restarts into its new firmware: a USB device comes
        // back anew; a tty that goes along with it cannot be asked any more.
        if (!IsSerial()) {
            qCDebug(lcTrace, "%s", qPrintable(message));
            m_pLink->Reattach();
            return;
        }
        EndVerification(false);
        OnLineClosed();
        return;
    }
    if (lineLost && IsQuiet()) {
        OnLineClosed();
        return;
    }
    // While the loader is polled over USB the device comes and goes by
    // design: the firmware's device leaves after the reset text, and the
    // next tick looks for the loader's.
    if (lineLost && !IsSerial() && IsPolling()) {
        qCDebug(lcTrace, "%s", qPrintable(message));
        return;
    }
    if (!lineLost) {
        Prompter().ShowError(QStringLiteral("Application Error"), message);
        return;
    }
    // Which device and what happened stay in the list, under the transfer
    // they ended. Nothing more comes on a lost line: it is closed, so Connect
    // works again at once (for USB, on the device plugged in anew), and the
    // run has ended before the box shows.
    CloseLink();
    emit happened(ev::Finished{UpdateOutcome::LinkLost, message});
    emit stateChanged();
    Prompter().ShowError(QStringLiteral("Application Error"), message);
}

void UpdateEngine::OnLinkReady() {
    if (!IsLinkReady()) return;  // gone again, or let go meanwhile
    qCDebug(lcTrace, "Initialize USB Device.");
    // A device that comes after Connect missed the switch to the text
    // interface: the identification starts over on it. One that was there at
    // Connect has had it already; its notice merely came late.
    if (m_bVerifying) {
        AskVersionAgain();
    } else if (m_bIdentifying && !m_bInterfaceSent) {
        m_bInterfaceSent = true;
        WriteRaw(Bytes(kInterfaceCommand), sizeof kInterfaceCommand);
        m_nVersionTries = 0;
        StartTimer(TIMER_VERSION, 200);
    }
    emit stateChanged();
}

bool UpdateEngine::IsQuiet() const {
    return Phase() == EnginePhase::Idle;
}

void UpdateEngine::OnLineClosed() {
    // A receiver restarts into its new firmware once it has confirmed the
    // update, and one on a USB-CDC port or a board-powered adapter takes its
    // tty along: after the confirmation, or while nothing is under way, that
    // is no error. The port is closed cleanly, so Connect works again.
    emit happened(ev::LineClosed{QString::fromStdString(LinkDevice())});
    OnDisconnect();
}

void UpdateEngine::OnLinkData() {
    // A handler that runs a nested event loop (a question box) must not parse
    // newer bytes before the ones this call still holds: the nested notice is
    // left to this call, which reads until the link is empty. During a pause
    // nothing is parsed; the pause's end comes back here.
    if (m_nLinkDataDepth > 0 || m_pause.IsPending()) return;
    ++m_nLinkDataDepth;
    while (m_pLink && !m_pause.IsPending()) {
        if (m_nHeldPos == m_held.size() && !ReadChunk()) break;
        while (m_nHeldPos < m_held.size() && !m_pause.IsPending()) {
            if (!m_parser.ParseByte(m_held[m_nHeldPos++])) continue;
            // A failed frame may give back more than one frame it held.
            do m_parser.DispatchFrame(*this);
            while (m_parser.NextFrame());
        }
    }
    --m_nLinkDataDepth;
}

bool UpdateEngine::ReadChunk() {
    m_held.resize(kChunk + 1);
    const std::size_t n = m_pLink->Read(m_held.data(), kChunk);
    m_held.resize(n);
    m_nHeldPos = 0;
    if (n == 0) return false;
    m_bHeardSinceConnect = true;
    const bool stallSaid = m_bStallSaid;
    MarkActivity();
    if (stallSaid) ArmWatch();  // the receiver is back: the next silence counts
    if (m_bIdentifying || m_bVerifying) {
        // Read as a zero-terminated text: it ends at the chunk's first NUL.
        const auto* text = reinterpret_cast<const char*>(m_held.data());
        m_arrVersionText.emplace_back(text, ::strnlen(text, n));
        if (ParseVersionRecord()) {
            if (m_bVerifying) {
                EndVerification(true);
            } else {
                OnReceiverInfo();
                EndIdentification(true);
            }
        }
    }
    return true;
}

bool UpdateEngine::ParseVersionRecord() {
    std::string text;
    for (const auto& part : m_arrVersionText) text += part;
    VersionRecord record;
    if (!::ParseVersionRecord(text, &record)) return false;
    std::memcpy(m_strReceiverSn, record.sn, sizeof m_strReceiverSn);
    std::memcpy(m_strCpuVersion, record.cpu, sizeof m_strCpuVersion);
    std::memcpy(m_strFpgaVersion, record.fpga, sizeof m_strFpgaVersion);
    std::memcpy(m_strBootVersion, record.boot, sizeof m_strBootVersion);
    m_bLoader115200 = record.loader115200;
    m_bRecordThisConnect = true;
    m_arrVersionText.clear();
    return true;
}

// ----------------------------------------------------------- frame types

int UpdateEngine::OnIdentifyReply(const std::uint8_t* payload, unsigned length) {
    // Each restart's identification is acted on once. A poll sent while the
    // answer was on its way is answered too; taking that late answer as new
    // would start the transfer again with a block in flight, or repeat a
    // failed start's error box and question.
    const bool polling = m_timerSs.isActive();
    KillTimer(TIMER_SS);
    if (!polling && m_bIdentifyAnswered) {
        qCDebug(lcTrace, "late \"SS\" answer ignored");
        return 1;
    }
    m_bAwaitCompletion = false;
    const std::string& family = m_pConfig->loaderFamily;
    const auto reply = ParseIdentifyReply(payload, static_cast<std::uint16_t>(length), family);
    emit stateChanged();
    if (!reply) return 1;
    m_bIdentifyAnswered = true;
    if (IsSerial()) {
        // The loader answers here; a restart this connection asks it here again.
        m_bProbingSpeed = false;
        m_nLoaderBaud = m_nLineBaud;
    }
    m_strPartNumber = reply->partNumber;
    m_strSerial = reply->serial;
    m_strPnTail = reply->tail;
    m_bBootUpdate = reply->bootOffered &&
                    Prompter().AskYesNo(QStringLiteral("QuorvexUpdate"), tr("Update boot?"));
    if (!StartsWith(reply->partNumber, family)) {
        m_bAwaitingAt = true;
        SendCommand("AT", 50);
        return 1;
    }
    StartChosenTransfer();
    return 1;
}

int UpdateEngine::OnStartReply() {
    // Only the answer to our own "AT" starts a transfer. A late one (Update
    // was given again meanwhile) would start it in the middle of the poll,
    // and a repeated one while blocks go out a second time.
    if (!m_bAwaitingAt) {
        qCDebug(lcTrace, "\"AT\" not awaited ignored");
        return 1;
    }
    m_bAwaitingAt = false;
    m_bAwaitCompletion = false;
    emit stateChanged();
    StartChosenTransfer();
    return 1;
}

void UpdateEngine::StartChosenTransfer() {
    // Polls between blocks would be answered, and an answer taken for a new start.
    KillTimer(TIMER_SS);
    const std::string& pn = m_strPartNumber;
    if (m_bBootUpdate)
        StartBootUpdate(static_cast<std::uint16_t>(m_mapImageIds.GetBootImage(pn)));
    else
        StartCpuUpdate(static_cast<std::uint16_t>(m_mapImageIds.GetCpuImage(pn)),
                       static_cast<std::uint16_t>(m_mapImageIds.GetFpgaImage(pn)));
}

int UpdateEngine::OnBlockReply(const std::uint8_t* payload, unsigned length) {
    // An acknowledgement that arrives when no block is out (a late one after
    // Update was pressed again) would send a block of the old transfer into
    // the new poll.
    if (!m_bSending) {
        qCDebug(lcTrace, "\"SX\" while no block is out ignored");
        return 1;
    }
    // An acknowledgement without a payload confirms nothing: the block is
    // sent again rather than skipped.
    if (length == 0 || payload[0] == 0) {
        qCDebug(lcTrace, "写失败！");
        ResendLastBlock();
    } else {
        SendNextBlock();
    }
    return 1;
}

void UpdateEngine::OnStopPolling() {
    KillTimer(TIMER_SS);
}

int UpdateEngine::OnCompleteReply() {
    OnUpdateCompleted();
    return 1;
}

void UpdateEngine::ClearAwaitCompletion() {
    m_bAwaitCompletion = false;
    emit stateChanged();
}

int UpdateEngine::OnVxReply() {
    m_bAwaitCompletion = false;
    ResetReceiver();
    return 1;
}
