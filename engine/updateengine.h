#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "blocksource.h"
#include "engineclock.h"
#include "engineevent.h"
#include "firmwarepackage.h"
#include "frameencoder.h"
#include "imageconfig.h"
#include "imagestore.h"
#include "imagetable.h"
#include "linkchoice.h"
#include "navformat.h"
#include "protocolpause.h"

class ILink;
class IPrompter;

enum TimerId : int { TIMER_VERSION = 1, TIMER_SS = 2 };

// One receiver: its link, the reply parser, identification, the loader poll,
// the block transfer and its checksum. Everything runs on the thread that
// owns the object, and nothing here blocks it: the protocol's pauses are
// timer steps, so many engines can share one thread. The serial link works
// on this thread too; the USB link's own thread only fills its ring and
// queues a call here. Two engines share nothing. The faces (window, headless
// run, station rows) call the commands and act on the events it reports.
class UpdateEngine : public QObject, private IFrameHandler {
    Q_OBJECT

public:
    using LinkFactory = std::function<std::unique_ptr<ILink>(const CLinkChoice&)>;

    UpdateEngine(LinkFactory makeLink, const ImageConfig& config, const IImageStore& store,
                 QObject* parent = nullptr);
    ~UpdateEngine() override;  // closes the link (and joins its thread) first

    // ------------------------------------------------------------- setup
    // Takes effect at the next Connect.
    void SetLinkChoice(const CLinkChoice& choice) { m_choice = choice; }
    const CLinkChoice& LinkChoice() const { return m_choice; }
    // The images and the part-number table; both must outlive the engine.
    void SetFirmware(const ImageConfig& config, const IImageStore& store);
    // A whole package, kept by the engine; each update names it in the list.
    void SetPackage(FirmwarePackage package);
    const FirmwarePackage* Package() const { return m_package ? &*m_package : nullptr; }
    // Questions and boxes; null gives a prompter that answers No and shows nothing.
    void SetPrompter(IPrompter* prompter);
    // Silence while the receiver must answer (identifying, polling, sending)
    // is a stall after stallMs; the flash write after the last block may take
    // up to completionMs before the run ends unconfirmed.
    void SetTimeouts(int stallMs, int completionMs);
    int StallMs() const { return m_nStallMs; }
    int CompletionMs() const { return m_nCompletionMs; }
    // After a confirmed CPU update, wait up to timeoutMs for the receiver to
    // come back in its firmware and read its versions again.
    void SetVerify(bool verify, int timeoutMs = 60 * 1000);
    bool IsVerifying() const { return m_bVerifying; }
    // The versions this connection's record gave; nothing before a record.
    std::optional<FirmwareVersions> ReceiverVersions() const;
    // What the chosen package brings, where every part number gets the same.
    std::optional<FirmwareVersions> PackageVersions() const;
    // The receiver already runs every version the package states.
    bool IsReceiverUpToDate() const;
    // "CPU 5.100 → 5.200" or "up to date"; empty when either side is unknown.
    QString VersionStep() const;
    // The clock the stall and the flash write are timed by.
    void SetClock(std::unique_ptr<EngineClock> clock);

    // ---------------------------------------------------------- commands
    // Empties the list, opens the link, switches the text interface on and
    // starts asking for the version record. False when the link did not open.
    bool OnConnect();
    void OnDisconnect();
    // Restarts the receiver into its loader and polls it.
    void OnFirmwareUpdate();
    void OnReceiverInfo();
    // A face's own line in the message list (and so in the run log).
    void AddNote(const QString& line) { emit happened(ev::Note{line}); }

    // ------------------------------------------- state the faces read
    bool IsConnected() const { return m_bConnected; }
    bool IsIdentifying() const { return m_bIdentifying; }
    bool IsPolling() const { return m_timerSs.isActive() || m_bRestarting; }
    bool IsSending() const { return m_bSending; }
    bool IsAwaitingCompletion() const override { return m_bAwaitCompletion; }
    EnginePhase Phase() const;
    // From the restart into the loader until the outcome: interrupting now
    // may leave the receiver without working firmware.
    bool IsRunUnderWay() const;
    // Blocks go out, or the receiver writes its flash.
    bool IsWritingFirmware() const { return m_bSending || m_bAwaitCompletion; }
    // Time since the Update command (or the restart the receiver asked for
    // that began this run), by the engine's clock.
    std::int64_t RunElapsedMs() const;
    // "COM3" or "USB", as messages name the link.
    QString PortText() const;
    bool IsUsb() const { return m_choice.m_bUsb; }
    // The link can carry bytes now (a USB device may come later).
    bool IsLinkReady() const;
    std::string LinkDevice() const;
    bool IsTimerActive(int id) const;

    // Receiver state, as the version record and the loader gave it.
    const char* ReceiverSn() const { return m_strReceiverSn; }
    const char* CpuVersion() const { return m_strCpuVersion; }
    const char* FpgaVersion() const { return m_strFpgaVersion; }
    const char* BootVersion() const { return m_strBootVersion; }
    bool Loader115200() const { return m_bLoader115200; }
    const std::string& PartNumber() const { return m_strPartNumber; }
    const std::string& Serial() const { return m_strSerial; }
    const std::string& PnTail() const { return m_strPnTail; }
    bool BootUpdate() const { return m_bBootUpdate; }
    std::uint8_t BlockKind() const { return m_nBlockKind; }
    const CTransferState& Transfer() const { return m_transfer; }
    CImageTable& ImageTable() { return m_mapImageIds; }

signals:
    // What happened, as data (engineevent.h).
    void happened(const EngineEvent& event);
    // Connected, identifying, polling, sending or awaiting completion changed.
    void stateChanged();

private:
    class LinkNotices;
    // From the link's thread, through LinkNotices: queue and return.
    void OnLinkDataReady();
    void OnLinkError(const std::string& text, bool lineLost);
    // On the engine's thread.
    void OnLinkFailed(const QString& message, bool lineLost);
    // Queued from the link's thread: a USB device was found and opened.
    void OnLinkReady();
    // Connected, and neither identifying, polling, sending nor waiting for
    // the receiver's report.
    bool IsQuiet() const;
    void OnLineClosed();
    // Closes the link and ends whatever ran on it, without an outcome.
    void CloseLink();
    // Clears everything a run leaves behind, so the next Connect starts clean.
    void ForgetRun();

    // The receiver's silence and the flash write (watch.cpp).
    void MarkActivity();
    void ArmWatch();
    void OnWatch();
    void BeginFlashWrite();

    // IFrameHandler: frame types from the receiver.
    int OnIdentifyReply(const std::uint8_t* payload, unsigned length) override;
    int OnStartReply() override;
    int OnBlockReply(const std::uint8_t* payload, unsigned length) override;
    void OnStopPolling() override;
    int OnCompleteReply() override;
    int OnVxReply() override;
    void ClearAwaitCompletion() override;

    void UseFirmware(const ImageConfig& config, const IImageStore& store);

    // Identification (updateengine.cpp)
    bool OpenLink();
    void OnTimer(int id);
    void OnLinkData();
    // Takes the next chunk from the link into m_held; false when none waits.
    bool ReadChunk();
    bool ParseVersionRecord();
    void StartChosenTransfer();
    void StartTimer(int id, int periodMs);
    void KillTimer(int id);
    void PollLoader();
    // Encodes the command now (with the block kind of now) and writes it after
    // the loader's pause; a USB frame goes at once.
    void SendCommand(const std::string& text, int delayMs);
    void SendFrame(const EncodedFrame& frame, int delayMs);
    // Runs then after ms without blocking; the link is not read meanwhile.
    void Pause(int ms, std::function<void()> then);
    // What was held back during a pause: timer ticks, then received bytes.
    void AfterPause();
    void WriteRaw(const std::uint8_t* bytes, std::size_t length);
    void SetSpeed(std::uint32_t baud);
    void EndIdentification(bool recordFound);
    IPrompter& Prompter() const;
    bool IsSerial() const;

    // Transfer (transfer.cpp)
    void RestartReceiverSerial();
    void RestartReceiverUsb();
    void ResetReceiver();
    void StartCpuUpdate(std::uint16_t cpuId, std::uint16_t fpgaId);
    void StartBootUpdate(std::uint16_t bootId);
    void SendFirstBlock(bool boot);
    void BeginCpuTransfer(std::uint16_t cpuId, std::uint16_t fpgaId);
    void BeginBootTransfer(std::uint16_t bootId);
    void SendNextBlock();
    void ResendLastBlock();
    void OnUpdateCompleted();
    // The check after a confirmed update (verify.cpp).
    void BeginVerification();
    void AskVersionAgain();
    void EndVerification(bool recordCame);
    // Drops to 9600 where the rules say so, then then.
    void SetLoaderBaudRate(std::function<void()> then);
    // Without a record the loader's speed is unknown: the poll alternates.
    // True when it changed the speed (a pause is due).
    bool ProbeLoaderSpeed();
    // The reset text at 115200 with the pauses around it, the loader speed, the poll.
    void RestartSerial(bool manualLine);
    void ReleaseWhenWritten(QDeadlineTimer bound);
    void WriteResetText();
    void FirmwareMissing(const QString& message);
    void Finish(UpdateOutcome outcome, const QString& detail = {});

    LinkFactory m_makeLink;
    std::optional<FirmwarePackage> m_package;
    const ImageConfig* m_pConfig = nullptr;
    const IImageStore* m_pStore = nullptr;
    IPrompter* m_pPrompter = nullptr;
    CLinkChoice m_choice;
    std::unique_ptr<LinkNotices> m_pNotices;
    std::unique_ptr<ILink> m_pLink;

    CQuillmereNavFormat m_parser;
    CImageTable m_mapImageIds;
    QTimer m_timerVersion;
    QTimer m_timerSs;
    std::vector<std::string> m_arrVersionText;
    std::uint8_t m_nBlockKind = kKindIdle;
    char m_strBootVersion[16] = {};
    char m_strCpuVersion[16] = {};
    char m_strFpgaVersion[16] = {};
    char m_strReceiverSn[16] = {};
    bool m_bAwaitCompletion = false;
    bool m_bIdentifying = false;
    bool m_bLoader115200 = false;
    bool m_bConnected = false;
    int m_nVersionTries = 0;
    bool m_bRecordThisConnect = false;  // a version record came since Connect
    bool m_bInterfaceSent = false;      // the interface command went out since Connect
    bool m_bHeardSinceConnect = false;  // any byte came since Connect
    std::uint32_t m_nLineBaud = 0;      // the serial line's speed as last set
    std::uint32_t m_nLoaderBaud = 0;    // where the loader answered this connection; 0: unknown
    bool m_bProbingSpeed = false;       // the poll alternates 9600 and 115200
    int m_nPollsAtSpeed = 0;

    // From the loader's "SS" answer.
    std::string m_strPartNumber;
    std::string m_strSerial;
    std::string m_strPnTail;
    bool m_bBootUpdate = false;
    bool m_bAwaitingAt = false;        // "AT" sent, its answer not yet in
    bool m_bIdentifyAnswered = false;  // this restart's loader identification was acted on

    // The check after a confirmed update.
    bool m_bVerify = true;
    int m_nVerifyMs = 60 * 1000;
    bool m_bVerifying = false;
    std::int64_t m_nVerifyStartMs = 0;
    QTimer m_timerVerify;             // asks again while the receiver restarts
    FirmwareVersions m_sentVersions;  // what the run's images bring

    // The transfer.
    CTransferState m_transfer;
    std::vector<std::uint8_t> m_bootImage;    // the patched copy of a boot image
    std::vector<ev::SentImage> m_sentImages;  // this transfer's, for its report
    // The store the running transfer reads from, kept alive when another
    // package is chosen meanwhile.
    std::shared_ptr<const IImageStore> m_pTransferStore;
    EncodedFrame m_lastBlockFrame;  // sent again as it was when the block is refused
    std::uint32_t m_nProgressMax = 0;
    bool m_bSending = false;

    // Receive path. Bytes read but not yet parsed when a handler started a
    // pause wait here for its end.
    int m_nLinkDataDepth = 0;
    std::vector<std::uint8_t> m_held;
    std::size_t m_nHeldPos = 0;

    CProtocolPause m_pause;
    bool m_bRestarting = false;  // the restart's pauses run; the poll follows
    bool m_bVersionDue = false;  // a tick came during a pause
    bool m_bSsDue = false;
    std::optional<QString> m_lostLine;  // came during a pause

    // Time.
    std::unique_ptr<EngineClock> m_pClock;
    int m_nStallMs = 30 * 1000;
    int m_nCompletionMs = 10 * 60 * 1000;
    std::int64_t m_nActivityMs = 0;    // the last byte, or the start of what awaits one
    std::int64_t m_nFlashWriteMs = 0;  // when the last acknowledgement came
    std::int64_t m_nRunStartMs = -1;
    bool m_bStallSaid = false;
};

// Calls fn with each event of kind T the engine reports, in context's thread.
template <typename T, typename F>
QMetaObject::Connection OnEvent(UpdateEngine& engine, const QObject* context, F fn) {
    return QObject::connect(&engine, &UpdateEngine::happened, context,
                            [fn = std::move(fn)](const EngineEvent& event) {
                                if (const T* e = std::get_if<T>(&event)) fn(*e);
                            });
}
