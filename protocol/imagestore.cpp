#include "imagestore.h"


ImageBytes CMemoryImageStore::Find(std::string_view type, std::uint16_t id) const {
    auto it = m_images.find(std::pair<std::string, std::uint16_t>{std::string(type), id});
    if (it == m_images.end()) return {};
    return it->second;
}
