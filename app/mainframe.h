#pragma once

#include <QAction>
#include <QMainWindow>
#include <QTimer>
#include <array>
#include <atomic>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "comports.h"
#include "firmware.h"
#include "imagestore.h"
#include "imagetable.h"
#include "linkchoice.h"
#include "linkowner.h"
#include "navformat.h"
#include "ringbuffer.h"
#include "usbupdate.h"

class CLanguage;
class CSerialPort;
class CUpdateView;
class QAction;
class QToolBar;

// Command ids the receiver tool has always used; kept as names for the actions.
enum CommandId : int {
    ID_CONNECT = 32771,
    ID_DISCONNECT = 32772,
    ID_LINK_SETUP = 32805,
    ID_FIRMWARE_UPDATE = 32818,
    ID_LANGUAGE_ENGLISH = 32820,
    ID_LANGUAGE_CHINESE = 32821,
    ID_RECEIVER_INFO = 32828,
    ID_APP_ABOUT = 57664,
    ID_VISIT_WEBSITE = 57667,
};

enum TimerId : int { TIMER_VERSION = 1, TIMER_SS = 2 };

// How the frame starts. A run that is told its link (a test, a headless run)
// opens that link and no other: no saved port is read.
struct FrameStartup {
    std::optional<CLinkChoice> link;
    bool probePorts = true;  // list the serial ports for Link Setup
};

// The hub: owns the links, the parser, the receiver state, the image table
// and the two timers; identification runs here, the transfer in the view.
class CMainFrame : public QMainWindow, public CLinkChoice, public ILinkOwner, public IFrameHandler {
    Q_OBJECT

public:
    explicit CMainFrame(FrameStartup startup = {}, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Window creation: tool bar, title, and the connect at start.
    void OnCreate();

    // Commands
    void OnConnect();
    void OnDisconnect();
    void OnLinkSetup();
    bool IsConnected() const { return m_bConnected; }

    // Identification
    void OnTimer(int id);
    void OnLinkData(std::uintptr_t wParam, std::intptr_t lParam);
    bool SendCommand(const std::string& text, int delayMs);
    void StartTimer(int id, int periodMs);
    void KillTimer(int id);
    bool IsTimerActive(int id) const;

    // Image table
    void BuildImageTable() { m_mapImageIds.BuildImageTable(CarriedImageConfig()); }
    void SetCpuImage(const std::string& pn, int id) { m_mapImageIds.SetCpuImage(pn, id); }
    void SetFpgaImage(const std::string& pn, int id) { m_mapImageIds.SetFpgaImage(pn, id); }
    void SetBootImage(const std::string& pn, int id) { m_mapImageIds.SetBootImage(pn, id); }
    int GetCpuImage(const std::string& pn) { return m_mapImageIds.GetCpuImage(pn); }
    int GetFpgaImage(const std::string& pn) { return m_mapImageIds.GetFpgaImage(pn); }
    int GetBootImage(const std::string& pn) { return m_mapImageIds.GetBootImage(pn); }
    const IImageStore& ImageStore() const { return *m_pImageStore; }
    void SetImageStore(const IImageStore* store) {
        m_pImageStore = store ? store : &m_resourceStore;
    }

    CUpdateView* GetActiveView() const { return m_pView; }
    // The running language, for the Language commands and their check marks.
    void SetLanguage(CLanguage* language);
    CSerialPort* Port() const { return m_pPort.get(); }
    QAction* Action(int id) const;

    // Runs every enable and check-mark handler; called wherever the flags change.
    void RefreshActions();

    // ILinkOwner: called from link threads, queue and return.
    void PostLinkMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override;
    void ReportLinkError(const std::string& text) override;
    void SetActiveRxRing(RingBuffer* ring) override { m_pRxRing = ring; }

    // IFrameHandler: frame types from the receiver.
    int OnIdentifyReply(const std::uint8_t* payload, unsigned length) override;
    int OnStartReply() override;
    int OnBlockReply(const std::uint8_t* payload, unsigned length) override;
    void OnStopPolling() override { KillTimer(TIMER_SS); }
    int OnCompleteReply() override;
    int OnVxReply() override;
    bool IsAwaitingCompletion() const override { return m_bAwaitCompletion; }
    void ClearAwaitCompletion() override { m_bAwaitCompletion = false; }

signals:
    // Every state change the enable rules depend on; also for headless runs.
    void connectionChanged(bool connected);
    void identificationEnded(bool recordFound);
    void linkError(const QString& text);
    void bytesReceived(int count);

protected:
    void closeEvent(QCloseEvent* event) override;
    void timerEvent(QTimerEvent*) override {}

private:
    std::uintptr_t OpenLink();
    bool ParseVersionRecord();
    void StartChosenTransfer();
    void WriteRaw(const std::uint8_t* bytes, int length);
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    QAction* AddCommand(int id, const QString& text, const QString& prompt,
                        void (CMainFrame::*handler)());

    // Enable and check-mark handlers, one per command; RefreshActions runs them all.
    void OnUpdateConnect(QAction* a) const { a->setEnabled(!m_bConnected); }
    void OnUpdateDisconnect(QAction* a) const { a->setEnabled(m_bConnected); }
    void OnUpdateLinkSetup(QAction* a) const { a->setEnabled(!m_bConnected); }
    void OnUpdateFirmwareUpdate(QAction* a) const {
        a->setEnabled(m_bConnected && !m_bIdentifying);
    }
    void OnUpdateReceiverInfo(QAction* a) const { a->setEnabled(m_bConnected); }
    void OnUpdateLanguageEnglish(QAction* a) const;
    void OnUpdateLanguageChinese(QAction* a) const;

    // Commands of the application object, reached through the frame's menus.
    void OnFirmwareUpdate();
    void OnReceiverInfo();
    void OnLanguageEnglish();
    void OnLanguageChinese();
    void OnAppAbout();
    void OnVisitWebSite();

public:
    // Receiver state; the view and the tests read it.
    CQuillmereNavFormat m_parser;
    std::unique_ptr<CSerialPort> m_pPort;
    CUsbUpdate m_usb;
    RingBuffer* m_pRxRing = nullptr;
    std::vector<ComPortInfo> m_arrPorts;
    std::vector<std::string> m_arrVersionText;
    std::uint8_t m_nBlockKind = 24;
    char m_strBootVersion[16] = {};
    char m_strCpuVersion[16] = {};
    char m_strFpgaVersion[16] = {};
    char m_strReceiverSn[16] = {};
    bool m_bAwaitCompletion = false;
    bool m_bIdentifying = false;
    bool m_bLoader115200 = false;
    bool m_bConnected = false;
    int m_nVersionTries = 0;
    CImageTable m_mapImageIds;
    QToolBar* m_wndToolBar = nullptr;

private:
    CUpdateView* m_pView = nullptr;
    QTimer m_timerVersion;
    QTimer m_timerSs;
    CResourceImageStore m_resourceStore;
    const IImageStore* m_pImageStore = &m_resourceStore;
    std::vector<QAction*> m_actions;
    CLanguage* m_pLanguage = nullptr;
    bool m_bAwaitingAt = false;  // "AT" sent, its answer not yet in
    int m_nLinkDataDepth = 0;
    std::atomic<bool> m_bNoticePending{false};  // a link notice is queued and not yet run
    bool m_bLinkDataDeferred = false;
};
