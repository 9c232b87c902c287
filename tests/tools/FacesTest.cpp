// mirava-faces, run as a program: the sets it writes, their sameness from run to run, and how far apart the
// pictures of one person and of different persons are.

#include "ToolRunner.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>

namespace {

QStringList Files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// Mean absolute difference of the grey values of two pictures of the same size.
double Distance(const QImage& a, const QImage& b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            sum += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y)));
    return sum / (a.width() * a.height());
}

TEST(Faces, WritesNamedBmpAndJpegSetsTheSameOnEveryRun)
{
    QTemporaryDir dir;
    const QString bmp = dir.filePath("bmp"), jpg = dir.filePath("jpg"), again = dir.filePath("again");
    ASSERT_EQ(RunFaces({ "--persons", "2", "--pictures", "3", "--bmp", bmp, "--jpg", jpg }).exitCode, 0);
    ASSERT_EQ(RunFaces({ "--persons", "2", "--pictures", "3", "--bmp", again, "--size", "104" }).exitCode, 0);
    EXPECT_EQ(Files(bmp),
        QStringList({ "anna_1.bmp", "anna_2.bmp", "anna_3.bmp", "bodo_1.bmp", "bodo_2.bmp", "bodo_3.bmp" }));
    EXPECT_EQ(Files(jpg),
        QStringList({ "anna_1.jpg", "anna_2.jpg", "anna_3.jpg", "bodo_1.jpg", "bodo_2.jpg", "bodo_3.jpg" }));
    for (const QString& name : Files(bmp)) {
        const QImage picture(bmp + "/" + name);
        EXPECT_EQ(picture.size(), QSize(112, 112)) << name.toStdString();
        EXPECT_EQ(QImage(again + "/" + name).size(), QSize(104, 104));
        EXPECT_EQ(QImage(jpg + "/" + QString(name).replace(".bmp", ".jpg")).size(), picture.size());
    }

    // The same arguments give the same bytes.
    const QString repeat = dir.filePath("repeat");
    ASSERT_EQ(RunFaces({ "--persons", "2", "--pictures", "3", "--bmp", repeat }).exitCode, 0);
    for (const QString& name : Files(bmp)) {
        QFile first(bmp + "/" + name), second(repeat + "/" + name);
        ASSERT_TRUE(first.open(QIODevice::ReadOnly) && second.open(QIODevice::ReadOnly));
        EXPECT_EQ(first.readAll(), second.readAll()) << name.toStdString();
    }
}

TEST(Faces, PicturesOfOnePersonDifferLessThanPicturesOfTwo)
{
    QTemporaryDir dir;
    ASSERT_EQ(RunFaces({ "--persons", "6", "--pictures", "4", "--bmp", dir.path() }).exitCode, 0);
    const QStringList names = { "anna", "bodo", "cilla", "darek", "elvi", "fridolin" };
    auto load = [&](const QString& name, int k) {
        return QImage(dir.filePath(name + "_" + QString::number(k) + ".bmp"));
    };
    double within = 0, between = 0;
    int withinCount = 0, betweenCount = 0;
    for (const QString& name : names) {
        for (int k = 2; k <= 4; ++k) {
            const double d = Distance(load(name, 1), load(name, k));
            EXPECT_GT(d, 0.5) << name.toStdString() << " " << k << ": pictures of one person are not copies";
            within += d;
            ++withinCount;
        }
        for (const QString& other : names)
            if (other != name) {
                const double d = Distance(load(name, 1), load(other, 1));
                EXPECT_GT(d, 4.0) << name.toStdString() << " and " << other.toStdString() << " look alike";
                between += d;
                ++betweenCount;
            }
    }
    EXPECT_LT(within / withinCount, 0.7 * between / betweenCount);
}

TEST(Faces, BadArgumentsAreRefused)
{
    for (const QStringList& args : QList<QStringList> { {}, { "--bmp" }, { "--bmp", "x", "--size", "99" },
             { "--bmp", "x", "--size", "121" }, { "--bmp", "x", "--persons", "0" }, { "--colour", "x" } }) {
        const TToolRun run = RunFaces(args);
        EXPECT_EQ(run.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(run.err.contains("usage: mirava-faces")) << run.err.toStdString();
    }
}

} // namespace
