#include "lmupdate.h"

#include <QApplication>

#include "mainframe.h"
#include "prompter.h"
#include "settings.h"
#include "shellicons.h"

CIsMonApp::CIsMonApp() {
    QApplication::setWindowIcon(ProgramIcon());
    // Before any setting is used, and in English: which language to load is
    // one of the settings.
    const CSettings settings;
    if (const QString problem = SettingsFileProblem(settings.Check()); !problem.isEmpty())
        Prompter().ShowError(AppCaption(), problem);
    m_pLanguage = std::make_unique<CLanguage>(settings.Language());
    m_pLanguage->Load();  // a missing catalogue leaves English, silently
    FrameStartup startup;
    startup.savedPackage = true;
    m_pMainFrame = std::make_unique<CMainFrame>(std::move(startup));
    m_pMainFrame->SetLanguage(m_pLanguage.get());
    m_pMainFrame->OnCreate();
    m_pMainFrame->show();
}

CIsMonApp::~CIsMonApp() = default;
