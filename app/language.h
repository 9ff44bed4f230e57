#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "datafolders.h"

class IPrompter;
class QTranslator;

inline constexpr int kLanguageChinese = 0;
inline constexpr int kLanguageEnglish = 1;

// File name of the Chinese catalogue.
inline constexpr char kChineseCatalogue[] = "LmUpdateChs.qm";

// The application title as captions show it (without the title's trailing
// blank, which only matters in the settings key path).
QString AppCaption();

// The interface language of this run. Chosen once at start-up; the commands
// only store a new choice for the next start.
class CLanguage {
public:
    explicit CLanguage(int nLanguage);
    ~CLanguage();  // removes and deletes the catalogue
    CLanguage(const CLanguage&) = delete;
    CLanguage& operator=(const CLanguage&) = delete;

    // Installs the Chinese catalogue unless the language is English, and
    // with it Qt's own (standard buttons, the folder chooser) from Qt's
    // translations folder. A missing or unreadable catalogue leaves the
    // English texts, silently.
    // Call once, after the QApplication exists and before any window.
    bool Load(const QStringList& directories = CatalogueDirectories());
    bool IsCatalogueLoaded() const { return m_pTranslator != nullptr; }
    QString CatalogueFile() const;
    bool IsQtCatalogueLoaded() const { return m_pQtTranslator != nullptr; }

    int Language() const { return m_nLanguage; }

    // Commands of the "&Language" menu: store the choice and tell the
    // operator to restart; nothing when the choice is the running language.
    void OnLanguageEnglish(IPrompter& prompter);
    void OnLanguageChinese(IPrompter& prompter);
    // Check marks of the two menu items; a stored value that is neither 0
    // nor 1 checks neither.
    bool IsEnglishChecked() const { return m_nLanguage == kLanguageEnglish; }
    bool IsChineseChecked() const { return m_nLanguage == kLanguageChinese; }

private:
    const int m_nLanguage;
    std::unique_ptr<QTranslator> m_pTranslator;
    std::unique_ptr<QTranslator> m_pQtTranslator;
};
