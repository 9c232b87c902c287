#include "app/FolderListing.h"

#include "pictures/FileName.h"
#include "support/RawFileRemoval.h"
#include "support/Unprivileged.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>
#include <vector>

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

    // The sort goes by sort keys made once per name; they order as comparing the names themselves does.
    QStringList names;
    for (int i = 0; i < 300; ++i) {
        const int n = (i * 7919) % 1009;
        names << QStringLiteral("%1%2 %3.jpg")
                     .arg(i % 3 == 0      ? "IMG"
                             : i % 3 == 1 ? "img"
                                          : "Äpfel")
                     .arg(n, i % 2 ? 0 : 5, 10, QLatin1Char('0'))
                     .arg(i % 5);
    }
    names << QStringLiteral("apfel1 0.jpg") << QStringLiteral("té.bmp") << QStringLiteral("img 0.jpg");
    QStringList sorted = names;
    SortNaturally(sorted);
    const QCollator collator = NaturalCollator();
    for (qsizetype i = 1; i < sorted.size(); ++i) {
        const int order = collator.compare(sorted[i - 1], sorted[i]);
        EXPECT_TRUE(order < 0 || (order == 0 && sorted[i - 1] < sorted[i]))
            << sorted[i - 1].toStdString() << " before " << sorted[i].toStdString();
    }
    std::sort(names.begin(), names.end());
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, names);
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

TEST(FolderListing, UnreadableFoldersSayWhy)
{
    const TFolderListing absent = ListPictureFolder("/no/such/folder");
    EXPECT_EQ(absent.Error,
        QStringLiteral("Cannot read the folder \"/no/such/folder/\": No such file or directory"));

    QTemporaryDir dir;
    Touch(dir.filePath("plain.bmp"));
    EXPECT_EQ(ListPictureFolder(dir.filePath("plain.bmp")).Error,
        QStringLiteral("Cannot read the folder \"%1/\": Not a directory").arg(dir.filePath("plain.bmp")));
    EXPECT_EQ(ListPictureFolder(dir.path()).Error, QString());
}

TEST(FolderListing, AListingEndsWhenItsStopSaysSo)
{
    QTemporaryDir dir;
    for (int i = 0; i < 2000; ++i)
        Touch(dir.filePath(QStringLiteral("p%1.jpg").arg(i)));
    int asked = 0;
    const TFolderListing stopped = ListPictureFolder(dir.path(), [&] { return ++asked > 1; });
    EXPECT_GE(asked, 2);
    EXPECT_TRUE(stopped.Files.isEmpty());
    EXPECT_EQ(ListPictureFolder(dir.path(), [] { return false; }).Files.size(), 2000);
}

TEST(FolderListing, ReadingTheSizesEndsWhenItsStopSaysSo)
{
    QTemporaryDir dir;
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(
            QImage(8 + i, 4, QImage::Format_RGB888).save(dir.filePath(QStringLiteral("p%1.bmp").arg(i))));
    TFolderListing listing = ListPictureFolder(dir.path());
    int asked = 0;
    ReadListedSizes(listing, 5, [&] { return ++asked > 2; });
    EXPECT_EQ(listing.Sizes, (QList<QSize> { QSize(8, 4), QSize(9, 4) }));
}

// The listing's error for a folder, made by a user who may not read it.
QString ErrorAsUnprivilegedUser(const QString& folder)
{
    return QString::fromUtf8(RunUnprivileged([&] { return ListPictureFolder(folder).Error.toUtf8(); }));
}

TEST(FolderListing, AFolderWithoutReadPermissionSaysSo)
{
    QTemporaryDir dir;
    // Open to all but the folder to list, which no one may read.
    ASSERT_TRUE(QFile::setPermissions(dir.path(),
        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
    ASSERT_TRUE(QDir(dir.path()).mkdir("closed"));
    Touch(dir.filePath("closed/a.bmp"));
    ASSERT_TRUE(QFile::setPermissions(dir.filePath("closed"), QFile::WriteOwner | QFile::ExeOwner));
    EXPECT_EQ(ErrorAsUnprivilegedUser(dir.filePath("closed")),
        QStringLiteral("Cannot read the folder \"%1/\": Permission denied").arg(dir.filePath("closed")));
    QFile::setPermissions(dir.filePath("closed"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST(FolderListing, NamesThatAreNotUtf8AreListedByPathsThatOpenThem)
{
    QTemporaryDir dir;
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    // Latin-1 "é", a stray continuation byte, a cut sequence, and a valid character from the range that
    // stands for raw bytes.
    const QList<QByteArray> rawNames { "caf\xe9.bmp", "\x80x.jpg", "ab\xe2\x82.bmp", "\xef\x9e\x80.bmp",
        "plain.bmp" };
    std::vector<std::unique_ptr<TRawFileRemoval>> removals;
    for (const QByteArray& raw : rawNames) {
        removals.push_back(std::make_unique<TRawFileRemoval>(folder + raw));
        const int file = ::open((folder + raw).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        ASSERT_GE(file, 0) << raw.toHex().toStdString();
        ASSERT_EQ(::write(file, raw.constData(), size_t(raw.size())), raw.size());
        ::close(file);
    }
    const TFolderListing listing = ListPictureFolder(dir.path());
    EXPECT_EQ(listing.Error, QString());
    EXPECT_EQ(listing.Skipped, 0);
    ASSERT_EQ(listing.Files.size(), rawNames.size());
    QList<QByteArray> found;
    for (const QString& path : listing.Files) {
        const QByteArray native = EncodeFileName(path);
        ASSERT_TRUE(native.startsWith(folder));
        found.append(native.mid(folder.size()));
        // The path opens the very file: its contents are its own name.
        QFile file;
        const int handle = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(handle, 0) << native.toHex().toStdString();
        ASSERT_TRUE(file.open(handle, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
        EXPECT_EQ(file.readAll(), found.last());
    }
    std::sort(found.begin(), found.end());
    QList<QByteArray> expected = rawNames;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(found, expected);
    // Shown with replacement characters where the bytes are no text.
    EXPECT_TRUE(listing.Files.contains(DecodeFileName(folder) + QStringLiteral("plain.bmp")));
    QStringList shown;
    for (const QString& path : listing.Files)
        shown.append(ShownFileName(path).mid(dir.path().size() + 1));
    EXPECT_TRUE(shown.contains(QStringLiteral("caf\uFFFD.bmp")));
    EXPECT_TRUE(shown.contains(QStringLiteral("\uFFFDx.jpg")));
    EXPECT_TRUE(shown.contains(QStringLiteral("ab\uFFFD\uFFFD.bmp")));
}

TEST(FileName, EveryByteStringComesBackWhole)
{
    // QFile's own decoding would lose them: both of these turn into the same text there.
    EXPECT_EQ(QFile::decodeName("a\xff"), QFile::decodeName("a\xfe"));
    EXPECT_NE(DecodeFileName("a\xff"), DecodeFileName("a\xfe"));

    const QList<QByteArray> samples { "", "plain/ascii name.bmp", "gr\xc3\xbc\xc3\x9f",
        "\xf0\x9f\x98\x80 face", "\xff\xfe\x80", "\xc0\xaf overlong", "\xed\xa0\x80 surrogate",
        "\xf4\x90\x80\x80 beyond", "\xe2\x82", "\xef\x9e\x80\xef\x9f\xbf escapes", "\xef\x9e" };
    for (const QByteArray& bytes : samples)
        EXPECT_EQ(EncodeFileName(DecodeFileName(bytes)), bytes) << bytes.toHex().toStdString();
    // Valid text stays the same text.
    EXPECT_EQ(DecodeFileName("gr\xc3\xbc\xc3\x9f"), QStringLiteral("gr\u00fc\u00df"));
    EXPECT_EQ(DecodeFileName("\xf0\x9f\x98\x80"), QString::fromUtf8("\xf0\x9f\x98\x80"));
    EXPECT_EQ(EncodeFileName(QStringLiteral("gr\u00fc\u00df")), QByteArray("gr\xc3\xbc\xc3\x9f"));

    // Every pair of bytes, each at the end of a name and before more text.
    for (int first = 0x80; first < 0x100; ++first) {
        for (int second = 1; second < 0x100; ++second) {
            QByteArray bytes;
            bytes.append(char(first)).append(char(second));
            ASSERT_EQ(EncodeFileName(DecodeFileName(bytes)), bytes) << bytes.toHex().toStdString();
            bytes.append("\xbf\xbf tail");
            ASSERT_EQ(EncodeFileName(DecodeFileName(bytes)), bytes) << bytes.toHex().toStdString();
        }
    }
}
