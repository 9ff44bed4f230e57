// QuorvexUpdate: the window, or a headless update with --headless (as
// quorvexupdate-cli runs it).
#include <QApplication>
#include <cstring>

#include "appinfo.h"
#include "headless.h"
#include "lmupdate.h"
#include "windowstart.h"

int main(int argc, char** argv) {
    // Before any application object: these must work without a display and
    // must not open the window, which connects at start.
    if (PrintHelpOrVersion(argc, argv, HeadlessProgram::kWindow)) return 0;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--headless") == 0)
            return RunHeadless(argc, argv, HeadlessProgram::kWindow);
    if (const int status = CheckWindowStart(argc, argv); status != 0) return status;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(kProductName));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kProgramVersion));
    const CIsMonApp application;  // the window, until it closes
    return app.exec();
}
