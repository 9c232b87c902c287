#include "pictures/PictureDecoder.h"

#include "pictures/PictureFiles.h"
#include "support/SpecialFiles.h"

#include <QDir>
#include <QImageReader>
#include <gtest/gtest.h>

namespace {

// Expects `call` to throw TPictureError and returns its message.
template <typename F> std::string ErrorOf(F call)
{
    try {
        call();
    } catch (const TPictureError& error) {
        return error.what();
    }
    ADD_FAILURE() << "no TPictureError was thrown";
    return {};
}

void ExpectColour(const QImage& image, int x, int y, QColor expected, int tolerance = 12)
{
    const QColor actual = image.pixelColor(x, y);
    EXPECT_NEAR(actual.red(), expected.red(), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(actual.green(), expected.green(), tolerance) << "at " << x << "," << y;
    EXPECT_NEAR(actual.blue(), expected.blue(), tolerance) << "at " << x << "," << y;
}

void ExpectQuarters(const QImage& image)
{
    const int w = image.width(), h = image.height();
    ExpectColour(image, w / 4, h / 4, Qt::red);
    ExpectColour(image, 3 * w / 4, h / 4, Qt::green);
    ExpectColour(image, w / 4, 3 * h / 4, Qt::blue);
    ExpectColour(image, 3 * w / 4, 3 * h / 4, Qt::white);
}

// A palette bitmap, run-length compressed with 8 (RLE8) or 4 (RLE4) bits a pixel, around `data`.
QByteArray RleBitmap(int width, int height, int bitCount, const QByteArray& data)
{
    const int colours = 1 << bitCount;
    const int offset = 14 + 40 + 4 * colours;
    QByteArray file(offset, '\0');
    auto put = [&file](int at, quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            file[at + i] = char((value >> (8 * i)) & 0xFF);
    };
    file[0] = 'B';
    file[1] = 'M';
    put(2, quint32(offset + data.size()), 4);
    put(10, quint32(offset), 4);
    put(14, 40, 4);
    put(18, quint32(width), 4);
    put(22, quint32(height), 4);
    put(26, 1, 2);
    put(28, quint32(bitCount), 2);
    put(30, bitCount == 8 ? 1 : 2, 4);
    put(34, quint32(data.size()), 4);
    put(46, quint32(colours), 4);
    for (int i = 0; i < colours; ++i)
        put(54 + 4 * i, quint32(i * 255 / (colours - 1)) * 0x010101u, 4);
    return file + data;
}

class PictureDecoderTest : public testing::Test
{
protected:
    QTemporaryDir dir;
};

} // namespace

TEST_F(PictureDecoderTest, ExtensionChoosesTheDecoder)
{
    const QString png = WriteFile(dir, "face.png", EncodeBmp(QuarterPicture(8, 8)));
    EXPECT_EQ(ErrorOf([&] { LoadPicture(png); }), "Unknown picture file extension (.png)");
    EXPECT_EQ(ErrorOf([&] { ReadPictureSize(png); }), "Unknown picture file extension (.png)");
    const QString bare = WriteFile(dir, "face", EncodeBmp(QuarterPicture(8, 8)));
    EXPECT_EQ(ErrorOf([&] { LoadPicture(bare); }), "Unknown picture file extension (.)");
    // A bitmap named .jpg goes to the JPEG decoder and fails there, naming the file.
    const QString wrong = WriteFile(dir, "bitmap.jpg", EncodeBmp(QuarterPicture(8, 8)));
    const std::string message = ErrorOf([&] { LoadPicture(wrong); });
    EXPECT_NE(message.find("bitmap.jpg"), std::string::npos) << message;
    EXPECT_NE(message.find("Not a JPEG file"), std::string::npos) << message;
    // Capital extensions are the same formats.
    const QString upper = WriteFile(dir, "UPPER.JPG", EncodeJpeg(QuarterPicture(16, 8)));
    EXPECT_EQ(LoadPicture(upper).size(), QSize(16, 8));
}

TEST_F(PictureDecoderTest, MissingFilesAndFoldersNameTheFile)
{
    const QString missing = dir.filePath("missing.jpg");
    EXPECT_NE(ErrorOf([&] { LoadPicture(missing); }).find("missing.jpg"), std::string::npos);
    EXPECT_NE(ErrorOf([&] { ReadPictureSize(dir.filePath("missing.bmp")); }).find("missing.bmp"),
        std::string::npos);
    QDir(dir.path()).mkdir("folder.jpg");
    EXPECT_NE(ErrorOf([&] { LoadPicture(dir.filePath("folder.jpg")); }).find("folder"), std::string::npos);
    const QString empty = WriteFile(dir, "empty.bmp", {});
    EXPECT_NE(ErrorOf([&] { LoadPicture(empty); }).find("empty"), std::string::npos);
    const QString emptyJpeg = WriteFile(dir, "empty.jpg", {});
    ErrorOf([&] { LoadPicture(emptyJpeg); });
}

TEST_F(PictureDecoderTest, JpegColourLayoutsDecodeToRgb888)
{
    const QImage source = QuarterPicture(64, 48);
    for (bool progressive : { false, true }) {
        TJpegOptions options;
        options.progressive = progressive;
        const QImage rgb = DecodeJpeg(EncodeJpeg(source, options), "rgb.jpg");
        EXPECT_EQ(rgb.format(), QImage::Format_RGB888);
        EXPECT_EQ(rgb.size(), QSize(64, 48));
        ExpectQuarters(rgb);
    }
    TJpegOptions grey;
    grey.colours = TJpegColours::Grey;
    const QImage greyImage = DecodeJpeg(EncodeJpeg(source, grey), "grey.jpg");
    EXPECT_EQ(greyImage.format(), QImage::Format_RGB888);
    const QColor red = greyImage.pixelColor(8, 8);
    EXPECT_EQ(red.red(), red.green());
    EXPECT_EQ(red.red(), red.blue());
    EXPECT_NEAR(red.red(), 76, 6);
    for (TJpegColours colours : { TJpegColours::Cmyk, TJpegColours::Ycck }) {
        TJpegOptions cmyk;
        cmyk.colours = colours;
        const QImage image = DecodeJpeg(EncodeJpeg(source, cmyk), "cmyk.jpg");
        EXPECT_EQ(image.format(), QImage::Format_RGB888);
        ExpectQuarters(image);
    }
}

TEST_F(PictureDecoderTest, HeaderSizeMatchesTheDecodedPicture)
{
    const QString jpeg = WriteFile(dir, "a.jpg", EncodeJpeg(QuarterPicture(123, 45)));
    const QString bmp = WriteFile(dir, "a.bmp", EncodeBmp(QuarterPicture(45, 123)));
    EXPECT_EQ(ReadPictureSize(jpeg), QSize(123, 45));
    EXPECT_EQ(ReadPictureSize(bmp), QSize(45, 123));
    EXPECT_EQ(LoadPicture(jpeg).size(), QSize(123, 45));
    const QImage bitmap = LoadPicture(bmp);
    EXPECT_EQ(bitmap.size(), QSize(45, 123));
    EXPECT_EQ(bitmap.format(), QImage::Format_RGB888);
    ExpectQuarters(bitmap);
    // The header read is enough even when the pixel data is damaged.
    QByteArray cut = EncodeJpeg(QuarterPicture(640, 480));
    cut.truncate(JpegScanStart(cut) + 10);
    EXPECT_EQ(ReadPictureSize(WriteFile(dir, "cut.jpg", cut)), QSize(640, 480));
}

TEST_F(PictureDecoderTest, ThumbnailsFitTheBoxAndKeepTheirColours)
{
    const QString jpeg = WriteFile(dir, "big.jpg", EncodeJpeg(QuarterPicture(1600, 1200)));
    const QImage thumb = LoadThumbnail(jpeg, QSize(100, 75));
    EXPECT_EQ(thumb.size(), QSize(100, 75));
    EXPECT_EQ(thumb.format(), QImage::Format_RGB888);
    ExpectQuarters(thumb);
    // Truncating as the image control does: 1600 x 1200 in 100 x 67 gives 89 x 67.
    EXPECT_EQ(LoadThumbnail(jpeg, QSize(100, 67)).size(), QSize(89, 67));
    // A very long picture still gives a thumbnail.
    const QString strip = WriteFile(dir, "strip.jpg", EncodeJpeg(QuarterPicture(4000, 16)));
    EXPECT_EQ(LoadThumbnail(strip, QSize(100, 100)).size(), QSize(100, 1));
    // Small pictures are never enlarged.
    const QString small = WriteFile(dir, "small.jpg", EncodeJpeg(QuarterPicture(60, 40)));
    EXPECT_EQ(LoadThumbnail(small, QSize(100, 67)).size(), QSize(60, 40));
    const QString bmp = WriteFile(dir, "big.bmp", EncodeBmp(QuarterPicture(400, 800)));
    const QImage bmpThumb = LoadThumbnail(bmp, QSize(50, 100));
    EXPECT_EQ(bmpThumb.size(), QSize(50, 100));
    ExpectQuarters(bmpThumb);
    for (TJpegColours colours : { TJpegColours::Grey, TJpegColours::Cmyk }) {
        TJpegOptions options;
        options.colours = colours;
        const QImage scaled
            = DecodeJpeg(EncodeJpeg(QuarterPicture(800, 600), options), "x.jpg", QSize(100, 75));
        EXPECT_EQ(scaled.size(), QSize(100, 75));
        EXPECT_EQ(scaled.format(), QImage::Format_RGB888);
    }
}

TEST_F(PictureDecoderTest, FitProportionalTruncatesAndNeverEnlargesUnlessAsked)
{
    EXPECT_EQ(FitProportional(QSize(200, 100), QSize(100, 100), false), QSize(100, 50));
    EXPECT_EQ(FitProportional(QSize(300, 200), QSize(100, 67), false), QSize(100, 66));
    EXPECT_EQ(FitProportional(QSize(60, 40), QSize(100, 67), false), QSize(60, 40));
    EXPECT_EQ(FitProportional(QSize(60, 40), QSize(100, 67), true), QSize(100, 66));
    EXPECT_EQ(FitProportional(QSize(0, 40), QSize(100, 67), true), QSize(0, 0));
    // Extreme shapes keep one pixel across.
    EXPECT_EQ(FitProportional(QSize(51986, 121), QSize(100, 100), false), QSize(100, 1));
    EXPECT_EQ(FitProportional(QSize(3, 5000), QSize(100, 100), false), QSize(1, 100));
}

TEST_F(PictureDecoderTest, BrokenJpegFilesFailWithAReason)
{
    const QByteArray good = EncodeJpeg(QuarterPicture(320, 240));
    struct TCase
    {
        const char* name;
        QByteArray data;
        const char* reason;
    };
    QByteArray truncated = good.left(good.size() / 2);
    QByteArray headerOnly = good.left(JpegScanStart(good));
    QByteArray corrupt = good;
    // A stray marker inside the entropy-coded data.
    const qsizetype middle = JpegScanStart(good) + (good.size() - JpegScanStart(good)) / 2;
    corrupt[middle] = char(0xFF);
    corrupt[middle + 1] = char(0xD3);
    QByteArray garbage = good.left(200);
    for (qsizetype i = 2; i < garbage.size(); ++i)
        garbage[i] = char(i * 37);
    const TCase cases[] = {
        { "truncated.jpg", truncated, "Premature end" },
        { "headeronly.jpg", headerOnly, "Premature end" },
        { "corrupt.jpg", corrupt, "Corrupt JPEG data" },
        { "garbage.jpg", garbage, "" },
        { "zerowidth.jpg", PatchJpegSize(good, 0, 240), "" },
        { "zeroheight.jpg", PatchJpegSize(good, 320, 0), "" },
        { "huge.jpg", PatchJpegSize(good, 20000, 20000), "too large" },
    };
    for (const TCase& c : cases) {
        const QString path = WriteFile(dir, c.name, c.data);
        const std::string message = ErrorOf([&] { LoadPicture(path); });
        EXPECT_NE(message.find(c.name), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.name << ": " << message;
        ErrorOf([&] { LoadThumbnail(path, QSize(100, 100)); });
    }
    // Zero and oversized pictures are refused from the header already.
    ErrorOf([&] { ReadJpegSize(PatchJpegSize(good, 0, 240), "z.jpg"); });
    EXPECT_NE(ErrorOf([&] { ReadJpegSize(PatchJpegSize(good, 25001, 10000), "h.jpg"); }).find("too large"),
        std::string::npos);
    EXPECT_EQ(ReadJpegSize(PatchJpegSize(good, 25000, 10000), "h.jpg"), QSize(25000, 10000));
}

TEST_F(PictureDecoderTest, ProgressiveScanCountIsBounded)
{
    TJpegOptions options;
    options.progressive = true;
    options.scanPerCoefficient = true; // 1 + 3 x 63 scans
    const QByteArray many = EncodeJpeg(QuarterPicture(64, 64), options);
    const std::string message = ErrorOf([&] { DecodeJpeg(many, "scans.jpg"); });
    EXPECT_NE(message.find("too many scans"), std::string::npos) << message;
    // The usual progressive script of about ten scans decodes.
    options.scanPerCoefficient = false;
    EXPECT_EQ(DecodeJpeg(EncodeJpeg(QuarterPicture(64, 64), options), "ok.jpg").size(), QSize(64, 64));
}

TEST_F(PictureDecoderTest, BrokenBitmapFilesFailWithAReason)
{
    const QByteArray good = EncodeBmp(QuarterPicture(40, 30));
    ASSERT_EQ(DecodeBmp(good, "good.bmp").size(), QSize(40, 30));
    auto patch32 = [](QByteArray data, int offset, qint32 value) {
        for (int i = 0; i < 4; ++i)
            data[offset + i] = char((quint32(value) >> (8 * i)) & 0xFF);
        return data;
    };
    QByteArray notBitmap = good;
    notBitmap[0] = 'X';
    struct TCase
    {
        const char* name;
        QByteArray data;
        const char* reason;
    };
    const TCase cases[] = {
        { "truncated.bmp", good.left(good.size() - 100), "truncated" },
        { "headercut.bmp", good.left(20), "truncated" },
        { "notbitmap.bmp", notBitmap, "not a bitmap" },
        { "zerowidth.bmp", patch32(good, 18, 0), "zero width" },
        { "zeroheight.bmp", patch32(good, 22, 0), "zero width" },
        { "huge.bmp", patch32(patch32(good, 18, 20000), 22, 20000), "too large" },
        { "negative.bmp", patch32(good, 18, -40), "negative" },
        { "badheader.bmp", patch32(good, 14, 7), "header" },
    };
    for (const TCase& c : cases) {
        const QString path = WriteFile(dir, c.name, c.data);
        const std::string message = ErrorOf([&] { LoadPicture(path); });
        EXPECT_NE(message.find(c.name), std::string::npos) << message;
        EXPECT_NE(message.find(c.reason), std::string::npos) << c.name << ": " << message;
        ErrorOf([&] { ReadPictureSize(path); });
    }
    // Top-down bitmaps (negative height) are fine.
    const QImage topDown = DecodeBmp(patch32(good, 22, -30), "topdown.bmp");
    EXPECT_EQ(topDown.size(), QSize(40, 30));
}

TEST_F(PictureDecoderTest, BmpSuiteGoodFilesLoadBadFilesNeverCrash)
{
    const QString suite = BmpSuiteFolder();
    if (suite.isEmpty())
        GTEST_SKIP() << "MIRAVA_TESTDATA is not set";
    const QStringList good = QDir(suite + "/g").entryList({ "*.bmp" }, QDir::Files);
    ASSERT_FALSE(good.isEmpty());
    for (const QString& name : good) {
        const QString path = suite + "/g/" + name;
        try {
            const QImage image = LoadPicture(path);
            EXPECT_EQ(image.format(), QImage::Format_RGB888) << name.toStdString();
            EXPECT_EQ(image.size(), ReadPictureSize(path)) << name.toStdString();
        } catch (const TPictureError& error) {
            ADD_FAILURE() << error.what();
        }
    }
    // Questionable and bad files: either a clear error or a picture of the size the header gives.
    for (const char* folder : { "/q", "/b" }) {
        for (const QString& name : QDir(suite + folder).entryList({ "*.bmp" }, QDir::Files)) {
            const QString path = suite + folder + "/" + name;
            try {
                const QImage image = LoadPicture(path);
                EXPECT_EQ(image.format(), QImage::Format_RGB888) << name.toStdString();
                EXPECT_FALSE(image.isNull());
            } catch (const TPictureError& error) {
                EXPECT_NE(std::string(error.what()).find(name.toStdString()), std::string::npos);
            }
        }
    }
    // These are plainly broken and must not load.
    for (const char* name : { "shortfile.bmp", "reallybig.bmp", "badwidth.bmp", "badbitcount.bmp",
             "badplanes.bmp", "badheadersize.bmp" }) {
        const QString path = suite + "/b/" + name;
        if (QFile::exists(path)) {
            EXPECT_THROW(LoadPicture(path), TPictureError) << name;
        }
    }
}

// A named pipe, a folder or a link to an endless source named like a picture: every way the program reads a
// picture refuses it at once, naming the file and the reason.
TEST_F(PictureDecoderTest, SpecialFilesAreRefusedWithoutWaiting)
{
    const THangGuard guard;
    for (const char* suffix : { ".jpg", ".bmp" }) {
        for (const TSpecialFile& special : MakeSpecialFiles(dir.path(), "face", suffix)) {
            const std::string full = ErrorOf([&] { LoadPicture(special.path); });
            EXPECT_NE(full.find(special.path.toStdString()), std::string::npos) << full;
            if (!QString(special.kind).contains("pagemap")) {
                const std::string expected
                    = QString(special.kind) == "folder" ? "folder" : "not a regular file";
                EXPECT_NE(full.find(expected), std::string::npos) << special.kind << ": " << full;
            }
            ErrorOf([&] { LoadThumbnail(special.path, QSize(100, 100)); });
            ErrorOf([&] { ReadPictureSize(special.path); });
        }
    }
}

// 1 KB of run-length data cannot fill 10000 x 10000 pixels: the header check refuses such a file before a
// pixel is allocated, and the decode counts what the runs really spell out.
TEST_F(PictureDecoderTest, RleDataThatCannotFillItsPictureIsDamaged)
{
    QByteArray endOfLines;
    for (int i = 0; i < 500; ++i)
        endOfLines += QByteArray("\0\0", 2);
    endOfLines += QByteArray("\0\1", 2);
    for (int bits : { 8, 4 }) {
        const QString name = QString("bomb%1.bmp").arg(bits);
        const QString bomb = WriteFile(dir, name, RleBitmap(10000, 10000, bits, endOfLines));
        for (const std::string& message :
            { ErrorOf([&] { LoadPicture(bomb); }), ErrorOf([&] { ReadPictureSize(bomb); }),
                ErrorOf([&] { LoadThumbnail(bomb, QSize(50, 50)); }) }) {
            EXPECT_NE(message.find("damaged"), std::string::npos) << message;
            EXPECT_NE(message.find(name.toStdString()), std::string::npos) << message;
        }
    }
    // Enough bytes to pass the header's bound, but the runs spell out nothing of 2000 x 2000 pixels.
    QByteArray longBlank;
    for (int i = 0; i < 10000; ++i)
        longBlank += QByteArray("\0\0", 2);
    EXPECT_NE(ErrorOf([&] { DecodeBmp(RleBitmap(2000, 2000, 8, longBlank), "blank.bmp"); }).find("damaged"),
        std::string::npos);

    // Runs that fill the picture, and a small picture ended early, decode.
    QByteArray runs;
    for (int row = 0; row < 40; ++row)
        runs += QByteArray("\xFF\x07\x2D\x03\0\0", 6); // 255 + 45 pixels, end of line
    runs += QByteArray("\0\1", 2);
    for (int bits : { 8, 4 }) {
        const QImage full = DecodeBmp(RleBitmap(300, 40, bits, runs), "runs.bmp");
        EXPECT_EQ(full.size(), QSize(300, 40));
        EXPECT_EQ(DecodeBmp(RleBitmap(64, 64, bits, QByteArray("\x04\x01\0\1", 4)), "early.bmp").size(),
            QSize(64, 64));
    }
}

TEST_F(PictureDecoderTest, BmpSuiteRunLengthFilesLoad)
{
    const QString suite = BmpSuiteFolder();
    if (suite.isEmpty())
        GTEST_SKIP() << "MIRAVA_TESTDATA is not set";
    for (const char* name : { "g/pal4rle.bmp", "g/pal8rle.bmp", "q/pal4rlecut.bmp", "q/pal8rlecut.bmp",
             "q/pal4rletrns.bmp", "q/pal8rletrns.bmp" }) {
        try {
            EXPECT_EQ(LoadPicture(suite + "/" + name).size(), QSize(127, 64)) << name;
            EXPECT_EQ(ReadPictureSize(suite + "/" + name), QSize(127, 64)) << name;
        } catch (const TPictureError& error) {
            ADD_FAILURE() << error.what();
        }
    }
}
