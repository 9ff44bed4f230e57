#include "firmware.h"

#include <QByteArrayView>
#include <QCryptographicHash>
#include <QFile>
#include <QResource>
#include <QString>
#include <memory>
#include <set>
#include <string>

void InitFirmwareResources() {
    // Registration happens at static initialisation; this only anchors the
    // resource object file so that a static link keeps it.
}

const ImageConfig& CarriedImageConfig() {
    static const ImageConfig config = [] {
        InitFirmwareResources();
        ImageConfig c;
        QFile f(QString::fromLatin1(kFirmwareConfigPath));
        std::string error;
        if (!f.open(QIODevice::ReadOnly) ||
            !ParseImageConfig(f.readAll().toStdString(), &c, &error))
            qFatal("carried firmware configuration is unusable: %s", error.c_str());
        return c;
    }();
    return config;
}

ImageBytes CResourceImageStore::Find(std::string_view type, std::uint16_t id) const {
    InitFirmwareResources();
    const QString path = QStringLiteral("%1/%2/%3")
                             .arg(QLatin1String(kFirmwareRoot),
                                  QLatin1String(type.data(), static_cast<qsizetype>(type.size())))
                             .arg(id);
    QResource resource(path);
    // Images are stored uncompressed, so the bytes are the resource's own and
    // live as long as the program.
    if (!resource.isValid() || resource.data() == nullptr ||
        resource.compressionAlgorithm() != QResource::NoCompression)
        return {};
    return {resource.data(), static_cast<std::size_t>(resource.size())};
}

FirmwarePackage BuiltinFirmwarePackage() {
    // Hashing the carried image takes a few milliseconds: once is enough.
    static const FirmwarePackage package = [] {
        FirmwarePackage p;
        p.name = "built-in test image";
        p.builtin = true;
        p.config = CarriedImageConfig();
        p.store = std::make_shared<const CResourceImageStore>();
        const std::pair<const char*, const decltype(p.config.cpuRows)*> rows[] = {
            {"CPU", &p.config.cpuRows}, {"FPGA", &p.config.fpgaRows}, {"BOOT", &p.config.bootRows}};
        for (const auto& [type, typeRows] : rows) {
            std::set<int> ids;
            for (const auto& row : *typeRows) ids.insert(row.second);
            for (int id : ids) {
                const ImageBytes bytes = p.store->Find(type, static_cast<std::uint16_t>(id));
                if (bytes.empty()) continue;  // rows name images only a real package has
                // Named for the operator; the resource path is the program's own business.
                p.images.push_back(
                    {type, static_cast<std::uint16_t>(id),
                     "built-in " + std::string(type) + " " + std::to_string(id), bytes.size(),
                     QCryptographicHash::hash(
                         QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())),
                         QCryptographicHash::Sha256)
                         .toHex()
                         .toStdString()});
            }
        }
        return p;
    }();
    return package;
}
