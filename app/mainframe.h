#pragma once

#include <QAction>
#include <QMainWindow>
#include <memory>
#include <optional>
#include <vector>

#include "firmware.h"
#include "linkchoice.h"
#include "linkfactory.h"
#include "updateengine.h"

class CLanguage;
class CUpdateView;
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

// How the frame starts. A run that is told its link (a test) opens that link
// and no other: no saved port is read.
struct FrameStartup {
    std::optional<CLinkChoice> link;
    bool probePorts = true;  // list the serial ports for Link Setup
    // Where the engine's links come from; empty: the real serial port or USB.
    UpdateEngine::LinkFactory makeLink;
};

// The window: menus, tool bar, title and the enable rules, over one update
// engine that talks to the receiver. Link Setup writes its choice into the
// frame (CLinkChoice); Connect hands it to the engine.
class CMainFrame : public QMainWindow, public CLinkChoice {
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
    bool IsConnected() const { return m_engine.IsConnected(); }

    UpdateEngine& Engine() { return m_engine; }
    const UpdateEngine& Engine() const { return m_engine; }
    CUpdateView* GetActiveView() const { return m_pView; }
    // The running language, for the Language commands and their check marks.
    void SetLanguage(CLanguage* language);
    QAction* Action(int id) const;

    // Runs every enable and check-mark handler; called whenever the engine's
    // state changes.
    void RefreshActions();

    std::vector<SerialPortEntry> m_arrPorts;
    QToolBar* m_wndToolBar = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateActions();
    void CreateMenus();
    void CreateToolBar();
    QAction* AddCommand(int id, const QString& text, const QString& prompt,
                        void (CMainFrame::*handler)());

    // Enable and check-mark handlers, one per command; RefreshActions runs them all.
    void OnUpdateConnect(QAction* a) const { a->setEnabled(!IsConnected()); }
    void OnUpdateDisconnect(QAction* a) const { a->setEnabled(IsConnected()); }
    void OnUpdateLinkSetup(QAction* a) const { a->setEnabled(!IsConnected()); }
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

    CResourceImageStore m_resourceStore;
    std::unique_ptr<IPrompter> m_pPrompter;  // the program's message boxes
    UpdateEngine m_engine;
    CUpdateView* m_pView = nullptr;
    std::vector<QAction*> m_actions;
    CLanguage* m_pLanguage = nullptr;
};
