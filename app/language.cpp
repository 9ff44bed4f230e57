#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "appinfo.h"
#include "prompter.h"
#include "settings.h"

QString AppCaption() {
    return QString::fromLatin1(kAppTitle).trimmed();
}

CLanguage::CLanguage(int nLanguage) : m_nLanguage(nLanguage) {}

CLanguage::~CLanguage() {
    if (m_pTranslator) QCoreApplication::removeTranslator(m_pTranslator.get());
    if (m_pQtTranslator) QCoreApplication::removeTranslator(m_pQtTranslator.get());
}

bool CLanguage::Load(const QStringList& directories) {
    if (m_nLanguage == kLanguageEnglish || m_pTranslator) return IsCatalogueLoaded();
    for (const QString& dir : directories) {
        auto translator = std::make_unique<QTranslator>();
        if (translator->load(QString::fromLatin1(kChineseCatalogue), dir) &&
            QCoreApplication::installTranslator(translator.get())) {
            m_pTranslator = std::move(translator);
            // Qt's texts follow ours: a run without our Chinese stays English.
            auto qt = std::make_unique<QTranslator>();
            if (qt->load(QStringLiteral("qtbase_zh_CN"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
                QCoreApplication::installTranslator(qt.get()))
                m_pQtTranslator = std::move(qt);
            return true;
        }
    }
    return false;
}

QString CLanguage::CatalogueFile() const {
    return m_pTranslator ? m_pTranslator->filePath() : QString();
}

void CLanguage::OnLanguageEnglish(IPrompter& prompter) {
    if (m_nLanguage == kLanguageEnglish) return;
    CSettings().SetLanguage(kLanguageEnglish);
    prompter.ShowInfo(AppCaption(),
                      QStringLiteral("This application must re-start, and enable your modify!"));
}

void CLanguage::OnLanguageChinese(IPrompter& prompter) {
    if (m_nLanguage == kLanguageChinese) return;
    CSettings().SetLanguage(kLanguageChinese);
    // Fixed in Chinese whatever the running language.
    prompter.ShowInfo(AppCaption(), QStringLiteral("请重启应用程序，使设置生效!"));
}
