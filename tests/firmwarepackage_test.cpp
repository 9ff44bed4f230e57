#include "firmwarepackage.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <thread>

#include "beneath.h"
#include "firmware.h"

namespace {

const QByteArray kCpu = QByteArray::fromHex("EEBEADDE") + "CPU";
constexpr char kCpuSha[] = "015c0b8e0ca07d3ee4b76b6cd458c00c073fd7be0578b579adddcc84e6711ea9";
constexpr char kFpgaSha[] = "dcbfca4bced0a7f278db6959ad82411b2d20a9ea31e25f1d389e41ce23a89050";
constexpr char kBootSha[] = "9b1b03b57528e8923f73b8e644e99f1b417446bb30da55761308b0ed06407fda";
constexpr char kConf[] =
    "loader-family Q4B1\nseries Q4\nfpga Q4FA0\ncpu Q4FA0K1 248 fpga=12 boot=7\n"
    "cpu Q4B1C20 248\n";

// A valid package in <tmp>/z4-5.1; <tmp> itself is "outside".
struct Package {
    Package() {
        outside = QFileInfo(tmp.path()).canonicalFilePath();
        dir = outside + "/z4-5.1";
        Write("images.conf", kConf);
        Write("CPU/248.bin", kCpu);
        Write("FPGA/12.bin", "FPGA");
        Write("BOOT/7.bin", "BOOT");
        Write("SHA256SUMS", QByteArray(kCpuSha) + "  CPU/248.bin\n" + kFpgaSha + " *FPGA/12.bin\n" +
                                kBootSha + "  ./BOOT/7.bin\n");
    }
    void Write(const QString& rel, const QByteArray& bytes, bool append = false) {
        const QString path = rel.startsWith('/') ? rel : dir + "/" + rel;
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        ASSERT_TRUE(f.open(append ? QIODevice::Append : QIODevice::WriteOnly))
            << path.toStdString();
        f.write(bytes);
    }
    // A file beside the package folder: its absolute path.
    QString Outside(const QString& rel, const QByteArray& bytes) {
        Write(outside + "/" + rel, bytes);
        return outside + "/" + rel;
    }
    void Link(const QString& rel, const QString& target) {
        QFile::remove(dir + "/" + rel);
        ASSERT_EQ(::symlink(target.toLocal8Bit(), (dir + "/" + rel).toLocal8Bit()), 0);
    }
    std::optional<FirmwarePackage> Load() {
        return LoadFirmwarePackage(dir.toStdString(), &problems);
    }
    std::string Described(PackageProblem::Severity severity) const {
        std::string text;
        for (const auto& p : problems)
            if (p.severity == severity) text += DescribeProblem(p) + "\n";
        return text;
    }

    QTemporaryDir tmp;
    QString outside, dir;
    std::vector<PackageProblem> problems;
};

std::vector<std::string> Summary(const std::vector<PackageImage>& images) {
    std::vector<std::string> out;
    for (const auto& i : images)
        out.push_back(i.type + " " + std::to_string(i.id) + " " + i.file + " " +
                      std::to_string(i.size) + " " + i.sha256);
    return out;
}

using Rows = std::vector<std::pair<std::string, int>>;

}  // namespace

TEST(FirmwarePackage, ValidPackageLoadsWhole) {
    Package p;
    auto package = p.Load();
    ASSERT_TRUE(package) << p.Described(PackageProblem::Severity::Error);
    EXPECT_TRUE(p.problems.empty()) << p.Described(PackageProblem::Severity::Warning);
    EXPECT_EQ(package->name, "z4-5.1");
    EXPECT_EQ(package->folder, p.dir.toStdString());
    EXPECT_FALSE(package->builtin);
    EXPECT_EQ(package->config.cpuRows, (Rows{{"Q4FA0K1", 248}, {"Q4B1C20", 248}}));
    EXPECT_EQ(package->config.fpgaRows, (Rows{{"Q4FA0K1", 12}}));
    EXPECT_EQ(package->config.bootRows, (Rows{{"Q4FA0K1", 7}}));
    EXPECT_EQ(Summary(package->images),
              (std::vector<std::string>{"CPU 248 CPU/248.bin 7 " + std::string(kCpuSha),
                                        "FPGA 12 FPGA/12.bin 4 " + std::string(kFpgaSha),
                                        "BOOT 7 BOOT/7.bin 4 " + std::string(kBootSha)}));
    auto bytes = [&](const char* type, std::uint16_t id) {
        const ImageBytes image = package->store->Find(type, id);
        return QByteArray(reinterpret_cast<const char*>(image.data()), image.size());
    };
    EXPECT_EQ(bytes("CPU", 248), kCpu);
    // Changed after the check: what was taken stays as it was checked, and
    // what was not is no longer handed out.
    p.Write("CPU/248.bin", "changed");
    p.Write("BOOT/7.bin", "BOOX");
    EXPECT_EQ(bytes("CPU", 248), kCpu);
    EXPECT_EQ(bytes("BOOT", 7), "");
    EXPECT_EQ(bytes("FPGA", 12), "FPGA");
}

// $T stands for the folder around the package. The whole error list is
// compared, so a refused file that was read anyway shows up as an extra line.
TEST(FirmwarePackage, EachFaultIsNamedAndNothingIsReturned) {
    const struct {
        const char* what;
        std::function<void(Package&)> spoil;
        std::string errors;
    } cases[] = {
        {"no folder", [](Package& p) { p.dir += "/absent"; }, "$T/z4-5.1/absent: no such folder\n"},
        {"no images.conf", [](Package& p) { QFile::remove(p.dir + "/images.conf"); },
         "images.conf: missing\n"},
        {"bad line", [](Package& p) { p.Write("images.conf", "fpga Q4F\n", true); },
         "images.conf:6: fpga prefix 'Q4F' is not 5 to 7 digits or capitals\n"},
        {"missing image", [](Package& p) { QFile::remove(p.dir + "/FPGA/12.bin"); },
         "FPGA/12.bin: missing, named by images.conf line 4\n"},
        {"two at once",
         [](Package& p) {
             p.Write("images.conf", "fpga Q4F\n", true);
             QFile::remove(p.dir + "/FPGA/12.bin");
         },
         "images.conf:6: fpga prefix 'Q4F' is not 5 to 7 digits or capitals\n"
         "FPGA/12.bin: missing, named by images.conf line 4\n"},
        {"empty image", [](Package& p) { p.Write("BOOT/7.bin", ""); },
         "BOOT/7.bin: empty\nBOOT/7.bin: does not match its SHA-256 in SHA256SUMS line 3\n"},
        {"image is a link", [](Package& p) { p.Link("CPU/248.bin", "248.bin"); },
         "CPU/248.bin: refused: a link to 248.bin; links are not followed in a package\n"},
        {"image is a FIFO",
         [](Package& p) {
             QFile::remove(p.dir + "/BOOT/7.bin");
             ASSERT_EQ(::mkfifo((p.dir + "/BOOT/7.bin").toLocal8Bit(), 0600), 0);
         },
         "BOOT/7.bin: refused: not a regular file\n"},
        {"image too big",
         [](Package& p) {
             QFile f(p.dir + "/CPU/248.bin");
             ASSERT_TRUE(f.resize(kMaxPackageImage + 1));  // sparse
             f.setPermissions({});                         // reading it would fail, but for root
         },
         "CPU/248.bin: refused: 67108865 bytes, over the 67108864-byte limit\n"},
        {"package too big",
         [](Package& p) {
             QByteArray sums;
             QDir().mkpath(p.dir + "/big");
             for (int i = 0; i < 17; ++i) {
                 QFile f(p.dir + QStringLiteral("/big/%1").arg(i));
                 ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.resize(kMaxPackageImage));  // sparse
                 sums += QByteArray(kBootSha) + "  big/" + QByteArray::number(i) + "\n";
             }
             p.Write("SHA256SUMS", sums, true);
         },
         "$T/z4-5.1: refused: its files come to 1140850703 bytes, over the 1073741824-byte "
         "limit of a package\n"},
        {"too many files",
         [](Package& p) {
             QByteArray sums;
             for (std::size_t i = 0; i <= kMaxPackageFiles; ++i)
                 sums += QByteArray(kBootSha) + "  x/" + QByteArray::number(qulonglong(i)) + "\n";
             p.Write("SHA256SUMS", sums, true);
         },
         "$T/z4-5.1: refused: it names 4100 files, more than the 4096 a package may hold\n"},
        {"too many lines",
         [](Package& p) { p.Write("images.conf", QByteArray(10000, '\n'), true); },
         "images.conf: refused: more than 10000 lines\n"},
        {"second loader-family",
         [](Package& p) { p.Write("images.conf", "loader-family Q4B2\n", true); },
         "images.conf:6: loader-family given twice (first on line 1)\n"},
        {"no cpu row",
         [](Package& p) { p.Write("images.conf", "loader-family Q4B1\nseries Q4\n"); },
         "images.conf: no cpu row: the package serves no receiver\n"},
        {"byte-order mark and C1 control",
         [](Package& p) {
             p.Write("images.conf", "\xEF\xBB\xBF" + QByteArray(kConf) +
                                        "fpga Q4\xC2\x9b"
                                        "A0\n");
         },
         "images.conf:1: begins with a byte-order mark; save the file as UTF-8 without one\n"
         "images.conf:6: fpga prefix 'Q4\\u009bA0' is not 5 to 7 digits or capitals\n"},
        {"image not in SHA256SUMS",
         [](Package& p) {
             p.Write("SHA256SUMS",
                     QByteArray(kCpuSha) + "  CPU/248.bin\n" + kFpgaSha + " *FPGA/12.bin\n");
         },
         "BOOT/7.bin: not listed in SHA256SUMS, which must list every image a row uses\n"},
        {"malformed sum", [](Package& p) { p.Write("SHA256SUMS", "abc  CPU/248.bin\n", true); },
         "SHA256SUMS:4: not '<64 hex digits>  <path>' as sha256sum writes\n"},
        {"wrong sum", [](Package& p) { p.Write("CPU/248.bin", kCpu + "!"); },
         "CPU/248.bin: does not match its SHA-256 in SHA256SUMS line 1\n"},
        {"sum of a missing file",
         [](Package& p) { p.Write("SHA256SUMS", QByteArray(kBootSha) + "  BOOT/9.bin\n", true); },
         "BOOT/9.bin: missing, listed in SHA256SUMS line 4\n"},
        {"sum paths outside",
         [](Package& p) {
             p.Write("SHA256SUMS",
                     QByteArray(kBootSha) + "  " + p.Outside("secret", "x").toUtf8() + "\n" +
                         kBootSha + "  CPU/../../secret\n",
                     true);
         },
         "SHA256SUMS:4: refused: '$T/secret' is an absolute path\n"
         "SHA256SUMS:5: refused: 'CPU/../../secret' leaves the package folder\n"},
        {"image linked outside", [](Package& p) { p.Link("CPU/248.bin", p.Outside("c", kCpu)); },
         "CPU/248.bin: refused: a link to $T/c; links are not followed in a package\n"},
        {"images.conf linked outside",
         [](Package& p) { p.Link("images.conf", p.Outside("conf", kConf)); },
         "images.conf: refused: a link to $T/conf; links are not followed in a package\n"},
        {"folder linked outside",
         [](Package& p) {
             p.Outside("fpga/12.bin", "FPGA");
             QDir(p.dir + "/FPGA").removeRecursively();
             p.Link("FPGA", "../fpga");
         },
         "FPGA/12.bin: refused: FPGA is a link to ../fpga; links are not followed in a package\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Package p;
        c.spoil(p);
        EXPECT_FALSE(p.Load());
        std::string errors = c.errors;
        for (std::size_t at; (at = errors.find("$T")) != std::string::npos;)
            errors.replace(at, 2, p.outside.toStdString());
        EXPECT_EQ(p.Described(PackageProblem::Severity::Error), errors);
    }
}

TEST(FirmwarePackage, AScreenfulOfProblemsIsShownAndTheRestCounted) {
    Package p;
    p.Write("images.conf", QByteArray("bad\n").repeated(25), true);
    EXPECT_FALSE(p.Load());
    const std::vector<std::string> lines = DescribeProblems(p.problems);
    ASSERT_EQ(lines.size(), kShownProblems + 1);
    EXPECT_EQ(lines.front(), "images.conf:6: unknown entry 'bad'");
    EXPECT_EQ(lines.back(), "... and 5 more not shown");
}

// A folder of the package swapped for a link to one outside, again and again
// while the package is read: a read refuses the link or takes the image
// inside, never the one outside; so does the walk kernels without openat2 get.
TEST(FirmwarePackage, AFolderSwappedForALinkNeverYieldsAFileOutside) {
    Package p;
    QFile::remove(p.dir + "/SHA256SUMS");  // nothing else may catch the wrong file
    p.Outside("evil/248.bin", kCpu + "from outside");
    const QByteArray folder = p.dir.toLocal8Bit();
    ASSERT_EQ(::symlink((p.outside + "/evil").toLocal8Bit(), folder + "/CPU.swap"), 0);
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        while (!stop)
            if (::renameat2(AT_FDCWD, folder + "/CPU", AT_FDCWD, folder + "/CPU.swap",
                            RENAME_EXCHANGE) == 0)
                ++swaps;
    });
    while (swaps == 0) std::this_thread::yield();
    const int dirFd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int i = 0; i < 300; ++i) {
        if (auto package = p.Load()) {
            EXPECT_EQ(package->images.front().sha256, kCpuSha);
            const ImageBytes cpu = package->store->Find("CPU", 248);
            EXPECT_TRUE(cpu.empty() ||
                        QByteArray(reinterpret_cast<const char*>(cpu.data()), cpu.size()) == kCpu);
        }
        char bytes[64];
        if (const int fd = OpenBeneathByWalk(dirFd, "CPU/248.bin", O_RDONLY); fd >= 0) {
            EXPECT_EQ(QByteArray(bytes, ::read(fd, bytes, sizeof bytes)), kCpu);
            ::close(fd);
        }
    }
    stop = true;
    swapper.join();
    ::close(dirFd);
}

TEST(FirmwarePackage, WarningsDoNotBlock) {
    Package p;
    QFile::remove(p.dir + "/SHA256SUMS");
    p.Write("CPU/248.bin", "raw");
    p.Write("CPU/249.bin", "unused");
    p.Write("CPU/notes.txt", "");
    p.Write("CPU/a\nb", "");  // described on one line all the same
    const QByteArray notUtf8 = p.dir.toLocal8Bit() + "/CPU/\xff.bin";  // Qt cannot name it
    ::close(::creat(notUtf8.constData(), 0600));
    p.Write("BOOT/07.bin", "");
    p.Write("images.conf", "cpu Q4FA0K2 248\n", true);
    auto package = p.Load();
    ASSERT_TRUE(package) << p.Described(PackageProblem::Severity::Error);
    EXPECT_EQ(package->images.size(), 3u);
    EXPECT_EQ(p.Described(PackageProblem::Severity::Warning),
              "warning: images.conf:6: part number Q4FA0K2 begins with the FPGA prefix Q4FA0 but "
              "its row names no fpga= image: its update sends the CPU image alone\n"
              "warning: CPU/248.bin: does not begin with EE BE AD DE; it is sent as it is (the "
              "updater does not interpret images)\n"
              "warning: CPU/249.bin: not used by any row of images.conf; ignored\n"
              "warning: CPU/a\\x0ab: not named <id>.bin (id 1..65535); ignored\n"
              "warning: CPU/notes.txt: not named <id>.bin (id 1..65535); ignored\n"
              "warning: CPU/\\xff.bin: not named <id>.bin (id 1..65535); ignored\n"
              "warning: BOOT/07.bin: not named <id>.bin (id 1..65535); ignored\n");
    ::unlink(notUtf8.constData());  // nor remove it
}

TEST(FirmwarePackage, BuiltInPackageIsTheCarriedImage) {
    const FirmwarePackage package = BuiltinFirmwarePackage();
    EXPECT_EQ(package.name, "built-in test image");
    EXPECT_TRUE(package.builtin);
    EXPECT_TRUE(package.folder.empty());
    EXPECT_EQ(package.config.cpuRows, CarriedImageConfig().cpuRows);
    EXPECT_EQ(
        Summary(package.images),
        (std::vector<std::string>{"CPU 248 built-in CPU 248 2937712 "
                                  "a7b01977d971db9dd42a8f97942b9b04bb6edab96c4bf649018b83346134"
                                  "dc18"}));
    EXPECT_EQ(package.store->Find("CPU", 248).size(), 2937712u);
}

TEST(FirmwarePackage, PackagesAreFoundByNameFirstFolderFirst) {
    Package p;  // only for its folder
    for (const char* rel : {"a/x/images.conf", "a/y/images.conf", "a/.hidden/images.conf",
                            "a/z/CPU/1.bin", "b/x/images.conf", "b/w/images.conf"})
        p.Write(p.outside + "/" + rel, "");
    const std::string a = p.outside.toStdString() + "/a", b = p.outside.toStdString() + "/b";
    std::vector<std::string> found;
    for (const auto& e : FindPackages({a, b, a + "/none"}))
        found.push_back(e.name + " " + e.folder);
    EXPECT_EQ(found, (std::vector<std::string>{"w " + b + "/w", "x " + a + "/x", "y " + a + "/y"}));
}
