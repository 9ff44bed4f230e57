#include "datafolders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

std::vector<std::string> FirmwareSearchFolders() {
    std::vector<std::string> folders;
    // The user's own folder comes first, then XDG_DATA_DIRS in its order.
    for (QString data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        // Qt takes a relative XDG_DATA_HOME as it is; the rules say to ignore it.
        if (QDir::isRelativePath(data)) data = QDir::homePath() + QStringLiteral("/.local/share");
        folders.push_back(
            QFile::encodeName(data + QStringLiteral("/quorvexupdate/firmware")).toStdString());
    }
    return folders;
}

QString UserDataFolder() {
    QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    // Qt takes a relative XDG_DATA_HOME as it is; the rules say to ignore it.
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/quorvexupdate");
}

QString UserStateFolder() {
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return base + QStringLiteral("/quorvexupdate");
}

QStringList CatalogueDirectories() {
    const QString program = QCoreApplication::applicationDirPath();
    return {program, QDir::cleanPath(program + QStringLiteral("/../share/quorvexupdate"))};
}
