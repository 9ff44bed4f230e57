// Interface language: which catalogue a start loads, the check marks, and the
// two Language commands.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include "app_shell_store.h"
#include "language.h"
#include "linksetupdlg.h"
#include "prompter.h"
#include "settings.h"

namespace {

const char kEnglishMessage[] = "This application must re-start, and enable your modify!";
const QString kChineseMessage = QStringLiteral("请重启应用程序，使设置生效!");

class Recorder : public IPrompter {
public:
    bool AskYesNo(const QString&, const QString&) override { return false; }
    void ShowError(const QString& caption, const QString& text) override {
        errors << caption + "|" + text;
    }
    void ShowInfo(const QString& caption, const QString& text) override {
        infos << caption + "|" + text;
    }
    QStringList errors, infos;
};

QString Translated(const char* context, const char* text) {
    return QCoreApplication::translate(context, text);
}

class LanguageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFile::copy(QStringLiteral(QUORVEX_TEST_CATALOGUE),
                                withCatalogue.path() + "/LmUpdateChs.qm"));
    }
    // The stored language; -100 while none was written.
    int StoredUi() {
        return store.Raw("Software/Quorvex Solution/Quorvex Update /Quorvex Solution/UI").isValid()
                   ? CSettings().Language(QLocale(QLocale::English))
                   : -100;
    }

    ShellStore store;
    QTemporaryDir withCatalogue, withoutCatalogue;
    Recorder prompter;
};

TEST_F(LanguageTest, FreshProfileOnAChineseDesktopStartsInChinese) {
    const int language = CSettings().Language(QLocale(QLocale::Chinese, QLocale::China));
    EXPECT_EQ(language, kLanguageChinese);
    {
        CLanguage lang(language);
        EXPECT_TRUE(lang.Load({withoutCatalogue.path(), withCatalogue.path()}));
        EXPECT_TRUE(lang.IsCatalogueLoaded());
        EXPECT_EQ(lang.CatalogueFile(), withCatalogue.path() + "/LmUpdateChs.qm");
        EXPECT_EQ(Translated("CMainFrame", "&Language"), QStringLiteral("语言(&L)"));
        EXPECT_EQ(Translated("UpdateEngine", "Connected receiver information:"),
                  QStringLiteral("已连接接收机信息："));
        EXPECT_TRUE(lang.IsChineseChecked());
        EXPECT_FALSE(lang.IsEnglishChecked());
        CLinkSetupDlg dlg;
        EXPECT_EQ(dlg.windowTitle(), QStringLiteral("连接设置"));
    }
    // Shut-down takes the catalogue away again.
    EXPECT_EQ(Translated("CMainFrame", "&Language"), "&Language");
}

TEST_F(LanguageTest, FreshProfileWithoutCatalogueRunsInEnglishWithChineseChecked) {
    CLanguage lang(CSettings().Language(QLocale(QLocale::Chinese, QLocale::China)));
    EXPECT_FALSE(lang.Load({withoutCatalogue.path()}));
    EXPECT_FALSE(lang.IsCatalogueLoaded());
    EXPECT_EQ(Translated("CMainFrame", "&Language"), "&Language");
    EXPECT_TRUE(lang.IsChineseChecked());
    EXPECT_FALSE(lang.IsEnglishChecked());
    EXPECT_TRUE(prompter.infos.isEmpty());
}

TEST_F(LanguageTest, EnglishNeverLoadsTheCatalogue) {
    ASSERT_TRUE(CSettings().SetLanguage(1));
    CLanguage lang(CSettings().Language());
    EXPECT_EQ(lang.Language(), kLanguageEnglish);
    EXPECT_FALSE(lang.Load({withCatalogue.path()}));
    EXPECT_EQ(Translated("CMainFrame", "&Language"), "&Language");
    EXPECT_TRUE(lang.IsEnglishChecked());
    EXPECT_FALSE(lang.IsChineseChecked());
}

TEST_F(LanguageTest, OtherStoredValueLoadsChineseAndChecksNeither) {
    ASSERT_TRUE(CSettings().SetLanguage(2));
    CLanguage lang(CSettings().Language());
    EXPECT_TRUE(lang.Load({withCatalogue.path()}));
    EXPECT_FALSE(lang.IsEnglishChecked());
    EXPECT_FALSE(lang.IsChineseChecked());

    lang.OnLanguageEnglish(prompter);
    EXPECT_EQ(StoredUi(), 1);
    lang.OnLanguageChinese(prompter);
    EXPECT_EQ(StoredUi(), 0);
    EXPECT_EQ(prompter.infos, QStringList({"Quorvex Update|" + QString(kEnglishMessage),
                                           "Quorvex Update|" + kChineseMessage}));
    EXPECT_EQ(lang.Language(), 2);
}

TEST_F(LanguageTest, ChoosingTheRunningLanguageDoesNothing) {
    CLanguage english(kLanguageEnglish), chinese(kLanguageChinese);
    english.OnLanguageEnglish(prompter);
    chinese.OnLanguageChinese(prompter);
    EXPECT_TRUE(prompter.infos.isEmpty());
    EXPECT_EQ(StoredUi(), -100);  // nothing written
}

TEST_F(LanguageTest, ChoosingTheOtherTwiceAsksTwiceAndChangesNothingNow) {
    CLanguage lang(kLanguageEnglish);
    lang.OnLanguageChinese(prompter);
    lang.OnLanguageChinese(prompter);
    EXPECT_EQ(prompter.infos, QStringList({"Quorvex Update|" + kChineseMessage,
                                           "Quorvex Update|" + kChineseMessage}));
    EXPECT_EQ(StoredUi(), 0);
    EXPECT_EQ(lang.Language(), kLanguageEnglish);
    EXPECT_TRUE(lang.IsEnglishChecked());
    EXPECT_FALSE(lang.IsChineseChecked());

    CLanguage chinese(kLanguageChinese);
    chinese.OnLanguageEnglish(prompter);
    chinese.OnLanguageEnglish(prompter);
    EXPECT_EQ(prompter.infos.mid(2), QStringList({"Quorvex Update|" + QString(kEnglishMessage),
                                                  "Quorvex Update|" + QString(kEnglishMessage)}));
    EXPECT_EQ(StoredUi(), 1);
    EXPECT_TRUE(chinese.IsChineseChecked());
}

TEST_F(LanguageTest, FixedMessagesStayInTheirOwnLanguageUnderTheCatalogue) {
    CLanguage lang(kLanguageChinese);
    ASSERT_TRUE(lang.Load({withCatalogue.path()}));
    lang.OnLanguageEnglish(prompter);
    EXPECT_EQ(prompter.infos, QStringList({"Quorvex Update|" + QString(kEnglishMessage)}));
}

TEST_F(LanguageTest, CatalogueLooksBesideTheProgramThenInItsInstallation) {
    // Relative to the program wherever it was installed, never a configured path.
    const QDir program(QCoreApplication::applicationDirPath());
    EXPECT_EQ(
        CatalogueDirectories(),
        (QStringList{program.path(), QDir::cleanPath(program.filePath("../share/quorvexupdate"))}));
}

TEST_F(LanguageTest, LinkSetupTextsAreTranslatedExactly) {
    CLanguage lang(kLanguageChinese);
    ASSERT_TRUE(lang.Load({withCatalogue.path()}));
    // The source texts carry their trailing blank; a mismatch would show English.
    EXPECT_NE(Translated("CLinkSetupDlg", "Change Baudrate to 115200 "),
              "Change Baudrate to 115200 ");
    EXPECT_NE(Translated("CLinkSetupDlg", "Manual Update (Default Baudrate 9600)"),
              "Manual Update (Default Baudrate 9600)");
    EXPECT_NE(Translated("CAboutDlg", "About QuorvexUpdate"), "About QuorvexUpdate");
}

}  // namespace
