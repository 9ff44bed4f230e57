#pragma once

#include <memory>

#include "language.h"

class CMainFrame;

// The application object: the window's language, start-up and shut-down
// around the one main frame. Make it once the QApplication exists.
class CIsMonApp {
public:
    // Says what is wrong with the settings file, if anything; reads the
    // language and loads the Chinese catalogue unless English was chosen;
    // creates and shows the main frame, which connects at once.
    CIsMonApp();
    ~CIsMonApp();
    CIsMonApp(const CIsMonApp&) = delete;
    CIsMonApp& operator=(const CIsMonApp&) = delete;

private:
    std::unique_ptr<CLanguage> m_pLanguage;
    // Last, so it goes first: before the catalogue its texts came from.
    std::unique_ptr<CMainFrame> m_pMainFrame;
};
