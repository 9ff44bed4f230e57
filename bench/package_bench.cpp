// What checking a firmware package costs, whatever it holds: the time and
// peak memory of LoadFirmwarePackage for packages far bigger than a maker's,
// and of taking one image afterwards. Each case runs in a child process of
// its own, so each peak is its own. Run as: package_bench [FOLDER]
// (a scratch folder; by default one under /tmp, removed afterwards).
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>
#include <functional>
#include <map>
#include <string>

#include "firmwarepackage.h"

namespace {

void Write(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(2);
    }
}

// A file of size bytes, written (each block different) or left sparse.
QByteArray WriteImage(const QString& path, qint64 size, bool sparse, int seed) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) std::exit(2);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (sparse) {
        // Zeros: every sparse image of a size has the same hash.
        static std::map<qint64, QByteArray> zeros;
        f.resize(size);
        if (!zeros.count(size)) {
            QByteArray block(1 << 20, '\0');
            for (qint64 left = size; left > 0; left -= block.size())
                hash.addData(QByteArrayView(block).first(std::min<qint64>(left, block.size())));
            zeros[size] = hash.result().toHex();
        }
        return zeros[size];
    } else {
        QByteArray block(64 << 10, '\0');
        for (qint64 at = 0; at < size; at += block.size()) {
            block.fill(static_cast<char>(seed + at / block.size()));
            const QByteArray part = block.first(std::min<qint64>(size - at, block.size()));
            f.write(part);
            hash.addData(part);
        }
    }
    return hash.result().toHex();
}

// A package of count CPU images of size bytes each, every one with its row
// and its SHA256SUMS line.
void MakePackage(const QString& folder, int count, qint64 size, bool sparse) {
    QByteArray conf = "loader-family Q4B1\nseries Q4\n";
    QByteArray sums;
    for (int id = 1; id <= count; ++id) {
        const QByteArray rel = "CPU/" + QByteArray::number(id) + ".bin";
        conf += "cpu Q4" + QByteArray::number(id).rightJustified(5, '0') + " " +
                QByteArray::number(id) + "\n";
        sums += WriteImage(folder + "/" + rel, size, sparse, id) + "  " + rel + "\n";
    }
    Write(folder + "/images.conf", conf);
    Write(folder + "/SHA256SUMS", sums);
}

// Runs what in a child; prints its time and the child's peak RSS.
void Measure(const char* label, const std::function<std::string()>& what) {
    std::fflush(stdout);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) std::exit(2);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        QElapsedTimer clock;
        clock.start();
        const std::string result = what();
        const std::string line =
            std::to_string(clock.nsecsElapsed() / 1e9).substr(0, 6) + " s  " + result;
        [[maybe_unused]] const ssize_t n = ::write(pipeFds[1], line.data(), line.size());
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[512] = {};
    const ssize_t got = ::read(pipeFds[0], buffer, sizeof buffer - 1);
    ::close(pipeFds[0]);
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    std::printf("%-52s %8.1f MiB peak  %s\n", label, usage.ru_maxrss / 1024.0,
                got > 0 ? buffer : "(no result)");
}

std::string Check(const QString& folder) {
    std::vector<PackageProblem> problems;
    const auto package = LoadFirmwarePackage(folder.toStdString(), &problems);
    if (package) return "valid, " + std::to_string(package->images.size()) + " images";
    return "refused: " + DescribeProblems(problems, 1).front();
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir scratch(argc > 1 ? QString::fromLocal8Bit(argv[1]) + "/package-bench-XXXXXX"
                                   : QDir::tempPath() + "/package-bench-XXXXXX");
    if (!scratch.isValid()) return 2;
    std::printf(
        "Checking packages (LoadFirmwarePackage), warm page cache; each case in a "
        "child process.\n\n");

    Measure("nothing (the process itself)", [] { return std::string("-"); });

    const QString small = scratch.filePath("2000x256KiB");
    MakePackage(small, 2000, 256 << 10, false);
    Measure("2,000 images of 256 KiB (500 MiB), all listed", [&] { return Check(small); });
    QDir(small).removeRecursively();

    const QString limit = scratch.filePath("16x64MiB");
    MakePackage(limit, 16, kMaxPackageImage, false);
    Measure("16 images of 64 MiB (1 GiB, the limit)", [&] { return Check(limit); });
    Measure("  the same, then one image taken for an update", [&] {
        std::vector<PackageProblem> problems;
        const auto package = LoadFirmwarePackage(limit.toStdString(), &problems);
        const std::size_t size = package ? package->store->Find("CPU", 8).size() : 0;
        return "image of " + std::to_string(size) + " bytes";
    });
    QDir(limit).removeRecursively();

    const QString big = scratch.filePath("2000x60MiB");
    MakePackage(big, 2000, qint64(60) << 20, true);
    Measure("2,000 images of 60 MiB (117 GiB, sparse)", [&] { return Check(big); });
    QDir(big).removeRecursively();

    const QString repeated = scratch.filePath("one-file-10000-lines");
    MakePackage(repeated, 1, qint64(60) << 20, false);
    QByteArray sums;
    QFile original(repeated + "/SHA256SUMS");
    original.open(QIODevice::ReadOnly);
    const QByteArray line = original.readAll();
    original.close();
    for (int i = 0; i < 9999; ++i) sums += line;
    Write(repeated + "/SHA256SUMS", sums);
    Measure("one 60 MiB image named by 9,999 SHA256SUMS lines", [&] { return Check(repeated); });
    return 0;
}
