#pragma once

#include <QString>
#include <vector>

#include "firmwarepackage.h"

// What --check prints for a usable package: its name and folder, the
// prefixes, one table row per image each part number it serves is given
// (part number, image file, size, SHA-256; columns aligned), how many part
// numbers of its table it does not serve, then the warnings among problems
// (a screenful at most). Lines joined by '\n', no trailing one.
QString PackageSummary(const FirmwarePackage& package, const std::vector<PackageProblem>& problems);
