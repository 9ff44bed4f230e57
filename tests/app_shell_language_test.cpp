// Interface language: which catalogue a start loads, the check marks, the
// two Language commands, and no English left in the faces under the
// catalogues.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>

#include "aboutdlg.h"
#include "app_shell_store.h"
#include "firmwarepackagedlg.h"
#include "language.h"
#include "linkfactory.h"
#include "linksetupdlg.h"
#include "mainframe.h"
#include "prompter.h"
#include "receiversim.h"
#include "settings.h"
#include "stationwindow.h"
#include "support/event_wait.h"
#include "updateview.h"

namespace {

constexpr int kGuardMs = 60000;  // only against hangs

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

void AddActionTexts(const QList<QAction*>& actions, QStringList& texts) {
    for (const QAction* a : actions) {
        texts << a->text() << a->toolTip() << a->statusTip();
        if (a->menu()) AddActionTexts(a->menu()->actions(), texts);
    }
}

// Every text a widget and its visible children show: titles, labels,
// buttons, entries, menus, list and table items, headers and tool tips.
QStringList VisibleTexts(const QWidget* top) {
    QStringList texts{top->windowTitle()};
    QList<const QWidget*> widgets{top};
    for (const QWidget* w : top->findChildren<QWidget*>())
        if (w->isVisibleTo(top)) widgets << w;
    for (const QWidget* w : widgets) {
        texts << w->toolTip();
        AddActionTexts(w->actions(), texts);
        if (auto* l = qobject_cast<const QLabel*>(w)) texts << l->text();
        if (auto* b = qobject_cast<const QAbstractButton*>(w)) texts << b->text();
        if (auto* e = qobject_cast<const QLineEdit*>(w)) texts << e->text() << e->placeholderText();
        if (auto* c = qobject_cast<const QComboBox*>(w))
            for (int i = 0; i < c->count(); ++i) texts << c->itemText(i);
        if (auto* m = qobject_cast<const QMenuBar*>(w)) AddActionTexts(m->actions(), texts);
        if (auto* l = qobject_cast<const QListWidget*>(w))
            for (int i = 0; i < l->count(); ++i) texts << l->item(i)->text();
        if (auto* t = qobject_cast<const QTableWidget*>(w)) {
            for (int c = 0; c < t->columnCount(); ++c)
                if (t->horizontalHeaderItem(c)) texts << t->horizontalHeaderItem(c)->text();
            for (int r = 0; r < t->rowCount(); ++r)
                for (int c = 0; c < t->columnCount(); ++c)
                    if (const QTableWidgetItem* i = t->item(r, c))
                        texts << i->text() << i->toolTip();
        }
    }
    return texts;
}

// The texts with an English word left in them. Names stay as they are: the
// program's, the maker's, the board's, the ports', the settings group's, and
// "English" in the language menu.
QStringList EnglishIn(const QStringList& texts) {
    static const QRegularExpression kept(
        QRegularExpression::escape(QString::fromUtf8(kMakerName)) +
        QStringLiteral("|QuorvexUpdate|Quorvex Update|Velquist|\\bOEM\\b|&?English|\\bUSB\\b|"
                       "\\bCOM(\\d+|n)\\b|/dev/\\S*|\\bPorts\\b"));
    static const QRegularExpression word(QStringLiteral("[A-Za-z]{2,}"));
    QStringList english;
    for (const QString& text : texts)
        if (QString(text).remove(kept).contains(word)) english << text;
    return english;
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

TEST_F(LanguageTest, NoEnglishLeftInTheFacesUnderTheCatalogues) {
    qsim::ReceiverSim windowSim{qsim::SimOptions{}}, rowSim{qsim::SimOptions{}};
    ASSERT_TRUE(windowSim.Start() && rowSim.Start());
    store.WriteFile("[Ports]\nCOM1=\nCOM200=" + QByteArray::fromStdString(windowSim.DevicePath()) +
                    "\nCOM201=" + QByteArray::fromStdString(rowSim.DevicePath()) + "\nCOM250=\n");
    CLanguage lang(kLanguageChinese);
    ASSERT_TRUE(lang.Load({withCatalogue.path()}));
    ASSERT_TRUE(lang.IsQtCatalogueLoaded()) << "qt6-translations-l10n is installed";
    QStringList english;

    // The window with a receiver identified; the station with one too, and a
    // row that failed on a port that names no device.
    CLinkChoice link;
    ChoosePort(link, ComPortOf(200, CSettings().PortMap()));
    CMainFrame frame(FrameStartup{link, false, {}});
    frame.show();
    frame.OnCreate();
    const QString boot = Translated("UpdateEngine", "  boot version: %1").section('%', 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return frame.GetActiveView()->Lines().join('\n').contains(boot); },
                          kGuardMs));
    english << EnglishIn(VisibleTexts(&frame));
    frame.Action(ID_STATION)->trigger();
    CStationWindow& station = *frame.Station();
    ASSERT_TRUE(station.AddPort(QStringLiteral("COM201")) && station.AddPort("COM250"));
    ASSERT_TRUE(WaitUntil([&] { return !station.Row(0).State().versions.isEmpty(); }, kGuardMs));
    ASSERT_EQ(station.Row(1).Result(), StationResult::Failed);
    english << EnglishIn(VisibleTexts(&station));

    CLinkSetupDlg setup;
    CFirmwarePackageDlg package({}, QString());
    CAboutDlg about;
    for (QDialog* dialog : std::initializer_list<QDialog*>{&setup, &package, &about}) {
        dialog->show();
        english << EnglishIn(VisibleTexts(dialog));
    }

    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        english << EnglishIn(VisibleTexts(box));
        box->close();
    });
    CMessageBoxPrompter().AskYesNo(
        AppCaption(), Translated("CMainFrame",
                                 "The built-in image is a test image for the simulated receiver, "
                                 "not firmware for a real receiver. Send it?"));
    EXPECT_TRUE(english.isEmpty()) << english.join('\n').toStdString();
}

}  // namespace
