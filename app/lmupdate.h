#pragma once

#include <memory>

#include "language.h"

class CMainFrame;
class QApplication;

// The application object: language, start-up and shut-down around the one
// main frame.
class CIsMonApp {
public:
    CIsMonApp();
    ~CIsMonApp();

    // Reads the language, loads the Chinese catalogue unless English was
    // chosen, creates and shows the main frame, which connects at once.
    bool InitInstance();
    // Unloads the catalogue; returns the exit code.
    int ExitInstance(int code);

    CLanguage& Language() { return *m_pLanguage; }
    CMainFrame* MainFrame() const { return m_pMainFrame.get(); }

    // The application object of this run (the one the menu commands reach).
    static CIsMonApp* Current();

    int m_nLanguage = 1;

private:
    std::unique_ptr<CLanguage> m_pLanguage;
    std::unique_ptr<CMainFrame> m_pMainFrame;
};
