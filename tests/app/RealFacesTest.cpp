// Photographs of real people (the shared test data): once memorised, every picture is recognised as itself,
// however alike the persons look, because memorise rehearses what it memorised before.

#include "app/MemoProcessor.h"
#include "input/Framing.h"

#include <QDir>
#include <QImage>
#include <gtest/gtest.h>

namespace {

QString RealFaces(const char* set)
{
    const QByteArray data = qgetenv("MIRAVA_TESTDATA");
    return data.isEmpty() ? QString() : QString::fromLocal8Bit(data) + QStringLiteral("/faces-real/") + set;
}

// The first `perPerson` pictures of each person in the folder, in the order of their numbers.
QStringList FirstPictures(const QString& folder, int perPerson)
{
    QStringList pictures;
    const QDir dir(folder);
    QStringList persons;
    for (const QString& name : dir.entryList({ QStringLiteral("*_1.jpg") }, QDir::Files, QDir::Name))
        persons << name.section(u'_', 0, 0);
    for (int k = 1; k <= perPerson; ++k)
        for (const QString& person : persons)
            pictures << dir.filePath(QStringLiteral("%1_%2.jpg").arg(person).arg(k));
    return pictures;
}

// Memorises the patterns one after the other and asks for each again: how many answer their own slot.
int RecognisedAsThemselves(const std::vector<TInputPattern>& patterns)
{
    TMemoProcessor memo;
    memo.SaveSlotFilesOnMemorise = false;
    memo.SetUpNetwork();
    memo.Networks.front()->SeedRandom(1);
    memo.Networks.front()->RandomizeWeights();
    memo.NetworkChanged();
    for (size_t i = 0; i < patterns.size(); ++i)
        EXPECT_EQ(memo.Memorise(QStringLiteral("p%1").arg(i), QString(), patterns[i]), int(i));
    int right = 0;
    for (size_t i = 0; i < patterns.size(); ++i)
        right += memo.Recognise(patterns[i]).BestSlot == int(i);
    return right;
}

TEST(RealFaces, FifteenPersonsOfTheLightingSetAreAllRecognised)
{
    const QString folder = RealFaces("yale");
    if (folder.isEmpty())
        GTEST_SKIP() << "no shared test data";
    const QStringList pictures = FirstPictures(folder, 1);
    ASSERT_EQ(pictures.size(), 15);
    const TFramer framer;
    for (const TFraming framing : { TFraming::Fit, TFraming::Face }) {
        std::vector<TInputPattern> patterns;
        for (const QString& picture : pictures)
            patterns.push_back(framer.FrameFile(picture, framing).Pattern);
        EXPECT_EQ(RecognisedAsThemselves(patterns), 15) << FramingName(framing).toStdString();
    }
}

// Faces as small as those cut from a group photograph: in the corner of the window, 255 around them, most
// inputs are the same for everybody.
TEST(RealFaces, TwentySmallPicturesInTheCornerAreAllRecognised)
{
    const QString folder = RealFaces("faces94");
    if (folder.isEmpty())
        GTEST_SKIP() << "no shared test data";
    QStringList pictures = FirstPictures(folder, 2).mid(0, 20);
    ASSERT_EQ(pictures.size(), 20);
    std::vector<TInputPattern> patterns;
    for (const QString& picture : pictures)
        patterns.push_back(
            SampleCorner(QImage(picture).scaled(23, 28, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));
    EXPECT_EQ(RecognisedAsThemselves(patterns), 20);
}

} // namespace
