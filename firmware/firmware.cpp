#include "firmware.h"

#include <QFile>
#include <QResource>
#include <QString>

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
