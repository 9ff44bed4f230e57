#pragma once

#include <map>
#include <string>

#include "imageconfig.h"

// Part number + "_CPU" / "_FPGA" / "_BOOT" -> image id, 0 for none.
class CImageTable {
public:
    void BuildImageTable(const ImageConfig& config);

    void SetCpuImage(const std::string& partNumber, int id) {
        m_mapImageIds[partNumber + "_CPU"] = id;
    }
    void SetFpgaImage(const std::string& partNumber, int id) {
        m_mapImageIds[partNumber + "_FPGA"] = id;
    }
    void SetBootImage(const std::string& partNumber, int id) {
        m_mapImageIds[partNumber + "_BOOT"] = id;
    }
    // A missing key is inserted with 0, as lookups always have.
    int GetCpuImage(const std::string& partNumber) { return m_mapImageIds[partNumber + "_CPU"]; }
    int GetFpgaImage(const std::string& partNumber) { return m_mapImageIds[partNumber + "_FPGA"]; }
    int GetBootImage(const std::string& partNumber) { return m_mapImageIds[partNumber + "_BOOT"]; }

    std::size_t size() const { return m_mapImageIds.size(); }

private:
    std::map<std::string, int> m_mapImageIds;
};
