#pragma once

#include <QAction>
#include <QMainWindow>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "firmware.h"
#include "history.h"
#include "historyrecorder.h"
#include "linkchoice.h"
#include "linkfactory.h"
#include "runlog.h"
#include "sleepinhibitor.h"
#include "updateengine.h"

class CHistoryWindow;
class CLanguage;
class CPortWatch;
class CStationWindow;
class CUpdateView;
class QLabel;
class QToolBar;

// The window's commands, by the names the receiver tool has always given
// them; Action() finds each one's action.
enum CommandId : int {
    ID_CONNECT,
    ID_DISCONNECT,
    ID_LINK_SETUP,
    ID_FIRMWARE_UPDATE,
    ID_LANGUAGE_ENGLISH,
    ID_LANGUAGE_CHINESE,
    ID_RECEIVER_INFO,
    ID_FIRMWARE_PACKAGE,
    ID_STATION,
    ID_OPEN_LOG_FOLDER,
    ID_HISTORY,
    ID_APP_ABOUT,
    ID_VISIT_WEBSITE,
    kCommandCount
};

// How the frame starts. A run that is told its link (a test) opens that link
// and no other: no saved port is read.
struct FrameStartup {
    std::optional<CLinkChoice> link;  // its port as ChoosePort gives it
    bool probePorts = true;           // list the serial ports for Link Setup
    // Where the engine's links come from; empty: the real serial port or USB.
    UpdateEngine::LinkFactory makeLink;
    // Use the firmware package remembered in the settings file (a run told
    // its link is told its firmware too).
    bool savedPackage = false;
    // Where ports come and go (empty: PortFolders), and which are probed.
    QStringList portFolders = {};
    PortProbe portProbe = PortProbe::MappedAndDefaults;
};

// The window: menus, tool bar, title and the enable rules, over one update
// engine that talks to the receiver. Link Setup writes its choice into the
// frame's link choice; Connect hands it to the engine.
class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    explicit CMainFrame(FrameStartup startup = {}, QWidget* parent = nullptr);
    ~CMainFrame() override;

    // Window creation: title, and the connect at start.
    void OnCreate();

    // Commands
    void OnConnect();
    void OnDisconnect();
    void OnLinkSetup();
    void OnFirmwarePackage();
    // Opens the station window (made at the first call) with this window's package.
    void OnStation();
    CStationWindow* Station() const { return m_pStation; }
    // Opens the history window (made at the first call) and reads the runs again.
    void OnHistory();
    CHistoryWindow* HistoryWindow() const { return m_pHistoryWindow; }
    void OnOpenLogFolder();
    bool IsConnected() const { return m_engine.IsConnected(); }

    // The images the next update sends, chosen by the operator (or a test).
    void UsePackage(FirmwarePackage package);
    // Validates the package in folder and, when it is usable, uses and
    // remembers it. The result goes to the prompter when report is set.
    bool UsePackageFolder(const QString& folder, bool report);
    bool IsPackageChosen() const { return m_bPackageChosen; }
    QString PackageText() const;
    // "CPU 5.200, FPGA 2.300": what the package states it brings; empty when nothing.
    QString PackageVersionsText() const;

    const CLinkChoice& LinkChoice() const { return m_link; }
    UpdateEngine& Engine() { return m_engine; }
    const UpdateEngine& Engine() const { return m_engine; }
    CUpdateView* GetActiveView() const { return m_pView; }
    // The running language, for the Language commands and their check marks.
    void SetLanguage(CLanguage* language);
    QAction* Action(CommandId id) const { return m_actions[id]; }

    // Runs every enable and check-mark handler; called whenever the engine's
    // state changes.
    void RefreshActions();

    std::vector<ComPort> m_arrPorts;  // the serial ports present now, for Link Setup
    QToolBar* m_wndToolBar = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    QAction* AddCommand(CommandId id, const QString& text, const QString& prompt,
                        void (CMainFrame::*handler)());

    // Enable and check-mark handlers, one per command; RefreshActions runs them all.
    void OnUpdateConnect(QAction* a) const { a->setEnabled(!IsConnected()); }
    void OnUpdateDisconnect(QAction* a) const { a->setEnabled(IsConnected()); }
    void OnUpdateLinkSetup(QAction* a) const { a->setEnabled(!IsConnected()); }
    // Not while an update runs: its images are the ones it started with.
    void OnUpdateFirmwarePackage(QAction* a) const {
        a->setEnabled(!m_engine.IsPolling() && !m_engine.IsSending() &&
                      !m_engine.IsAwaitingCompletion());
    }
    void OnUpdateFirmwareUpdate(QAction* a) const {
        a->setEnabled(IsConnected() && !m_engine.IsIdentifying());
    }
    void OnUpdateReceiverInfo(QAction* a) const { a->setEnabled(IsConnected()); }
    void OnUpdateLanguageEnglish(QAction* a) const;
    void OnUpdateLanguageChinese(QAction* a) const;

    // Commands of the view and the application object, reached through the
    // frame's menus and tool bar.
    void OnFirmwareUpdate();
    void OnReceiverInfo();
    void OnLanguageEnglish();
    void OnLanguageChinese();
    void OnAppAbout();
    void OnVisitWebSite();

    void ShowPackage();
    void OnPortsChanged(const std::vector<ComPort>& ports);
    // What Connect says when no port opened: why, and what to do.
    void SayNotConnected(bool engineSaidWhy);
    // True when nothing is being flashed, or the operator agrees to cut it off.
    bool MayDisconnect();
    // The window title: the link's, with the percent while blocks go out.
    void SetTitle(const QString& title);
    void RefreshTitle();

    CLinkChoice m_link;  // the port, USB or not, and the restart options
    CResourceImageStore m_resourceStore;
    std::unique_ptr<IPrompter> m_pPrompter;  // the program's message boxes
    CHistory m_history;                      // the window's and the station's
    UpdateEngine m_engine;
    CRunLog m_runLog{m_engine};
    CHistoryRecorder m_historyRecorder{m_engine, m_history, &m_runLog};
    CSleepInhibitor m_inhibitor{m_engine};
    CUpdateView* m_pView = nullptr;
    std::array<QAction*, kCommandCount> m_actions{};
    CLanguage* m_pLanguage = nullptr;
    QLabel* m_pPackageLabel = nullptr;
    QString m_strTitle;
    QString m_strPackageNote;          // why no package is in use, when one was remembered
    bool m_bPackageChosen = false;     // a package (or the built-in image) was chosen
    bool m_bTestImageConsent = false;  // the operator agreed to send the test image
    bool m_bJustUpdated = false;       // this connection's receiver confirmed an update

    CStationWindow* m_pStation = nullptr;  // a child window, made when first opened
    CPortWatch* m_pPortWatch = nullptr;    // none when the ports are not probed
    CHistoryWindow* m_pHistoryWindow = nullptr;
};
