#include "lmupdate.h"

#include <QApplication>

#include "appinfo.h"
#include "mainframe.h"
#include "prompter.h"
#include "settings.h"
#include "shellicons.h"

namespace {
CIsMonApp* g_app = nullptr;
}

CIsMonApp::CIsMonApp() {
    g_app = this;
}

CIsMonApp::~CIsMonApp() {
    m_pMainFrame.reset();
    m_pLanguage.reset();
    if (g_app == this) g_app = nullptr;
}

CIsMonApp* CIsMonApp::Current() {
    return g_app;
}

bool CIsMonApp::InitInstance() {
    QApplication::setWindowIcon(ProgramIcon());
    // Before any setting is read, and in English: which language to load is
    // one of the settings.
    const CSettings settings;
    if (const QString problem = SettingsFileProblem(settings.Check()); !problem.isEmpty())
        Prompter().ShowError(AppCaption(), problem);
    m_nLanguage = settings.Language();
    m_pLanguage = std::make_unique<CLanguage>(m_nLanguage);
    m_pLanguage->Load();  // a missing catalogue leaves English, silently
    FrameStartup startup;
    startup.savedPackage = true;
    m_pMainFrame = std::make_unique<CMainFrame>(std::move(startup));
    m_pMainFrame->SetLanguage(m_pLanguage.get());
    m_pMainFrame->OnCreate();
    m_pMainFrame->show();
    return true;
}

int CIsMonApp::ExitInstance(int code) {
    m_pMainFrame.reset();
    m_pLanguage.reset();  // removes the translator before the application goes
    return code;
}
