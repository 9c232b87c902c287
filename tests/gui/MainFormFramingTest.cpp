#include "AppTestSupport.h"
#include "app/FileWorker.h"
#include "app/FramingWorker.h"
#include "app/MemoryFile.h"
#include "input/Framing.h"
#include "pictures/Image.h"

#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSemaphore>
#include <deque>
#include <zlib.h>

namespace {
// A picture four times the window's size with the person in its middle, on a shaded background.
QImage Scene(int person)
{
    QImage scene(400, 300, QImage::Format_RGB888);
    for (int y = 0; y < scene.height(); ++y) {
        for (int x = 0; x < scene.width(); ++x)
            scene.setPixelColor(x, y, QColor(90 + x / 8, 90 + y / 8, 120));
    }
    QPainter painter(&scene);
    painter.drawImage(QRect(125, 75, 150, 150), StripedPerson(person));
    return scene;
}

QImage WindowOf(const TInputPattern& pattern)
{
    return PatternImage(pattern).convertToFormat(QImage::Format_RGB888);
}

int PixelsOf(const QImage& image, const QColor& colour)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            count += image.pixelColor(x, y) == colour;
    }
    return count;
}
} // namespace

// The framing in the window: from app.ini, through the framing button, off the GUI thread, shown over the
// large view and in the window view.
class Framing : public TWindowTest
{
protected:
    int IndexOf(const QString& path) const
    {
        for (int i = 0; i < form->PicturList->Count(); ++i) {
            if (form->PicturList->Items(i)->FileName() == path)
                return i;
        }
        ADD_FAILURE() << path.toStdString() << " is not listed";
        return 0;
    }

    void ChooseFile(const QString& path) { Choose(IndexOf(path)); }

    const TFramer framer;
};

TEST_F(Framing, ComesFromAppIniIsCycledByTheButtonAndIsKeptAtClose)
{
    const QByteArray global = "[globalconst]\nsubfieldXcount=5\nsubfieldYcount=4\nsubfieldworkcount=16\n";
    WriteBytes(App("app.ini"), global + "\n[mirava]\nframing=fit\n");
    TMainForm& window = Start();
    EXPECT_EQ(window.Memo.Framing, TFraming::Fit);
    EXPECT_EQ(window.StatusPanel2->text(), QStringLiteral("Framing: fit"));
    // Nothing is memorised: the button changes the framing at once and asks nothing.
    Command("4");
    EXPECT_EQ(window.Memo.Framing, TFraming::Face);
    EXPECT_EQ(window.StatusText(),
        QStringLiteral("Framing \"face\": the face in each picture is found and scaled into the window"));
    EXPECT_EQ(window.StatusPanel2->text(), QStringLiteral("Framing: face"));
    Command("4");
    EXPECT_EQ(window.Memo.Framing, TFraming::Corner);
    EXPECT_EQ(window.StatusText(),
        QStringLiteral("Framing \"corner\": the top-left 100 x 100 pixels of each picture are used"));
    Command("4");
    Command("4");
    EXPECT_TRUE(Dialogs.isEmpty());
    EXPECT_TRUE(Messages.isEmpty());
    window.close();
    EXPECT_EQ(ReadBytes(App("app.ini")), global + "\n[mirava]\nframing=face\n");
}

TEST_F(Framing, TheShownPictureIsFramedAndWhatWasSampledIsShown)
{
    const QString scene = App("scene.bmp");
    ASSERT_TRUE(Scene(2).save(scene));
    SavePerson(1, App("small.bmp"));
    TMainForm& window = Start();

    // The window view sits in the picture column beside the name and the memorised picture, apart from
    // them and from the large view.
    EXPECT_EQ(window.Image3->size(), QSize(100, 100));
    const QRect parts[] = { window.Label1->geometry(), window.Label2->geometry(), window.Image2->geometry(),
        window.Image3->geometry(), window.Panel4->geometry() };
    for (const QRect& part : parts) {
        EXPECT_TRUE(window.Panel3->rect().contains(part)) << part.x() << "," << part.y();
        for (const QRect& other : parts)
            EXPECT_TRUE(&part == &other || !part.intersects(other)) << part.x() << "," << part.y();
    }

    // "corner" on a large picture: the status bar says once that only its corner is used, the window view
    // shows that corner, and the corner is marked over the picture.
    ChooseFile(scene);
    EXPECT_EQ(window.StatusText(),
        QStringLiteral(
            "Only the top-left 100 x 100 pixels of 400 x 300 are used: framing \"face\" finds the face"));
    EXPECT_EQ(window.Image3->Picture(), WindowOf(framer.FrameFile(scene, TFraming::Corner).Pattern));
    const QRect drawn = window.Image1->DrawRect();
    ASSERT_FALSE(drawn.isEmpty());
    const QSizeF scale(drawn.width() / 400.0, drawn.height() / 300.0);
    EXPECT_EQ(window.Image1->FrameShown().boundingRect(),
        QRectF(drawn.topLeft(), QSizeF(100 * scale.width(), 100 * scale.height())));
    const QImage shown = window.Image1->grab().toImage().convertToFormat(QImage::Format_RGB888);
    EXPECT_GT(PixelsOf(shown, TImage::FrameColour), int(4 * 100 * scale.width())) << "the frame is not drawn";
    window.StatusPanel0->setText("other");
    ChooseFile(App("small.bmp"));
    EXPECT_EQ(window.StatusText(), QStringLiteral("other")); // a small picture says nothing
    EXPECT_EQ(window.Image3->Picture(), WindowOf(SampleCorner(StripedPerson(1))));
    ChooseFile(scene);
    EXPECT_EQ(window.StatusText(), QStringLiteral("other")); // said once per picture

    // "fit": the whole picture is marked and fitted into the window view.
    Command("4");
    EXPECT_TRUE(window.FramingPending()) << "the picture was framed on the window's thread";
    WaitForPictures();
    EXPECT_EQ(window.Image3->Picture(), WindowOf(framer.FrameFile(scene, TFraming::Fit).Pattern));
    EXPECT_EQ(window.Image1->FrameShown().boundingRect(), QRectF(drawn));
    EXPECT_EQ(window.Label2->text(), QStringLiteral("Window (fit)"));

    // "face": the window view and the marks are the framer's, and so is what the status bar says.
    Command("4");
    WaitForPictures();
    const TFramedPicture face = framer.FrameFile(scene, TFraming::Face);
    EXPECT_EQ(window.Image3->Picture(), WindowOf(face.Pattern));
    if (!face.Note.isEmpty()) {
        EXPECT_EQ(window.StatusText(), face.Note);
    }
    EXPECT_EQ(window.Image1->BoxShown().isEmpty(), !face.FaceFound);
}

// Memorise and recognise given while the chosen picture is being framed act on it, in the framing in use,
// once its pattern is in.
TEST_F(Framing, CommandsGivenWhileThePictureIsFramedActOnItOnceFramed)
{
    for (int p = 0; p < 3; ++p)
        SavePerson(p, App(QStringLiteral("person%1.bmp").arg(p)));
    TMainForm& window = Start();
    Command("3");
    Choose(0);
    window.Edit2->setText("Anna");
    Command("8");
    ASSERT_EQ(window.Memo.UsedSlotCount(), 1);
    Messages.clear();

    QSemaphore gate;
    window.FramingWorker->BeforeWork = [&gate] { gate.acquire(); };
    window.PicturList->SetSelectedIndex(2);
    window.PicturList->SelectionChanged();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Image1->IsLoading(); }, 30'000));
    ASSERT_TRUE(window.FramingPending());
    window.Edit2->setText("Cleo");
    Command("8");
    EXPECT_EQ(window.Memo.UsedSlotCount(), 1) << "memorised before the pattern was in";
    gate.release();
    WaitForPictures();
    ASSERT_EQ(window.Memo.UsedSlotCount(), 2);
    EXPECT_EQ(window.Memo.FileList[1], App("person2.bmp"));
    EXPECT_EQ(window.Memo.Patterns[1],
        PatternBytes(framer.FrameFile(App("person2.bmp"), TFraming::Corner).Pattern));

    // Recognise waits the same way, and the second status panel shows the winner's and the runner-up's
    // outputs; the first keeps its texts.
    window.PicturList->SetSelectedIndex(0);
    window.PicturList->SelectionChanged();
    Command("6");
    EXPECT_TRUE(window.Label1->text().isEmpty());
    gate.release();
    WaitForPictures();
    window.FramingWorker->BeforeWork = nullptr;
    EXPECT_EQ(window.Label1->text(), QStringLiteral("Anna"));
    const QRegularExpression outputs(QStringLiteral(R"(^Anna \d+\.\d\d · next Cleo -?\d+\.\d\d$)"));
    EXPECT_TRUE(outputs.match(window.StatusPanel1->text()).hasMatch())
        << window.StatusPanel1->text().toStdString();
    EXPECT_TRUE(window.StatusText().startsWith("OK! (Time: ")) << window.StatusText().toStdString();
    ASSERT_EQ(Messages.size(), 1); // memorise's OK
    // A new picture takes the outputs away with the match.
    Choose(1);
    EXPECT_TRUE(window.StatusPanel1->text().isEmpty());
}

namespace {
// Each person's picture at 160 x 160, so that "corner" and "fit" sample different windows of it.
QImage LargerPerson(int person)
{
    return StripedPerson(person).scaled(160, 160);
}

void PutU32(QByteArray& bytes, qsizetype at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

// The memory file as format 1 wrote it: without the framing and the patterns.
QByteArray AsFormatOne(QByteArray bytes, int usedSlots, const QString& framing)
{
    bytes.chop(4 + SlotCount * 4 + usedSlots * SampleSize * SampleSize + 4 + framing.size());
    PutU32(bytes, 8, 1);
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.constData()), uInt(bytes.size()));
    bytes.resize(bytes.size() + 4);
    PutU32(bytes, bytes.size() - 4, uint32_t(crc));
    return bytes;
}
} // namespace

// A memory never mixes framings: changing the framing frames the memorised persons again, and Open takes
// the framing of the memory it opens.
class FramingOfMemories : public Framing
{
protected:
    void SetUp() override
    {
        Framing::SetUp();
        AnswerDialogsInTurn();
    }

    // Three persons' pictures; Anna and Bert memorised in "corner", nothing saved.
    TMainForm& StartWithTwoMemorised()
    {
        for (int p = 0; p < 3; ++p)
            EXPECT_TRUE(LargerPerson(p).save(App(QStringLiteral("person%1.bmp").arg(p))));
        TMainForm& window = Start();
        Command("3");
        for (const auto& [person, name] : { std::pair { 0, "Anna" }, std::pair { 1, "Bert" } }) {
            Choose(person);
            window.Edit2->setText(QString::fromLatin1(name));
            Command("8");
        }
        Messages.clear();
        Dialogs.clear();
        return window;
    }

    static std::function<int(QDialog&)> Press(QMessageBox::StandardButton button)
    {
        return [button](QDialog&) { return int(button); };
    }
    static std::function<int(QDialog&)> PickFile(const QString& path)
    {
        return [path](QDialog& dialog) {
            static_cast<QFileDialog&>(dialog).selectFile(path);
            return int(QDialog::Accepted);
        };
    }

    void ExpectRecognised(TMainForm& window)
    {
        for (const int person : { 1, 0 }) {
            Choose(person);
            Command("6");
            WaitForPictures();
            EXPECT_EQ(window.Edit2->text(), window.Memo.NameList[person]);
        }
    }
};

TEST_F(FramingOfMemories, CyclingAsksAndFramesTheMemorisedPersonsAgainOnTheWorker)
{
    TMainForm& window = StartWithTwoMemorised();
    const std::vector<TPatternBytes> cornerPatterns = window.Memo.Patterns;
    const QStringList names = window.Memo.NameList;
    const QStringList files = window.Memo.FileList;

    // No: the framing stays, and so does the memory.
    Answers = { Press(QMessageBox::No) };
    Command("4");
    EXPECT_EQ(Questions, QStringList { "Frame the memories of 2 persons again with \"fit\"?" });
    EXPECT_EQ(Dialogs, QStringList { "FramingQuestion" });
    EXPECT_EQ(window.Memo.Framing, TFraming::Corner);
    EXPECT_EQ(window.Memo.Patterns, cornerPatterns);
    EXPECT_FALSE(window.MemoryFileBusy());

    // Yes: the persons are framed again on the worker; meanwhile the memory commands are refused.
    QSemaphore hold;
    window.MemoryFileWorker->BeforeWork = [&hold] { hold.acquire(); };
    Answers = { Press(QMessageBox::Yes) };
    Command("4");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Framing again…"));
    ASSERT_TRUE(window.MemoryFileBusy());
    Choose(2);
    window.Edit2->setText("Carla");
    Command("8");
    Command("4");
    EXPECT_EQ(window.StatusText(), QStringLiteral("Framing again…"));
    hold.release();
    WaitForMemoryFile();
    window.MemoryFileWorker->BeforeWork = nullptr;
    EXPECT_EQ(window.StatusText(), QStringLiteral("Framed 2 persons again with \"fit\""));
    EXPECT_EQ(window.Memo.Framing, TFraming::Fit);
    EXPECT_EQ(window.StatusPanel2->text(), QStringLiteral("Framing: fit"));
    EXPECT_EQ(window.Memo.UsedSlotCount(), 2);
    EXPECT_EQ(window.Memo.NameList, names);
    EXPECT_EQ(window.Memo.FileList, files);
    for (int slot = 0; slot < 2; ++slot) {
        EXPECT_EQ(
            window.Memo.Patterns[slot], PatternBytes(framer.FrameFile(files[slot], TFraming::Fit).Pattern));
        EXPECT_NE(window.Memo.Patterns[slot], cornerPatterns[slot]);
    }
    EXPECT_TRUE(window.MemoriesUnsaved());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    ExpectRecognised(window);
}

TEST_F(FramingOfMemories, APictureThatNoLongerReadsLeavesEverythingAsItWas)
{
    TMainForm& window = StartWithTwoMemorised();
    const TNeuralNetwork* network = window.Memo.Networks[0].get();
    const std::vector<TPatternBytes> patterns = window.Memo.Patterns;
    ASSERT_TRUE(QFile::remove(App("person1.bmp")));
    window.StatusPanel0->setText("before");
    Answers = { Press(QMessageBox::Yes) };
    Command("4");
    WaitForMemoryFile();
    EXPECT_EQ(Messages,
        QStringList {
            "The memories cannot be framed with \"fit\", as the pictures of Bert (slot 1) no longer "
            "read. Nothing was changed" });
    EXPECT_EQ(window.StatusText(), QStringLiteral("before"));
    EXPECT_EQ(window.Memo.Framing, TFraming::Corner);
    EXPECT_EQ(window.Memo.Networks[0].get(), network);
    EXPECT_EQ(window.Memo.Patterns, patterns);
    EXPECT_EQ(window.Memo.UsedSlotCount(), 2);
    ExpectRecognised(window);
}

TEST_F(FramingOfMemories, OpenSwitchesToTheFramingOfTheMemoryAndSaysWhatChanged)
{
    TMainForm& window = StartWithTwoMemorised();
    Answers = { Press(QMessageBox::Yes) };
    Command("4");
    WaitForMemoryFile();
    ASSERT_EQ(window.Memo.Framing, TFraming::Fit);
    const QString fitFile = Work("fit.mmem");
    Answers = { PickFile(fitFile) };
    Command("1");
    WaitForMemoryFile();
    ASSERT_TRUE(QFileInfo(fitFile).isFile());
    const QString oldFile = Work("old.mmem");
    WriteBytes(oldFile, AsFormatOne(ReadBytes(fitFile), 2, "fit"));

    // Started again in "corner", the window opens the memory framed "fit" and switches to it.
    window.close();
    form.reset();
    WriteBytes(App("app.ini"), "[mirava]\nframing=corner\n");
    ASSERT_TRUE(Scene(0).save(App("scene.bmp")));
    TMainForm& again = Start();
    Choose(2);
    ASSERT_EQ(again.Memo.Framing, TFraming::Corner);
    Answers = { PickFile(fitFile) };
    Command("2");
    WaitForMemoryFile();
    EXPECT_EQ(again.StatusText(),
        QStringLiteral("Opened 2 persons from %1; framing \"fit\" is now in use").arg(fitFile));
    EXPECT_EQ(again.Memo.Framing, TFraming::Fit);
    EXPECT_EQ(again.StatusPanel2->text(), QStringLiteral("Framing: fit"));
    WaitForPictures(); // the shown picture is framed again
    EXPECT_EQ(again.Image3->Picture(), WindowOf(framer.FrameFile(App("person2.bmp"), TFraming::Fit).Pattern));
    ExpectRecognised(again);

    // A file of format 1 was framed "corner"; its patterns are made again from the pictures that still read,
    // and the status bar names the slot that is not rehearsed.
    ASSERT_TRUE(QFile::remove(App("person1.bmp")));
    ChooseFile(App("scene.bmp"));
    Answers = { PickFile(oldFile) };
    Command("2");
    WaitForMemoryFile();
    const QString opened = QStringLiteral("Opened 2 persons from %1; framing \"corner\" is now in use; not "
                                          "rehearsed, as their pictures no longer read: Bert (slot 1)")
                               .arg(oldFile);
    EXPECT_EQ(again.StatusText(), opened);
    // The large picture framed again in "corner" leaves that message in the status bar and tells its
    // note beside the window view.
    WaitForPictures();
    EXPECT_EQ(again.StatusText(), opened);
    EXPECT_EQ(
        again.Label2->text(), QStringLiteral("Window (corner)\nOnly the top-left 100 x 100 pixels are used"));
    EXPECT_EQ(again.Memo.Framing, TFraming::Corner);
    EXPECT_EQ(
        again.Memo.Patterns[0], PatternBytes(framer.FrameFile(App("person0.bmp"), TFraming::Corner).Pattern));
    EXPECT_TRUE(again.Memo.Patterns[1].empty());
    EXPECT_TRUE(Messages.isEmpty()) << Messages.join('\n').toStdString();
    again.close();
    EXPECT_TRUE(ReadBytes(App("app.ini")).startsWith("[mirava]\nframing=corner\n\n[globalconst]\n"));
}
