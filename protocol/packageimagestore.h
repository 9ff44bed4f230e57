#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "imagestore.h"

// The images of a package folder, checked once when the package was loaded
// and read again only when an update asks for one. Each is read whole from
// beneath the folder the check opened (renaming or swapping it afterwards
// changes nothing) and handed out only if its SHA-256 is still the one the
// check took: the bytes sent are the bytes that were checked. One that
// changed since, or cannot be read, is empty, as a missing image is.
//
// The image is copied rather than mapped: a mapping would show the file as
// it is changed in place after the check, and a file cut short or a stick
// pulled out would end the program with SIGBUS in the middle of a transfer.
// Only the images a receiver takes are held, each at most once.
class CPackageImageStore : public IImageStore {
public:
    struct Image {
        std::string file;  // relative to the folder, "CPU/248.bin"
        std::size_t size = 0;
        std::string sha256;  // lower-case hex
    };

    // folderFd: the package folder, which the store takes over.
    explicit CPackageImageStore(int folderFd);
    ~CPackageImageStore() override;
    CPackageImageStore(const CPackageImageStore&) = delete;
    CPackageImageStore& operator=(const CPackageImageStore&) = delete;

    void Add(std::string type, std::uint16_t id, Image image);
    // Thread-safe: the rows of a station share one store.
    ImageBytes Find(std::string_view type, std::uint16_t id) const override;

private:
    struct Entry {
        Image image;
        bool read = false;  // tried; bytes stay empty when it failed
        std::vector<std::uint8_t> bytes;
    };
    void Read(Entry& entry) const;

    int m_folderFd;
    mutable std::mutex m_mutex;
    mutable std::map<std::pair<std::string, std::uint16_t>, Entry, std::less<>> m_images;
};
