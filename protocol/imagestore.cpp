#include "imagestore.h"

#include <QResource>
#include <QString>

#include "firmware.h"

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

ImageBytes CMemoryImageStore::Find(std::string_view type, std::uint16_t id) const {
    auto it = m_images.find(std::pair<std::string, std::uint16_t>{std::string(type), id});
    if (it == m_images.end()) return {};
    return it->second;
}
