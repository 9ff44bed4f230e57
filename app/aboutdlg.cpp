#include "aboutdlg.h"

#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QUrl>

#include "appinfo.h"
#include "shellicons.h"

CAboutDlg::CAboutDlg(QWidget* parent)
    : QDialog(parent),
      // The receiver tool showed the moment the box was opened under this
      // label; what an operator looks for here is the version and its build.
      m_strExeVersion(tr("EXE version:%1, built %2")
                          .arg(QLatin1String(kProgramVersion), QLatin1String(kBuildDate))),
      m_strLibVersion(tr("library version:2.23J")),
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

void OnVisitWebSite() {
    QDesktopServices::openUrl(QUrl(QString::fromLatin1(kMakerWebSite)));
}

void OnAppAbout(QWidget* parent) {
    CAboutDlg dlg(parent);
    dlg.exec();
}
