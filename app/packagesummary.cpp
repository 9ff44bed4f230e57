#include "packagesummary.h"

#include <QStringList>
#include <algorithm>
#include <array>
#include <iterator>

#include "engineevent.h"
#include "imagetable.h"
#include "textescape.h"

namespace {

using Row = std::array<QString, 4>;

QString Shown(const std::string& text) {
    return QString::fromStdString(EscapedForDisplay(text));
}

QString Count(std::size_t n, const char* what) {
    return QStringLiteral("%1 %2%3")
        .arg(n)
        .arg(QLatin1String(what))
        .arg(n == 1 ? QString() : QStringLiteral("s"));
}

QStringList HeaderLines(const FirmwarePackage& package) {
    const ImageConfig& config = package.config;
    QStringList lines;
    auto field = [&](const char* label, const QString& value) {
        lines << QStringLiteral("%1 %2").arg(QLatin1String(label), -14).arg(value);
    };
    field("Package:", Shown(package.name));
    field("Folder:",
          package.builtin ? QStringLiteral("(built into the program)") : Shown(package.folder));
    field("Loader family:", QString::fromStdString(config.loaderFamily));
    field("Series:", QString::fromStdString(config.seriesPrefix));
    QStringList fpga;
    for (const std::string& prefix : config.fpgaPrefixes) fpga << QString::fromStdString(prefix);
    field("FPGA prefixes:", fpga.isEmpty() ? QStringLiteral("none") : fpga.join(QLatin1Char(' ')));
    field("Versions:",
          config.versions.Any() ? VersionsText(config.versions) : QStringLiteral("not stated"));
    for (const auto& [partNumber, differs] : config.rowVersions)
        field("", QStringLiteral("%1: %2").arg(QString::fromStdString(partNumber),
                                               VersionsText(config.VersionsFor(partNumber))));
    return lines;
}

// One row per image each part number is given, as the engine will look the
// ids up; *served counts the part numbers whose CPU image is here. A folder
// package holds every image its rows name or is refused; the built-in table
// names images only the maker's packages hold.
std::vector<Row> ImageRows(const FirmwarePackage& package, std::size_t* served) {
    const ImageConfig& config = package.config;
    CImageTable table;
    table.BuildImageTable(config);
    std::vector<Row> rows{{QStringLiteral("Part number"), QStringLiteral("Image"),
                           QStringLiteral("Size"), QStringLiteral("SHA-256")}};
    auto held = [&](const char* type, int id) {
        return std::find_if(package.images.begin(), package.images.end(),
                            [&](const PackageImage& i) {
                                return i.type == type && i.id == static_cast<std::uint16_t>(id);
                            });
    };
    auto addRow = [&](const std::string& partNumber, const char* type, int id) {
        const auto found = held(type, id);
        if (id <= 0 || found == package.images.end()) return;
        rows.push_back({QString::fromStdString(partNumber), QString::fromStdString(found->file),
                        QString::number(static_cast<qulonglong>(found->size)),
                        QString::fromStdString(found->sha256)});
    };
    *served = 0;
    for (const auto& [partNumber, cpuId] : config.cpuRows) {
        if (held("CPU", cpuId) == package.images.end()) continue;
        ++*served;
        addRow(partNumber, "CPU", cpuId);
        addRow(partNumber, "FPGA", table.GetFpgaImage(partNumber));
        addRow(partNumber, "BOOT", table.GetBootImage(partNumber));
    }
    return rows;
}

QStringList Aligned(const std::vector<Row>& rows) {
    std::array<qsizetype, 4> width{};
    for (const auto& row : rows)
        for (std::size_t c = 0; c < row.size(); ++c) width[c] = std::max(width[c], row[c].size());
    QStringList lines;
    for (const auto& row : rows)
        lines << (row[0].leftJustified(width[0]) + QStringLiteral("  ") +
                  row[1].leftJustified(width[1]) + QStringLiteral("  ") +
                  row[2].rightJustified(width[2]) + QStringLiteral("  ") + row[3]);
    return lines;
}

}  // namespace

QString PackageSummary(const FirmwarePackage& package,
                       const std::vector<PackageProblem>& problems) {
    QStringList lines = HeaderLines(package);
    std::size_t served = 0;
    lines << QString() << Aligned(ImageRows(package, &served));
    if (const std::size_t other = package.config.cpuRows.size() - served; other > 0) {
        lines << QString();
        lines << QStringLiteral(
                     "The other %1 part numbers of its table name images it does not "
                     "hold; they get no update from it.")
                     .arg(other);
    }
    std::vector<PackageProblem> warnings;
    std::copy_if(
        problems.begin(), problems.end(), std::back_inserter(warnings),
        [](const PackageProblem& p) { return p.severity == PackageProblem::Severity::Warning; });
    if (!warnings.empty()) lines << QString();
    for (const std::string& line : DescribeProblems(warnings))
        lines << QString::fromStdString(line);
    lines << QString();
    lines << QStringLiteral("Valid: %1, %2, %3.")
                 .arg(Count(served, "part number"), Count(package.images.size(), "image"),
                      Count(warnings.size(), "warning"));
    return lines.join(QLatin1Char('\n'));
}
