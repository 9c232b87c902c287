// Replays the fuzzers' seed corpus through the same entry points: files named ok-* must decode,
// files named bad-* must fail with a picture error, others may do either; none may crash.

#include "fuzz/FuzzTargets.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

void Replay(const char* folder, bool (*entry)(const uint8_t*, size_t))
{
    const QDir dir(QStringLiteral(MIRAVA_FUZZ_CORPUS "/") + folder);
    const QStringList names = dir.entryList(QDir::Files);
    ASSERT_GE(names.size(), 8) << dir.path().toStdString();
    for (const QString& name : names) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        const bool decoded = entry(reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size()));
        if (name.startsWith("ok-")) {
            EXPECT_TRUE(decoded) << name.toStdString();
        } else if (name.startsWith("bad-")) {
            EXPECT_FALSE(decoded) << name.toStdString();
        }
    }
}

} // namespace

TEST(FuzzCorpusTest, JpegSeedsReplay)
{
    Replay("jpeg", FuzzJpeg);
}

TEST(FuzzCorpusTest, BmpSeedsReplay)
{
    Replay("bmp", FuzzBmp);
}
