#pragma once

#include <QDialog>
#include <QString>

class QLabel;

// The maker, as the About box and the Help menu name it. The address is a
// placeholder on a reserved domain until the maker's real one is known.
inline constexpr char kMakerName[] = "Velquist Navigation Co., Ltd.";
inline constexpr char kMakerWebSite[] = "https://www.velquist.example/";

// "About QuorvexUpdate": the program icon, the maker, the program's version
// and build date, and the library version. No buttons; Esc or the close box
// ends it.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    QString m_strExeVersion;  // "EXE version:8.6.3.1, built 2026-05-01"
    QString m_strLibVersion;  // "library version:2.23J"

    QLabel* ExeVersionLabel() const { return m_lblExeVersion; }
    QLabel* LibVersionLabel() const { return m_lblLibVersion; }
    QLabel* CompanyLabel() const { return m_lblCompany; }
    QLabel* IconLabel() const { return m_lblIcon; }

private:
    QLabel* m_lblIcon;
    QLabel* m_lblCompany;
    QLabel* m_lblExeVersion;
    QLabel* m_lblLibVersion;
};

// Help, "About Velquist": opens the maker's web site in the user's browser.
// The result is not examined.
void OnVisitWebSite();

// Help, "&About QuorvexUpdate...": the About box, modally.
void OnAppAbout(QWidget* parent = nullptr);
