#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using ImageBytes = std::span<const std::uint8_t>;

// Maps a type name ("CPU", "FPGA", "BOOT") and an id to read-only bytes; a
// missing image is empty.
class IImageStore {
public:
    virtual ~IImageStore() = default;
    virtual ImageBytes Find(std::string_view type, std::uint16_t id) const = 0;
};

// Images held in memory, for tests and tools.
class CMemoryImageStore : public IImageStore {
public:
    void Add(std::string type, std::uint16_t id, std::vector<std::uint8_t> bytes) {
        m_images[{std::move(type), id}] = std::move(bytes);
    }
    ImageBytes Find(std::string_view type, std::uint16_t id) const override;

private:
    std::map<std::pair<std::string, std::uint16_t>, std::vector<std::uint8_t>, std::less<>>
        m_images;
};
