#include "mainframe.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QStatusBar>
#include <QUrl>

#include "datafolders.h"
#include "firmwarepackagedlg.h"
#include "historywindow.h"
#include "linkfactory.h"
#include "portnames.h"
#include "portwatch.h"
#include "prompter.h"
#include "settings.h"
#include "stationwindow.h"
#include "updateview.h"

namespace {

// The engine asks through the program's prompter at the moment it asks, so
// a test or dialog that installs another one is heard.
class CurrentPrompter : public IPrompter {
public:
    bool AskYesNo(const QString& caption, const QString& text) override {
        return Prompter().AskYesNo(caption, text);
    }
    bool AskYesNoDefaultNo(const QString& caption, const QString& text) override {
        return Prompter().AskYesNoDefaultNo(caption, text);
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
      m_history(CSettings().HistoryDatabase()),
      m_engine(startup.makeLink ? std::move(startup.makeLink) : RealLinks(), CarriedImageConfig(),
               m_resourceStore) {
    const CSettings settings;
    const PortOverrides portMap = settings.PortMap();
    if (startup.link)
        m_link = *startup.link;
    else
        m_link = SavedLinkChoice(settings);
    if (startup.probePorts) {
        m_pPortWatch = new CPortWatch(startup.portProbe, startup.portFolders, this);
        m_arrPorts = m_pPortWatch->Ports();
        connect(m_pPortWatch, &CPortWatch::portsChanged, this, &CMainFrame::OnPortsChanged);
    }
    m_engine.SetPrompter(m_pPrompter.get());
    // Until a package is chosen the built-in test image is loaded, and sent
    // only with the operator's consent.
    m_engine.SetPackage(BuiltinFirmwarePackage());

    SetTitle(QStringLiteral("QuorvexUpdate"));
    // The receiver tool's fixed size is the least it takes; the list grows.
    setMinimumSize(650, 500);
    resize(650, 500);
    m_pView = new CUpdateView(m_engine, this);
    setCentralWidget(m_pView);
    connect(&m_runLog, &CRunLog::unwritable, m_pView, &CUpdateView::AddLine);
    connect(&m_historyRecorder, &CHistoryRecorder::unwritable, &m_engine, &UpdateEngine::AddNote);
    CreateActions();
    connect(&m_engine, &UpdateEngine::stateChanged, this, &CMainFrame::RefreshActions);
    connect(&m_engine, &UpdateEngine::stateChanged, this, &CMainFrame::RefreshTitle);
    connect(m_pView, &CUpdateView::percentChanged, this, &CMainFrame::RefreshTitle);
    OnEvent<ev::Finished>(m_engine, this, [this](const ev::Finished& e) {
        m_bJustUpdated = e.outcome == UpdateOutcome::Completed;
    });
    OnEvent<ev::ListCleared>(m_engine, this, [this](const auto&) { m_bJustUpdated = false; });
    RefreshActions();
    m_pPackageLabel = new QLabel(this);
    statusBar()->addPermanentWidget(m_pPackageLabel);
    if (startup.savedPackage) {
        const QString folder = settings.FirmwarePackageFolder();
        if (!folder.isEmpty() && !UsePackageFolder(folder, false))
            m_strPackageNote =
                tr("The firmware package in %1 is no longer valid; choose one in App > "
                   "Firmware Package.")
                    .arg(folder);
    }
    ShowPackage();
}

CMainFrame::~CMainFrame() {
    // The link's thread stops and is joined before anything else of the
    // frame goes; no notice may reach a frame that is being torn down.
    m_engine.OnDisconnect();
    // Its rows record into the history, which goes before the frame's children.
    delete std::exchange(m_pStation, nullptr);
}

void CMainFrame::SetTitle(const QString& title) {
    m_strTitle = title;
    RefreshTitle();
}

void CMainFrame::RefreshTitle() {
    const bool sending = m_pView && m_engine.IsConnected() && m_engine.IsSending();
    setWindowTitle(sending ? QStringLiteral("%1% - %2").arg(m_pView->Percent()).arg(m_strTitle)
                           : m_strTitle);
}

void CMainFrame::OnCreate() {
    SetTitle(tr("Update For Z4 OEM Board"));
    OnConnect();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    const bool stationBusy = m_pStation && m_pStation->IsAnyRowUnderWay();
    if ((m_engine.IsRunUnderWay() || stationBusy) &&
        !Prompter().AskYesNoDefaultNo(
            QStringLiteral("QuorvexUpdate"),
            tr("A receiver is being updated. Quitting now interrupts its update: a receiver whose "
               "firmware is cut off in the middle may not start again until it is updated from "
               "its loader (Manual Update in Link Setup). Quit anyway?"))) {
        event->ignore();
        return;
    }
    m_engine.OnDisconnect();
    event->accept();
}

bool CMainFrame::MayDisconnect() {
    if (!m_engine.IsRunUnderWay()) return true;
    return Prompter().AskYesNoDefaultNo(
        QStringLiteral("QuorvexUpdate"),
        tr("The receiver on %1 is being updated. Disconnecting now interrupts the update: a "
           "receiver whose firmware is cut off in the middle may not start again until it is "
           "updated from its loader (Manual Update in Link Setup). Disconnect anyway?")
            .arg(m_engine.PortText()));
}

// ---------------------------------------------------------------- commands

void CMainFrame::OnConnect() {
    m_engine.SetLinkChoice(m_link);
    bool engineSaidWhy = false;
    const QMetaObject::Connection heard = OnEvent<ev::PortRefused>(
        m_engine, this, [&engineSaidWhy](const auto&) { engineSaidWhy = true; });
    const bool connected = m_engine.OnConnect();
    disconnect(heard);
    if (!connected) {
        SayNotConnected(engineSaidWhy);
        return;
    }
    if (!m_link.m_bUsb)
        SetTitle(tr("Update For Z4 OEM Board") + QString::asprintf(" - COM%d", m_link.m_nComPort));
    else if (m_engine.IsLinkReady())
        SetTitle(QStringLiteral("USB"));
}

void CMainFrame::SayNotConnected(bool engineSaidWhy) {
    if (!engineSaidWhy && !m_link.m_bUsb)
        m_pView->AddLine(PortOpenFailure(m_link.m_nComPort, m_link.m_strDevice));
    m_pView->AddLine(m_arrPorts.empty()
                         ? tr("No serial port was found. Plug in the adapter (Link setup lists it "
                              "as soon as it appears), or choose USB in App > Link setup.")
                         : tr("Choose a port in App > Link setup (it lists the ports present "
                              "now), then Connect."));
}

void CMainFrame::OnPortsChanged(const std::vector<ComPort>& ports) {
    m_arrPorts = ports;
    if (m_pStation) m_pStation->SetPorts(ports);
}

void CMainFrame::OnDisconnect() {
    if (!MayDisconnect()) return;
    // The title stays as the last link left it.
    m_engine.OnDisconnect();
}

void CMainFrame::OnFirmwareUpdate() {
    // The built-in image is no firmware: it goes to a receiver only when the
    // operator chose it or agrees now. A No is asked again at the next Update;
    // a Yes holds for the rest of the run.
    if (!m_bPackageChosen && !m_bTestImageConsent) {
        if (!Prompter().AskYesNoDefaultNo(
                QStringLiteral("QuorvexUpdate"),
                tr("The built-in image is a test image for the simulated receiver, not firmware "
                   "for a real receiver. Send it?")))
            return;
        m_bTestImageConsent = true;
    }
    // A second click on a receiver that has just confirmed its update would
    // flash it again for nothing.
    if (m_bJustUpdated &&
        !Prompter().AskYesNoDefaultNo(QStringLiteral("QuorvexUpdate"),
                                      tr("This receiver has just been updated. Update it again?")))
        return;
    // A receiver that runs the package's versions already gains nothing but
    // the risk of a flash.
    if (!m_bJustUpdated && m_engine.IsReceiverUpToDate() &&
        !Prompter().AskYesNoDefaultNo(
            QStringLiteral("QuorvexUpdate"),
            tr("The receiver already runs the firmware of this package (%1). Update it anyway?")
                .arg(PackageVersionsText())))
        return;
    m_bJustUpdated = false;
    m_engine.OnFirmwareUpdate();
}

QString CMainFrame::PackageVersionsText() const {
    const auto versions = m_engine.PackageVersions();
    return versions ? VersionsText(*versions) : QString();
}

// -------------------------------------------------------- firmware package

void CMainFrame::UsePackage(FirmwarePackage package) {
    m_engine.SetPackage(std::move(package));
    m_bPackageChosen = true;
    m_strPackageNote.clear();
    ShowPackage();
    m_pView->ShowVersionStep();
    if (m_pStation) m_pStation->SetPackage(*m_engine.Package());
}

void CMainFrame::OnStation() {
    if (!m_pStation) {
        StationSetup setup{m_arrPorts, {}, {}};
        setup.history = &m_history;
        m_pStation = new CStationWindow(std::move(setup), this);
    }
    // The station sends what this window would send without asking: a
    // chosen package, or the test image the operator agreed to.
    const FirmwarePackage* p = m_engine.Package();
    m_pStation->SetPackage(p && (m_bPackageChosen || m_bTestImageConsent)
                               ? std::optional<FirmwarePackage>(*p)
                               : std::nullopt);
    m_pStation->show();
    m_pStation->raise();
    m_pStation->activateWindow();
}

bool CMainFrame::UsePackageFolder(const QString& folder, bool report) {
    std::vector<PackageProblem> problems;
    std::optional<FirmwarePackage> package = LoadFirmwarePackage(folder.toStdString(), &problems);
    QStringList lines;
    for (const std::string& line : DescribeProblems(problems))
        lines << QString::fromStdString(line);
    if (!package) {
        if (report)
            Prompter().ShowError(tr("Firmware Package"),
                                 tr("The package in %1 cannot be used:\n\n%2")
                                     .arg(folder, lines.join(QLatin1Char('\n'))));
        return false;
    }
    if (report) {
        QString text =
            tr("Using %1 (%2): %n image(s).", nullptr, static_cast<int>(package->images.size()))
                .arg(QString::fromStdString(package->name),
                     QString::fromStdString(package->folder));
        if (!lines.isEmpty()) text += QStringLiteral("\n\n") + lines.join(QLatin1Char('\n'));
        Prompter().ShowInfo(tr("Firmware Package"), text);
    }
    CSettings().SetFirmwarePackageFolder(QString::fromStdString(package->folder));
    UsePackage(std::move(*package));
    return true;
}

void CMainFrame::OnFirmwarePackage() {
    const FirmwarePackage* current = m_engine.Package();
    const QString folder = m_bPackageChosen && current && !current->builtin
                               ? QString::fromStdString(current->folder)
                               : QString();
    CFirmwarePackageDlg dlg(FindPackages(FirmwareSearchFolders()), folder, this);
    if (dlg.exec() != QDialog::Accepted) return;
    if (dlg.Chosen().isEmpty()) {
        // Chosen by name for this run; never remembered, so a later run
        // cannot send the test image to a real receiver unasked.
        UsePackage(BuiltinFirmwarePackage());
        return;
    }
    UsePackageFolder(dlg.Chosen(), true);
}

QString CMainFrame::PackageText() const {
    const FirmwarePackage* p = m_engine.Package();
    if (!m_bPackageChosen || !p) return tr("Firmware: none chosen");
    if (p->builtin) return tr("Firmware: built-in test image");
    const QString versions = PackageVersionsText();
    if (!versions.isEmpty())
        return tr("Firmware: %1 (%2)").arg(QString::fromStdString(p->name), versions);
    return tr("Firmware: %1").arg(QString::fromStdString(p->name));
}

void CMainFrame::ShowPackage() {
    const FirmwarePackage* p = m_engine.Package();
    m_pPackageLabel->setText(PackageText());
    m_pPackageLabel->setToolTip(m_strPackageNote.isEmpty() && p ? QString::fromStdString(p->folder)
                                                                : m_strPackageNote);
}

void CMainFrame::OnOpenLogFolder() {
    const QString folder = m_runLog.Folder();
    QDir().mkpath(folder);
    // A desktop without a file manager answers nothing: the path, to copy.
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        Prompter().ShowInfo(tr("Open Log Folder"),
                            tr("No file manager answered. The update logs are in:\n\n%1")
                                .arg(QDir::toNativeSeparators(folder)));
}

void CMainFrame::OnHistory() {
    if (!m_pHistoryWindow) m_pHistoryWindow = new CHistoryWindow(m_history, this);
    m_pHistoryWindow->Refresh();
    m_pHistoryWindow->show();
    m_pHistoryWindow->raise();
    m_pHistoryWindow->activateWindow();
}

void CMainFrame::OnReceiverInfo() {
    m_engine.OnReceiverInfo();
}
