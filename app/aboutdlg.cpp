#include "aboutdlg.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>
#include <ctime>

#include "shellicons.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      m_strExeVersion(FormatExeVersion(std::time(nullptr))),
      m_strLibVersion(QStringLiteral("library version:2.23J")),
      m_lblIcon(new QLabel(this)),
      m_lblCompany(new QLabel(QString::fromUtf8(kMakerName), this)),
      m_lblExeVersion(new QLabel(this)),
      m_lblLibVersion(new QLabel(this)) {
    setWindowTitle(tr("About QuorvexUpdate"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    m_lblIcon->setPixmap(ProgramIcon().pixmap(32, 32));
    m_lblCompany->setAlignment(Qt::AlignCenter);
    m_lblExeVersion->setText(m_strExeVersion);
    m_lblLibVersion->setText(m_strLibVersion);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(24, 20, 24, 20);
    grid->setHorizontalSpacing(16);
    grid->addWidget(m_lblIcon, 0, 0, 3, 1, Qt::AlignTop);
    grid->addWidget(m_lblCompany, 0, 1);
    grid->addWidget(m_lblExeVersion, 1, 1);
    grid->addWidget(m_lblLibVersion, 2, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
}

QString CAboutDlg::FormatExeVersion(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char text[128];
    const std::size_t length = std::strftime(text, sizeof text, "EXE version:%Y-%m-%d %X", &local);
    return QString::fromLocal8Bit(text, qsizetype(length));
}

void OnVisitWebSite() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebSite)));
}

void OnAppAbout(QWidget* parent) {
    CAboutDlg dlg(parent);
    dlg.exec();
}
