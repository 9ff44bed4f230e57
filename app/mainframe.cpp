#include "mainframe.h"

#include <QCloseEvent>

#include "linkfactory.h"
#include "prompter.h"
#include "settings.h"
#include "updateview.h"

namespace {

// The engine asks through the program's prompter at the moment it asks, so
// a test or dialog that installs another one is heard.
class CurrentPrompter : public IPrompter {
public:
    bool AskYesNo(const QString& caption, const QString& text) override {
        return Prompter().AskYesNo(caption, text);
    }
    void ShowError(const QString& caption, const QString& text) override {
        Prompter().ShowError(caption, text);
    }
    void ShowInfo(const QString& caption, const QString& text) override {
        Prompter().ShowInfo(caption, text);
    }
};

}  // namespace

CMainFrame::CMainFrame(FrameStartup startup, QWidget* parent)
    : QMainWindow(parent),
      m_pPrompter(std::make_unique<CurrentPrompter>()),
      m_engine(startup.makeLink ? std::move(startup.makeLink) : RealLinks(), CarriedImageConfig(),
               m_resourceStore) {
    m_nComPort = 1;
    if (startup.link)
        static_cast<CLinkChoice&>(*this) = *startup.link;
    else
        m_nComPort = ParsePortOfMonitor(GetPortOfMonitor());
    if (startup.probePorts) m_arrPorts = ProbeSerialPorts();
    m_engine.SetPrompter(m_pPrompter.get());

    setWindowTitle(QStringLiteral("QuorvexUpdate"));
    setFixedSize(650, 500);
    m_pView = new CUpdateView(m_engine, this);
    setCentralWidget(m_pView);
    CreateActions();
    connect(&m_engine, &UpdateEngine::stateChanged, this, &CMainFrame::RefreshActions);
    RefreshActions();
}

CMainFrame::~CMainFrame() {
    // The link's thread stops and is joined before anything else of the
    // frame goes; no notice may reach a frame that is being torn down.
    m_engine.OnDisconnect();
}

void CMainFrame::OnCreate() {
    setWindowTitle(tr("Update For Z4 OEM Board"));
    OnConnect();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    m_engine.OnDisconnect();
    event->accept();
}

// ---------------------------------------------------------------- commands

void CMainFrame::OnConnect() {
    m_engine.SetLinkChoice(*this);
    if (!m_engine.OnConnect()) return;
    if (!m_bUsb)
        setWindowTitle(tr("Update For Z4 OEM Board") + QString::asprintf(" - COM%d", m_nComPort));
    else if (m_engine.IsLinkReady())
        setWindowTitle(QStringLiteral("USB"));
}

void CMainFrame::OnDisconnect() {
    // The title stays as the last link left it.
    m_engine.OnDisconnect();
}

void CMainFrame::OnFirmwareUpdate() {
    m_engine.OnFirmwareUpdate();
}

void CMainFrame::OnReceiverInfo() {
    m_engine.OnReceiverInfo();
}
