#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "imageconfig.h"
#include "imagestore.h"

// One thing wrong with a firmware package, naming its file (and line, for
// images.conf). Errors make the package unusable; warnings do not.
struct PackageProblem {
    enum class Severity { Error, Warning };
    Severity severity = Severity::Error;
    std::string file;  // relative to the package folder, e.g. "CPU/248.bin"; "" for the folder
    int line = 0;      // 1-based line in that file, 0 when it does not apply
    std::string message;
};

// "images.conf:12: ..." / "CPU/248.bin: ..." / "warning: FPGA/9.bin: ...",
// with whatever came from the package escaped (see EscapedForDisplay).
std::string DescribeProblem(const PackageProblem& problem);

// How many problems the operator is shown at once: a screenful.
inline constexpr std::size_t kShownProblems = 20;
// The problems described, at most shown of them and then a line counting
// the rest: a package of a million bad lines must not flood the screen.
std::vector<std::string> DescribeProblems(const std::vector<PackageProblem>& problems,
                                          std::size_t shown = kShownProblems);

// An image a package holds, as the summary and the logs name it.
struct PackageImage {
    std::string type;  // "CPU", "FPGA" or "BOOT"
    std::uint16_t id = 0;
    std::string file;  // relative path, "CPU/248.bin"; "built-in CPU 248" for the built-in one
    std::size_t size = 0;
    std::string sha256;  // lower-case hex
};

// The images and their configuration, from a folder or built into the
// program. Its store stays valid as long as any copy of the package lives.
struct FirmwarePackage {
    std::string name;    // the folder's name escaped for display, or "built-in test image"
    std::string folder;  // absolute path; empty for the built-in package
    bool builtin = false;
    ImageConfig config;
    std::shared_ptr<const IImageStore> store;
    std::vector<PackageImage> images;  // in type (CPU, FPGA, BOOT), then id order
};

// What a package may cost, whatever it holds. Real packages hold a few
// dozen images of a few MiB; the limits leave room for far more and still
// bound the memory and time of a check (README, "Firmware packages").
inline constexpr std::size_t kMaxPackageImage = 64u << 20;    // one image, or a listed file
inline constexpr std::uint64_t kMaxPackageSize = 1ull << 30;  // all files read, together
inline constexpr std::size_t kMaxPackageFiles = 4096;         // images and listed files
inline constexpr std::size_t kMaxPackageLines = 10000;        // of images.conf, of SHA256SUMS

// Reads and checks the package in folder: images.conf (the format of the
// built-in one; a cpu row may also name "fpga=<id>" and "boot=<id>"), the
// images as CPU/<id>.bin, FPGA/<id>.bin and BOOT/<id>.bin, and SHA256SUMS if
// present (as sha256sum writes it, paths relative to the folder), which must
// then list every image a row uses. Every problem is listed at once. The
// folder's content is untrusted: files are opened beneath it without
// following any link, and paths that are absolute or leave it, files over
// the limits above and packages over them are refused. Each file is read in
// blocks and hashed once; the store reads an image again only when an update
// takes it, and only as it was checked. Nothing when any error was found:
// an invalid package is never used, not even in part. problems is replaced
// (errors and warnings, in the order found); it may be null.
std::optional<FirmwarePackage> LoadFirmwarePackage(const std::string& folder,
                                                   std::vector<PackageProblem>* problems);

// The packages found in searchFolders: each sub-folder holding an
// images.conf, by name; a name found twice is taken from the first folder.
// Not validated.
struct PackageEntry {
    std::string name;
    std::string folder;
};
std::vector<PackageEntry> FindPackages(const std::vector<std::string>& searchFolders);
