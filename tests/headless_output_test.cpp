// What a headless run prints, on a terminal and elsewhere.
#include "headless_output.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <cstdio>

namespace {

// A FILE* whose contents the test can read back.
class Capture {
public:
    Capture() : m_file(std::tmpfile()) {}
    ~Capture() { std::fclose(m_file); }
    std::FILE* File() const { return m_file; }
    QString Text() const {
        std::fflush(m_file);
        const long size = std::ftell(m_file);
        QByteArray bytes(size, '\0');
        std::rewind(m_file);
        const std::size_t n = std::fread(bytes.data(), 1, static_cast<std::size_t>(size), m_file);
        std::fseek(m_file, 0, SEEK_END);
        return QString::fromUtf8(bytes.left(static_cast<qsizetype>(n)));
    }

private:
    std::FILE* m_file;
};

// One transfer as the view reports it: the first address line added, then
// replaced for each further block, progress after each block.
void Transfer(CHeadlessOutput& out, int blocks, int total) {
    out.Line(QStringLiteral("Begin update Q4B1C20..."));
    out.LiveLine(QStringLiteral("Address: 0"));
    out.Progress(128, total);
    // The last replacement is the checksum block's offset.
    for (int i = 1; i <= blocks; ++i) {
        out.ReplaceLine(QStringLiteral("Address: ") + QString::number(i * 128, 16).toUpper());
        out.Progress(std::min((i + 1) * 128, total), total);
    }
    out.Line(QStringLiteral("Updating Firmware! please wait............."));
    out.Line(QStringLiteral("Completed!"));
}

}  // namespace

TEST(ProgressText, Rows) {
    struct Row {
        std::int64_t position, maximum, sent;
        double seconds;
        int bar;
        const char* text;
    } rows[] = {
        {0, 1000, 0, 0, 0, "Progress:   0%  0/1000 bytes"},
        {450, 1000, 450, 1.5, 0, "Progress:  45%  450/1000 bytes  0 kB/s  0:02 left"},
        {1468928, 2937712, 1468928, 2.0, 0,
         "Progress:  50%  1468928/2937712 bytes  734 kB/s  0:02 left"},
        {2937712, 2937712, 2937712, 4.0, 0,
         "Progress: 100%  2937712/2937712 bytes  734 kB/s  0:00 left"},
        {5000, 1000, 10, 1.0, 0, "Progress: 100%  1000/1000 bytes  0 kB/s  0:00 left"},
        {250, 1000, 0, 1.0, 8, "[##......]  25% 250/1000 B"},
        {1000, 1000, 1000, 0.5, 8, "[########] 100% 1000/1000 B 2 kB/s 0:00 left"},
        {0, 0, 0, 0, 0, "Progress:   0%  0/0 bytes"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(ProgressText(r.position, r.maximum, r.sent, r.seconds, r.bar), r.text);
}

TEST(HeadlessOutput, PlainOutputIsTheListWithFewProgressLines) {
    Capture out, err;
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("run.log"));
    {
        CHeadlessOutput output(out.File(), err.File(), false);
        QString error;
        ASSERT_TRUE(output.OpenLog(logPath, &error)) << error.toStdString();
        output.Line(QStringLiteral("Connected receiver information:"));
        Transfer(output, 22951, 2937712);
        output.Error(QStringLiteral("a problem"));
    }
    const QStringList lines = out.Text().split('\n', Qt::SkipEmptyParts);
    EXPECT_EQ(lines.first(), "Connected receiver information:");
    EXPECT_EQ(lines.filter(QRegularExpression("^Address: ")), QStringList{"Address: 2CD380"})
        << "the address line once, as the list finally holds it";
    EXPECT_EQ(lines.filter(QRegularExpression("^Progress: ")).size(), 20) << "one per 5%";
    ASSERT_GE(lines.size(), 4);
    EXPECT_TRUE(lines[lines.size() - 4].startsWith("Progress: 100%  2937712/2937712 bytes"));
    EXPECT_EQ(lines.mid(lines.size() - 3),
              (QStringList{"Address: 2CD380", "Updating Firmware! please wait.............",
                           "Completed!"}));
    EXPECT_LT(lines.size(), 30);
    EXPECT_FALSE(out.Text().contains('\r'));
    EXPECT_EQ(err.Text(), "a problem\n");

    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(log.readAll()), out.Text() + "a problem\n")
        << "the log holds the plain lines and the errors";
}

TEST(HeadlessOutput, LogIsAppendedTo) {
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("run.log"));
    for (int run = 0; run < 2; ++run) {
        Capture out, err;
        CHeadlessOutput output(out.File(), err.File(), true);
        QString error;
        ASSERT_TRUE(output.OpenLog(logPath, &error));
        output.Line(QStringLiteral("line %1").arg(run));
    }
    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    EXPECT_EQ(log.readAll(), "line 0\nline 1\n");

    Capture out, err;
    CHeadlessOutput output(out.File(), err.File(), false);
    QString error;
    EXPECT_FALSE(output.OpenLog(dir.filePath(QStringLiteral("no/such/dir/x.log")), &error));
    EXPECT_TRUE(error.contains("No such file or directory")) << error.toStdString();
}

TEST(HeadlessOutput, TerminalRedrawsOneLiveLineInPlace) {
    Capture out, err;
    {
        CHeadlessOutput output(out.File(), err.File(), true, 80);
        output.Line(QStringLiteral("Connected receiver information:"));
        Transfer(output, 3000, 3000 * 128);
    }
    const QString text = out.Text();
    // Rendered as a terminal shows it: "\r\x1b[K" starts the line again.
    QStringList screen;
    QString current;
    for (const QString& piece : text.split(QRegularExpression("(?=\r\x1b\\[K)|(?<=\n)"))) {
        QString p = piece;
        if (p.startsWith("\r\x1b[K")) {
            current.clear();
            p.remove(0, 4);
        }
        current += p;
        if (current.endsWith('\n')) {
            screen << current.chopped(1);
            current.clear();
        }
    }
    ASSERT_EQ(screen.size(), 6) << text.toStdString();
    EXPECT_EQ(screen[0], "Connected receiver information:");
    EXPECT_EQ(screen[1], "Begin update Q4B1C20...");
    EXPECT_EQ(screen[2], "Address: 5DC00");
    EXPECT_TRUE(screen[3].startsWith("[################] 100% 384000/384000 B"))
        << screen[3].toStdString();
    EXPECT_EQ(screen[4], "Updating Firmware! please wait.............");
    EXPECT_EQ(screen[5], "Completed!");
    EXPECT_GT(text.count("\r\x1b[K"), 1) << "redrawn in place";
    EXPECT_LT(text.count("\r\x1b[K"), 3000) << "not once per block";
    for (const QString& live : text.split("\r\x1b[K"))
        EXPECT_LE(live.section('\n', 0, 0).size(), 79) << "one screen line";
}

TEST(HeadlessOutput, EveryAddressLineTheListKeepsIsPrinted) {
    Capture out, err;
    {
        CHeadlessOutput output(out.File(), err.File(), false);
        output.LiveLine(QStringLiteral("Address: 0"));
        output.ReplaceLine(QStringLiteral("Address: 80"));
        output.LiveLine(QStringLiteral("Address: 0"));  // a new line below the old one
        output.ReplaceLine(QStringLiteral("Address: 100"));
    }
    EXPECT_EQ(out.Text(), "Address: 80\nAddress: 100\n");
}
