#include "imagetable.h"

void CImageTable::BuildImageTable(const ImageConfig& config) {
    for (const auto& [partNumber, id] : config.cpuRows) SetCpuImage(partNumber, id);
    for (const auto& [partNumber, id] : config.fpgaRows) SetFpgaImage(partNumber, id);
    for (const auto& [partNumber, id] : config.bootRows) SetBootImage(partNumber, id);
}
