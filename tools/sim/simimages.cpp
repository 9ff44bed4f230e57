// The images a transfer delivered: kept, compared with the ones meant, and
// written out.
#include <algorithm>
#include <fstream>

#include "receiversim.h"

namespace qsim {

ImageCheck CompareImage(const std::vector<std::uint8_t>& received,
                        const std::vector<std::uint8_t>& expected) {
    ImageCheck check;
    check.present = true;
    check.receivedSize = received.size();
    const std::size_t common = std::min(received.size(), expected.size());
    const auto diff = std::mismatch(received.begin(), received.begin() + common, expected.begin());
    if (diff.first != received.begin() + common) {
        check.firstDifference = static_cast<std::size_t>(diff.first - received.begin());
    } else if (received.size() < expected.size()) {
        check.firstDifference = received.size();  // cut short
    }
    if (received.size() > expected.size()) {
        check.pad.assign(received.begin() + static_cast<std::ptrdiff_t>(expected.size()),
                         received.end());
    }
    check.equal = check.firstDifference == static_cast<std::size_t>(-1) && check.pad.size() < 128;
    return check;
}

std::vector<std::vector<std::uint8_t>> ReceiverSim::Images() const {
    std::lock_guard lock(m_mutex);
    return m_images;
}

ImageCheck ReceiverSim::CheckImage(std::size_t index,
                                   const std::vector<std::uint8_t>& expected) const {
    std::lock_guard lock(m_mutex);
    if (index >= m_images.size()) return ImageCheck{};
    return CompareImage(m_images[index], expected);
}

void ReceiverSim::WriteRecords() {
    if (m_options.recordDir.empty()) return;
    std::vector<std::vector<std::uint8_t>> images;
    {
        std::lock_guard lock(m_mutex);
        images = m_images;
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        const std::string path = m_options.recordDir + "/image" + std::to_string(i + 1) + ".bin";
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(images[i].data()),
                   static_cast<std::streamsize>(images[i].size()));
        file.close();
        if (!file) {
            Error("cannot write " + path);
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_stats.recordedFiles.push_back(path);
        Changed();
    }
}

}  // namespace qsim
