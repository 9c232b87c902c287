#include "app/FolderListing.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {
void Touch(const QString& path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write("x");
}

QStringList Names(const TFolderListing& listing)
{
    QStringList names;
    for (const QString& file : listing.Files) {
        EXPECT_TRUE(file.startsWith(listing.Folder));
        names.append(file.mid(listing.Folder.size()));
    }
    return names;
}
} // namespace

TEST(FolderListing, OnlyVisiblePictureFilesWithExactExtensions)
{
    QTemporaryDir dir;
    for (const char* name : { "a.jpg", "b.BMP", "c.png", "d.jpeg", "e.Jpg", ".hidden.bmp", ".bmp", "f.bmp",
             "g.jpg.txt", "h.x.bmp", "nodot" })
        Touch(dir.filePath(name));
    QFile readOnly(dir.filePath("r.jpg"));
    Touch(readOnly.fileName());
    readOnly.setPermissions(QFile::ReadOwner);
    ASSERT_TRUE(QDir(dir.path()).mkdir("x.jpg"));
    ASSERT_TRUE(QDir(dir.path()).mkdir("sub"));

    const TFolderListing listing = ListPictureFolder(dir.path());
    EXPECT_EQ(listing.Folder, dir.path() + "/");
    EXPECT_EQ(Names(listing), (QStringList { "a.jpg", "f.bmp", "h.x.bmp", "r.jpg" }));
    EXPECT_EQ(listing.Skipped, 1); // the folder named like a picture
}

TEST(FolderListing, NaturalCaseInsensitiveOrder)
{
    QTemporaryDir dir;
    for (const char* name :
        { "img10.bmp", "img2.bmp", "Img3.jpg", "img1.jpg", "B.bmp", "a.bmp", "img02b.bmp" })
        Touch(dir.filePath(name));
    const TFolderListing listing = ListPictureFolder(dir.path() + "/");
    EXPECT_EQ(Names(listing),
        (QStringList { "a.bmp", "B.bmp", "img1.jpg", "img2.bmp", "img02b.bmp", "Img3.jpg", "img10.bmp" }));
}

TEST(FolderListing, LinksToFilesCountButDeadLinksAreSkipped)
{
    QTemporaryDir dir;
    Touch(dir.filePath("real.bmp"));
    ASSERT_TRUE(QFile::link(dir.filePath("real.bmp"), dir.filePath("link.bmp")));
    ASSERT_TRUE(QFile::link(dir.filePath("gone.bmp"), dir.filePath("dead.jpg")));
    const TFolderListing listing = ListPictureFolder(dir.path());
    EXPECT_EQ(Names(listing), (QStringList { "link.bmp", "real.bmp" }));
    EXPECT_EQ(listing.Skipped, 1);
}

TEST(FolderListing, FolderPathsEndInOneSeparator)
{
    EXPECT_EQ(FolderPathWithSeparator("/"), QStringLiteral("/"));
    EXPECT_EQ(FolderPathWithSeparator("/home"), QStringLiteral("/home/"));
    EXPECT_EQ(FolderPathWithSeparator("/home/"), QStringLiteral("/home/"));
    EXPECT_EQ(ListPictureFolder("/").Folder, QStringLiteral("/"));

    const TFolderListing absent = ListPictureFolder("/no/such/folder");
    EXPECT_TRUE(absent.Files.isEmpty());
    EXPECT_EQ(absent.Skipped, 0);
    EXPECT_TRUE(ListPictureFolder(QString()).Files.isEmpty());
}
