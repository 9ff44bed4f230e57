// The frame's commands as the operator meets them: actions, menus, tool bar,
// enable rules, and the commands that open dialogs.
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

#include "aboutdlg.h"
#include "language.h"
#include "linksetupdlg.h"
#include "mainframe.h"
#include "portwatch.h"
#include "prompter.h"
#include "shellicons.h"
#include "updateview.h"

QAction* CMainFrame::AddCommand(CommandId id, const QString& text, const QString& prompt,
                                void (CMainFrame::*handler)()) {
    auto* action = new QAction(text, this);
    // A prompt "status\ntip" gives the status-bar text and the tool tip.
    const QStringList parts = prompt.split(QLatin1Char('\n'));
    action->setStatusTip(parts.value(0));
    action->setToolTip(parts.value(1, parts.value(0)));
    connect(action, &QAction::triggered, this, handler);
    addAction(action);  // shortcuts work whether or not a menu shows the action
    m_actions[id] = action;
    return action;
}

void CMainFrame::CreateActions() {
    AddCommand(ID_CONNECT, tr("Connect"), tr("Connect to the receiver\nConnect"),
               &CMainFrame::OnConnect)
        ->setShortcut(Qt::Key_Escape);
    // Beyond the receiver tool's accelerators: one key for each command an
    // operator gives again and again.
    AddCommand(ID_DISCONNECT, tr("Disconnect"), tr("Disconnect from the receiver\nDisconnect"),
               &CMainFrame::OnDisconnect)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    AddCommand(ID_FIRMWARE_UPDATE, tr("Update"), tr("Update\nUpdate"),
               &CMainFrame::OnFirmwareUpdate)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    AddCommand(ID_LINK_SETUP, tr("Link setup"), tr("Link setup"), &CMainFrame::OnLinkSetup);
    AddCommand(ID_FIRMWARE_PACKAGE, tr("Firmware Package..."),
               tr("Choose the firmware package to send\nFirmware Package"),
               &CMainFrame::OnFirmwarePackage);
    AddCommand(ID_STATION, tr("Station..."), tr("Update several receivers side by side\nStation"),
               &CMainFrame::OnStation)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    AddCommand(ID_HISTORY, tr("History..."), tr("Every update recorded, by receiver\nHistory"),
               &CMainFrame::OnHistory);
    AddCommand(ID_OPEN_LOG_FOLDER, tr("Open Log Folder"),
               tr("Open the folder of the update logs\nOpen Log Folder"),
               &CMainFrame::OnOpenLogFolder);
    AddCommand(ID_RECEIVER_INFO, tr("Receiver information"), tr("Receiver information"),
               &CMainFrame::OnReceiverInfo);
    // Each language by its own name, so that an operator who does not read
    // the running one still finds theirs.
    AddCommand(ID_LANGUAGE_ENGLISH, QStringLiteral("&English"), QStringLiteral("English"),
               &CMainFrame::OnLanguageEnglish)
        ->setCheckable(true);
    AddCommand(ID_LANGUAGE_CHINESE, QStringLiteral("中文(&C)"), QStringLiteral("中文"),
               &CMainFrame::OnLanguageChinese)
        ->setCheckable(true);
    AddCommand(ID_APP_ABOUT, tr("&About QuorvexUpdate..."), tr("About this application"),
               &CMainFrame::OnAppAbout);
    AddCommand(ID_VISIT_WEBSITE, tr("About Velquist"), tr("Help"), &CMainFrame::OnVisitWebSite);

    Action(ID_LINK_SETUP)->setIcon(LinkSetupIcon());
    Action(ID_CONNECT)->setIcon(ConnectIcon());
    Action(ID_DISCONNECT)->setIcon(DisconnectIcon());
    Action(ID_FIRMWARE_UPDATE)->setIcon(UpdateIcon());
    Action(ID_RECEIVER_INFO)->setIcon(ReceiverInfoIcon());
    Action(ID_APP_ABOUT)->setIcon(AboutIcon());
    CreateMenus();
    CreateToolBar();
}

void CMainFrame::CreateMenus() {
    QMenu* app = menuBar()->addMenu(tr("&App"));
    app->addAction(Action(ID_CONNECT));
    app->addAction(Action(ID_DISCONNECT));
    app->addAction(Action(ID_FIRMWARE_UPDATE));
    app->addSeparator();
    app->addAction(Action(ID_LINK_SETUP));
    app->addAction(Action(ID_FIRMWARE_PACKAGE));
    app->addAction(Action(ID_OPEN_LOG_FOLDER));
    app->addSeparator();
    app->addAction(Action(ID_STATION));
    app->addAction(Action(ID_HISTORY));
    QMenu* language = menuBar()->addMenu(tr("&Language"));
    language->addAction(Action(ID_LANGUAGE_ENGLISH));
    language->addAction(Action(ID_LANGUAGE_CHINESE));
    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(Action(ID_APP_ABOUT));
    help->addAction(Action(ID_VISIT_WEBSITE));
}

void CMainFrame::CreateToolBar() {
    m_wndToolBar = addToolBar(tr("Toolbar"));
    m_wndToolBar->setObjectName(QStringLiteral("mainToolBar"));
    m_wndToolBar->setIconSize(QSize(24, 24));
    m_wndToolBar->setMovable(true);
    m_wndToolBar->addAction(Action(ID_LINK_SETUP));
    m_wndToolBar->addAction(Action(ID_CONNECT));
    m_wndToolBar->addAction(Action(ID_DISCONNECT));
    m_wndToolBar->addSeparator();
    m_wndToolBar->addAction(Action(ID_FIRMWARE_UPDATE));
    m_wndToolBar->addSeparator();
    m_wndToolBar->addAction(Action(ID_RECEIVER_INFO));
    m_wndToolBar->addAction(Action(ID_APP_ABOUT));
}

void CMainFrame::RefreshActions() {
    if (!m_actions[ID_CONNECT]) return;  // before the actions are made
    OnUpdateConnect(Action(ID_CONNECT));
    OnUpdateDisconnect(Action(ID_DISCONNECT));
    OnUpdateLinkSetup(Action(ID_LINK_SETUP));
    OnUpdateFirmwarePackage(Action(ID_FIRMWARE_PACKAGE));
    OnUpdateFirmwareUpdate(Action(ID_FIRMWARE_UPDATE));
    OnUpdateReceiverInfo(Action(ID_RECEIVER_INFO));
    OnUpdateLanguageEnglish(Action(ID_LANGUAGE_ENGLISH));
    OnUpdateLanguageChinese(Action(ID_LANGUAGE_CHINESE));
}

void CMainFrame::OnUpdateLanguageEnglish(QAction* a) const {
    a->setChecked(m_pLanguage && m_pLanguage->IsEnglishChecked());
}

void CMainFrame::OnUpdateLanguageChinese(QAction* a) const {
    a->setChecked(m_pLanguage && m_pLanguage->IsChineseChecked());
}

void CMainFrame::SetLanguage(CLanguage* language) {
    m_pLanguage = language;
    RefreshActions();
}

void CMainFrame::OnLanguageEnglish() {
    if (m_pLanguage) m_pLanguage->OnLanguageEnglish(Prompter());
    RefreshActions();  // the mark stays on the running language
}

void CMainFrame::OnLanguageChinese() {
    if (m_pLanguage) m_pLanguage->OnLanguageChinese(Prompter());
    RefreshActions();
}

void CMainFrame::OnAppAbout() {
    ::OnAppAbout(this);
}

void CMainFrame::OnVisitWebSite() {
    ::OnVisitWebSite();
}

void CMainFrame::OnLinkSetup() {
    // Writes the choice into the frame on OK; it takes effect at the next Connect.
    CLinkSetupDlg dlg;
    dlg.Attach(&m_link, m_arrPorts);
    if (m_pPortWatch)
        connect(m_pPortWatch, &CPortWatch::portsChanged, &dlg, &CLinkSetupDlg::SetPorts);
    if (dlg.exec() == QDialog::Accepted) SaveLinkChoice(m_link);
}
