#pragma once

// Firmware package folders made by a test, laid out as an operator would
// from the maker's files.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <cstdint>
#include <map>
#include <vector>

inline QByteArray Data(const std::vector<std::uint8_t>& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

inline void WriteFile(const QString& path, const QByteArray& bytes) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).path())) << path.toStdString();
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// images.conf (the prefixes, then the cpu rows), the images by type and id,
// and SHA256SUMS as sha256sum writes it.
inline void WritePackage(const QString& folder, const QByteArray& prefixes, const QString& cpuRows,
                         const std::map<QString, std::vector<std::uint8_t>>& images) {
    WriteFile(folder + "/images.conf", prefixes + cpuRows.toUtf8());
    QByteArray sums;
    for (const auto& [path, bytes] : images) {
        WriteFile(folder + '/' + path, Data(bytes));
        sums += QCryptographicHash::hash(Data(bytes), QCryptographicHash::Sha256).toHex() + "  " +
                path.toUtf8() + '\n';
    }
    WriteFile(folder + "/SHA256SUMS", sums);
}
