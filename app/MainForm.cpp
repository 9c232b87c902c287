#include "app/MainForm.h"

#include "app/AboutBox.h"
#include "app/AppError.h"
#include "app/FileWorker.h"
#include "app/FolderIconProvider.h"
#include "app/FolderLister.h"
#include "app/FramingWorker.h"
#include "app/MemoryFile.h"
#include "app/MemoryFolderLock.h"
#include "app/Messages.h"
#include "app/QuitSignals.h"
#include "app/TextFiles.h"
#include "pictures/FileName.h"
#include "pictures/Image.h"
#include "pictures/PictureDecoder.h"
#include "skin/TransparentMoviePlayerControl.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFrame>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

namespace {
const QColor SkyBlue(166, 202, 240);
const QString CommandName = QStringLiteral("buttoncomand");
const QString SetUpFirst = QStringLiteral("Set up the network first");
const QString ChooseFirst = QStringLiteral("Choose a picture first");
const QString NothingMemorised = QStringLiteral("Nothing memorized yet");

QString Persons(int count)
{
    return count == 1 ? QStringLiteral("1 person") : QStringLiteral("%1 persons").arg(count);
}

constexpr int ClientWidth = 953;
constexpr int ClientHeight = 680;
constexpr int SkinHeight = 190;
constexpr int FolderColumnWidth = 177;
constexpr int PictureColumnWidth = 313;
constexpr int StatusHeight = 32;
constexpr int StatusPanelWidth = 600;
constexpr int SmallViewWidth = 99;
constexpr int SmallViewHeight = 102;
constexpr int NameHeight = 22; // Label1's line above the window view

// What the status bar says when a framing comes into use.
QString FramingText(TFraming framing)
{
    switch (framing) {
    case TFraming::Corner:
        return QStringLiteral("Framing \"corner\": the top-left 100 x 100 pixels of each picture are used");
    case TFraming::Fit:
        return QStringLiteral("Framing \"fit\": each picture is scaled whole into the window");
    case TFraming::Face:
        return QStringLiteral(
            "Framing \"face\": the face in each picture is found and scaled into the window");
    }
    return QString();
}

// A picture this much larger than the window loses most of itself to "corner".
bool MuchLargerThanTheWindow(QSize size)
{
    return size.width() > 2 * SampleSize || size.height() > 2 * SampleSize;
}

QString OneLine(QString text)
{
    return text.replace(u'\r', u' ').replace(u'\n', u' ');
}

// "anna 97.50 · next bodo 12.31": the winning slot's output and the strongest other used slot's.
QString OutputsText(
    const TMemoProcessor::TRecognition& result, const QStringList& names, const QStringList& trained)
{
    const auto output = [&](int slot) {
        return size_t(slot) < result.Outputs.size() ? result.Outputs[size_t(slot)] : 0.0f;
    };
    QString text = QStringLiteral("%1 %2")
                       .arg(OneLine(names.value(result.BestSlot)))
                       .arg(output(result.BestSlot), 0, 'f', 2);
    int next = -1;
    for (int slot = 0; slot < SlotCount && slot < trained.size(); ++slot) {
        if (slot != result.BestSlot && trained[slot] == u"1" && (next < 0 || output(slot) > output(next)))
            next = slot;
    }
    if (next >= 0)
        text += QStringLiteral(" · next %1 %2").arg(OneLine(names.value(next))).arg(output(next), 0, 'f', 2);
    return text;
}

struct TEditPlace
{
    const char* name;
    int left, top, width;
};
constexpr TEditPlace EditPlaces[] = {
    { "Edit1", 179, 52, 106 },
    { "Edit2", 614, 50, 248 },
    { "Edit3", 614, 70, 152 },
    { "Edit4", 614, 90, 242 },
    { "Edit5", 614, 110, 195 },
    { "Edit6", 614, 130, 206 },
    { "Edit7", 614, 150, 91 },
    { "Edit8", 614, 170, 219 },
};

// Shows the busy cursor for as long as it lives.
class TBusyCursor
{
public:
    TBusyCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TBusyCursor() { QGuiApplication::restoreOverrideCursor(); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

QString OkText(std::chrono::steady_clock::time_point start)
{
    return QStringLiteral("OK! (Time: ")
        + TMemoProcessor::FormatElapsed(std::chrono::steady_clock::now() - start) + QStringLiteral(")");
}

// "x,y,w,h" of a widget, or of a part of it, in screen coordinates; empty while it is hidden.
QString ScreenRect(const QWidget* widget, QRect local = QRect())
{
    if (!widget || !widget->isVisible())
        return QString();
    if (local.isNull())
        local = widget->rect();
    const QPoint topLeft = widget->mapToGlobal(local.topLeft());
    return QStringLiteral("%1,%2,%3,%4")
        .arg(topLeft.x())
        .arg(topLeft.y())
        .arg(local.width())
        .arg(local.height());
}

// One "key=value" line of a report; line breaks in the value become spaces.
QString ReportLine(const QString& key, QString value)
{
    value.replace(u'\r', u' ').replace(u'\n', u' ');
    return key + u'=' + value + u'\n';
}

QString SizeText(const TImage* image)
{
    if (image->IsEmpty())
        return QString();
    return QStringLiteral("%1x%2").arg(image->Picture().width()).arg(image->Picture().height());
}

QFrame* MakePanel(QWidget* parent, const QString& name)
{
    auto* panel = new QFrame(parent);
    panel->setObjectName(name);
    return panel;
}
} // namespace

TSkinEdit::TSkinEdit(QWidget* parent)
    : QLineEdit(parent)
{
    setFrame(false);
    SetSunken(false);
}

void TSkinEdit::SetSunken(bool value)
{
    sunken = value;
    const QString background = QStringLiteral("background-color: rgb(166, 202, 240);");
    setStyleSheet(sunken ? background + QStringLiteral(" border: 1px inset rgb(128, 128, 128);")
                         : background + QStringLiteral(" border: none;"));
}

void TSkinEdit::focusInEvent(QFocusEvent* event)
{
    SetSunken(true);
    QLineEdit::focusInEvent(event);
}

void TSkinEdit::focusOutEvent(QFocusEvent* event)
{
    SetSunken(false);
    QLineEdit::focusOutEvent(event);
}

void TSkinEdit::mousePressEvent(QMouseEvent* event)
{
    SetSunken(true);
    QLineEdit::mousePressEvent(event);
}

void TShellTreeView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QModelIndex index = indexAt(event->position().toPoint());
        if (index.isValid())
            setCurrentIndex(index);
        event->accept();
        return;
    }
    QTreeView::mousePressEvent(event);
}

TMyPicturList::TMyPicturList(TMainForm* mainForm, QWidget* parent)
    : TPicturList(parent)
    , mainForm(mainForm)
{ }

void TMyPicturList::SelectionChanged()
{
    mainForm->ShowPicture(SelectedIndex());
}

TMainForm::TMainForm(const QString& appFolder, QWidget* parent)
    : QMainWindow(parent)
    , AppFolder(
          FolderPathWithSeparator(appFolder.isEmpty() ? QCoreApplication::applicationDirPath() : appFolder))
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
        | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    // A single fixed border: the user cannot resize the window.
    setFixedSize(ClientWidth, ClientHeight);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, SkyBlue);
    setPalette(palette);
    setWindowIcon(TAboutBox::ProgramPicture());

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("ClientArea"));
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCentralWidget(central);

    // The skin panel across the top, with the eight text fields at their places over the skin.
    Panel6 = new QWidget(central);
    Panel6->setObjectName(QStringLiteral("Panel6"));
    Panel6->setFixedHeight(SkinHeight);
    layout->addWidget(Panel6);
    TSkinEdit** edits[] = { &Edit1, &Edit2, &Edit3, &Edit4, &Edit5, &Edit6, &Edit7, &Edit8 };
    for (size_t i = 0; i < std::size(edits); ++i) {
        auto* edit = new TSkinEdit(Panel6);
        edit->setObjectName(QString::fromLatin1(EditPlaces[i].name));
        edit->setGeometry(EditPlaces[i].left, EditPlaces[i].top, EditPlaces[i].width, 16);
        *edits[i] = edit;
    }
    for (size_t i = 0; i + 1 < std::size(edits); ++i)
        QWidget::setTabOrder(*edits[i], *edits[i + 1]);

    // Three columns: folder tree | picture list | picture view.
    Splitter2 = new QSplitter(Qt::Horizontal, central);
    Splitter2->setObjectName(QStringLiteral("Splitter2"));
    Splitter1 = new QSplitter(Qt::Horizontal, Splitter2);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    layout->addWidget(Splitter2, 1);

    Panel1 = MakePanel(Splitter1, QStringLiteral("Panel1"));
    auto* panel1Layout = new QVBoxLayout(Panel1);
    panel1Layout->setContentsMargins(0, 0, 0, 0);
    // The tree lists folders only and never looks into a file: its model would otherwise guess every entry's
    // type from its contents, on the GUI thread, and hang on /proc/kmsg or a named pipe.
    FolderIcons = std::make_unique<TFolderIconProvider>();
    FolderModel = new QFileSystemModel(this);
    FolderModel->setObjectName(QStringLiteral("FolderModel"));
    FolderModel->setIconProvider(FolderIcons.get());
    FolderModel->setOption(QFileSystemModel::DontWatchForChanges, true);
    FolderModel->setOption(QFileSystemModel::DontUseCustomDirectoryIcons, true);
    FolderModel->setFilter(QDir::AllDirs | QDir::Drives | QDir::NoDotAndDotDot);
    FolderModel->setRootPath(QStringLiteral("/"));
    ShellTreeView1 = new TShellTreeView(Panel1);
    ShellTreeView1->setObjectName(QStringLiteral("ShellTreeView1"));
    ShellTreeView1->setModel(FolderModel);
    for (int column = 1; column < FolderModel->columnCount(); ++column)
        ShellTreeView1->hideColumn(column);
    ShellTreeView1->header()->hide();
    ShellTreeView1->setSelectionMode(QAbstractItemView::SingleSelection);
    panel1Layout->addWidget(ShellTreeView1);
    connect(ShellTreeView1->selectionModel(), &QItemSelectionModel::currentChanged, this,
        [this](const QModelIndex&, const QModelIndex&) { ShellTreeView1Change(); });
    followTimer.setSingleShot(true);
    followTimer.setInterval(50);
    connect(&followTimer, &QTimer::timeout, this, &TMainForm::BringCurrentFolderIntoView);
    FolderLister = new TFolderLister(this);
    MemoryFileWorker = new TFileWorker(this);
    // The headers the list reads of its first pictures are read with the listing, off the GUI thread.
    FolderLister->SetSizesRead(TPicturList::HeadersReadUpTo);
    connect(FolderLister, &TFolderLister::Listed, this, &TMainForm::ShowFolderListing);
    fillTimer.setSingleShot(true);
    fillTimer.setInterval(0);
    connect(&fillTimer, &QTimer::timeout, this, &TMainForm::FillPictureList);
    connect(FolderModel, &QAbstractItemModel::rowsInserted, this, &TMainForm::FollowCurrentFolder);
    connect(FolderModel, &QAbstractItemModel::layoutChanged, this, &TMainForm::FollowCurrentFolder);
    connect(FolderModel, &QFileSystemModel::directoryLoaded, this, &TMainForm::FollowCurrentFolder);
    connect(ShellTreeView1->verticalScrollBar(), &QScrollBar::rangeChanged, this,
        &TMainForm::FollowCurrentFolder);
    connect(ShellTreeView1->verticalScrollBar(), &QScrollBar::actionTriggered, this,
        &TMainForm::StopFollowingCurrentFolder);
    ShellTreeView1->installEventFilter(this);
    ShellTreeView1->viewport()->installEventFilter(this);

    Panel2 = MakePanel(Splitter1, QStringLiteral("Panel2"));

    Panel3 = MakePanel(Splitter2, QStringLiteral("Panel3"));
    Path = new QLineEdit(Panel3);
    Path->setObjectName(QStringLiteral("Path"));
    Path->setReadOnly(true);
    Label1 = new QLabel(Panel3);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setTextFormat(Qt::PlainText); // a person's name, never markup
    QFont labelFont = Label1->font();
    labelFont.setBold(true);
    labelFont.setPixelSize(16);
    Label1->setFont(labelFont);
    Image2 = new TImage(Panel3);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->SetProportional(true);
    Image2->SetStretch(true);
    Image3 = new TImage(Panel3);
    Image3->setObjectName(QStringLiteral("Image3"));
    Image3->setFixedSize(SampleSize, SampleSize); // pixel for pixel, as the network receives it
    Image3->setToolTip(QStringLiteral("The window of the picture as the network receives it"));
    Label2 = new QLabel(Panel3);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setTextFormat(Qt::PlainText);
    Label2->setWordWrap(true);
    Label2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QFont captionFont = Label2->font();
    captionFont.setPixelSize(11);
    Label2->setFont(captionFont);
    Panel4 = MakePanel(Panel3, QStringLiteral("Panel4"));
    Panel4->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel4->setAutoFillBackground(true);
    QPalette white = Panel4->palette();
    white.setColor(QPalette::Window, Qt::white);
    Panel4->setPalette(white);
    auto* panel4Layout = new QVBoxLayout(Panel4);
    panel4Layout->setContentsMargins(2, 2, 2, 2);
    Image1 = new TImage(Panel4);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->SetCenter(true);
    Image1->SetProportional(true);
    Image1->SetStretch(true);
    panel4Layout->addWidget(Image1);
    Panel3->installEventFilter(this);
    // Pictures are decoded on a worker; a command given while the chosen picture is still loading
    // runs once it is in.
    connect(Image1, &TImage::PictureLoaded, this, [this](const QString& path) {
        shownPicture = path;
        // The match belongs to the picture shown before; a name typed while this one was loading stays.
        if (Edit2->text() == nameWhenChosen)
            Edit2->clear();
        Label1->clear();
        Image2->Clear();
        StatusPanel1->clear();
        ShowFraming();
        RunCommandAfterLoad();
    });
    connect(Image1, &TImage::PictureLoadFailed, this, [this](const QString&, const QString& message) {
        commandAfterLoad.reset();
        // The picture shown before stays, and so memorise and recognise go on with its pattern.
        chosenPicture = shownPicture;
        if (!chosenPicture.isEmpty())
            FrameChosenPicture();
        else
            FramingWorker->Cancel();
        ShowMessage(message);
    });
    FramingWorker = new TFramingWorker(nullptr, this);
    connect(FramingWorker, &TFramingWorker::Framed, this, &TMainForm::PictureFramed);
    connect(FramingWorker, &TFramingWorker::FramingFailed, this,
        [this](
            const QString& path, TFraming, const QString& message) { PictureFramingFailed(path, message); });
    // Recognition is done when the memorised picture is in beside the name; a failure leaves the
    // status at "Recognize".
    connect(Image2, &TImage::PictureLoaded, this, [this] {
        if (recognisedAt)
            SetStatus(OkText(*recognisedAt));
        recognisedAt.reset();
    });
    connect(Image2, &TImage::PictureLoadFailed, this, [this](const QString&, const QString& message) {
        recognisedAt.reset();
        ShowMessage(message);
    });

    Splitter1->addWidget(Panel1);
    Splitter1->addWidget(Panel2);
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);
    Splitter2->addWidget(Splitter1);
    Splitter2->addWidget(Panel3);
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setStretchFactor(1, 0);
    const int handle = Splitter2->handleWidth();
    Splitter2->setSizes({ ClientWidth - PictureColumnWidth - handle, PictureColumnWidth });
    Splitter1->setSizes(
        { FolderColumnWidth, ClientWidth - PictureColumnWidth - FolderColumnWidth - 2 * handle });

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setFixedHeight(StatusHeight);
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel0->setTextFormat(Qt::PlainText); // messages name files and persons
    StatusPanel0->setFixedWidth(StatusPanelWidth);
    StatusBar1->addWidget(StatusPanel0);
    StatusPanel1 = new QLabel(StatusBar1);
    StatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
    StatusPanel1->setTextFormat(Qt::PlainText);
    StatusBar1->addWidget(StatusPanel1, 1);
    StatusPanel2 = new QLabel(StatusBar1);
    StatusPanel2->setObjectName(QStringLiteral("StatusPanel2"));
    StatusPanel2->setTextFormat(Qt::PlainText);
    StatusBar1->addPermanentWidget(StatusPanel2);
    setStatusBar(StatusBar1);

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setOption(QFileDialog::DontUseNativeDialog, true);
    SaveDialog1->setNameFilter(QString::fromLatin1(MemoryFile::DialogFilter));
    SaveDialog1->setDefaultSuffix(QString::fromLatin1(MemoryFile::Suffix));
    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setOption(QFileDialog::DontUseNativeDialog, true);
    OpenDialog1->setNameFilter(QString::fromLatin1(MemoryFile::DialogFilter));

    FormCreate();

    AboutBox = new TAboutBox(this);
    AboutBox->hide();
}

TMainForm::~TMainForm()
{
    if (!closed)
        FormClose();
    // The worker reads and writes the memory in Memo: it ends before the members go.
    delete MemoryFileWorker;
    MemoryFileWorker = nullptr;
    // The tree and its model go after the members; they must not reach the follow timer then. A listing still
    // running ends and is not shown.
    StopFollowingCurrentFolder();
    disconnect(ShellTreeView1->selectionModel(), nullptr, this, nullptr);
    delete FolderLister;
    FolderLister = nullptr;
    StopFillingPictureList();
    ShellTreeView1->removeEventFilter(this);
    ShellTreeView1->viewport()->removeEventFilter(this);
    disconnect(FolderModel, nullptr, this, nullptr);
    disconnect(ShellTreeView1->verticalScrollBar(), nullptr, this, nullptr);
    // The model goes before its icon provider does.
    delete FolderModel;
    FolderModel = nullptr;
}

void TMainForm::FormCreate()
{
    Folders = TUserFolders::For(AppFolder);
    Folders.Create();
    Config = TAppConfig::Read(Folders.ConfigFolder + QStringLiteral("app.ini"));
    Memo.StateFilePrefix = Folders.StateFilePrefix;
    Memo.Framing = Config.Framing;
    StatusPanel2->setText(QStringLiteral("Framing: ") + FramingName(Memo.Framing));
    if (Folders.PerUser) {
        SaveDialog1->setDirectory(Folders.DataFolder);
        OpenDialog1->setDirectory(Folders.DataFolder);
    }
    setWindowTitle(QStringLiteral("Mirava"));

    PicturList = new TMyPicturList(this, Panel2);
    PicturList->setObjectName(QStringLiteral("PicturList"));
    PicturList->setGeometry(50, 50, 500, 500);
    PicturList->SetShowHint(true);
    // A picture whose data turns out damaged while its thumbnail is made counts as not shown too.
    connect(PicturList, &TPicturList::ThumbnailFailed, this, &TMainForm::ReportSkippedEntries);
    auto* panel2Layout = new QVBoxLayout(Panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    panel2Layout->addWidget(PicturList);

    LoadSkin();
}

void TMainForm::LoadSkin()
{
    // The skin fills Panel6 from the left, beneath the edit fields, which stay clickable over it. Without
    // skin.mrv or without a player library the panel shows only its background and no command can be given.
    TransparentMoviePlayerControl1 = new TTransparentMoviePlayerControl(Panel6);
    TransparentMoviePlayerControl1->setObjectName(QStringLiteral("TransparentMoviePlayerControl1"));
    TransparentMoviePlayerControl1->setGeometry(0, 0, ClientWidth, SkinHeight);
    TransparentMoviePlayerControl1->lower();
    connect(TransparentMoviePlayerControl1, &TTransparentMoviePlayerControl::OnMovieCommand, this,
        &TMainForm::TransparentMoviePlayerControl1MovieCommand);
    // The framing button shows the framing in use through the movie's variable "framing".
    TransparentMoviePlayerControl1->SetMovieVars(QStringLiteral("framing=") + FramingName(Memo.Framing));
    TransparentMoviePlayerControl1->LoadMovie(0, AppFolder + QStringLiteral("skin.mrv"));
}

void TMainForm::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!shown) {
        shown = true;
        FormShow();
    }
}

void TMainForm::FormShow()
{
    if (const QScreen* screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QPoint(width() / 2, height() / 2));
    }
    SelectFolder(AppFolder);
    // The slot files' folder is this program's while it runs; a second program there says so at once.
    const QString refusal = Memo.LockSlotFolder();
    // What a stop cut short while it wrote the recovered memories left behind.
    if (refusal.isEmpty())
        TMemoryFolderLock::RemoveLeftovers(RecoveredMemoryPath());
    const QFileInfo recovered(RecoveredMemoryPath());
    if (!refusal.isEmpty())
        SetStatus(refusal);
    else if (recovered.isFile())
        SetStatus(QStringLiteral("The memories of the last stop were kept in %1: open it to go on with them")
                      .arg(recovered.absoluteFilePath()));
}

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (!closed && !stopping && MemoryFileBusy()) {
        // A memory file being written or read is never cut off: the window closes once it is done.
        closeWhenMemoryFileDone = true;
        SetStatus(memoryFileBusyText);
        event->ignore();
        return;
    }
    if (!closed && !stopping) {
        const TGoOn goOn = MayLoseMemories([this] { close(); });
        // A stop signal during the question closes the window from inside it.
        if (goOn != TGoOn::Now && !closed) {
            event->ignore();
            return;
        }
    }
    if (!closed)
        FormClose();
    event->accept();
}

int TMainForm::StopBySignal()
{
    stopping = true;
    stopFailures = 0;
    // From here on nothing is shown or asked, and the dialogs that are open close unanswered; they return to
    // whoever opened them once this has ended.
    SetUnattended(true);
    // A Save or Open under way ends first (a file being written is then whole), and its outcome is taken.
    MemoryFileWorker->Finish();
    if (memoriesUnsaved && Memo.HasNetwork() && !closed) {
        const QString path = QFileInfo(RecoveredMemoryPath()).absoluteFilePath();
        try {
            SaveMemoryFile(path, Memo);
            memoriesUnsaved = false;
            WriteErrorLine(QStringLiteral("stopped; the memories of %1 were written to %2")
                               .arg(Persons(Memo.UsedSlotCount()), path));
        } catch (const std::exception& error) {
            WriteErrorLine(QStringLiteral("stopped; the memories could not be kept: %1")
                               .arg(QString::fromUtf8(error.what())));
            ++stopFailures;
        }
    }
    close();
    if (!closed)
        FormClose(); // a window that never came up is closed all the same
    return stopFailures == 0 ? TQuitSignals::AllWritten : TQuitSignals::NotAllWritten;
}

QString TMainForm::RecoveredMemoryPath() const
{
    return Memo.StateFilePrefix + QStringLiteral("recovered.mmem");
}

void TMainForm::FormClose()
{
    closed = true;
    MemoryFileWorker->Finish();
    try {
        Config.Write(Folders.ConfigFolder + QStringLiteral("app.ini"));
    } catch (const std::exception& error) {
        if (stopping) {
            WriteErrorLine(QString::fromUtf8(error.what()));
            ++stopFailures;
        } else {
            ShowMessage(QString::fromUtf8(error.what()));
        }
    }
    FolderLister->Cancel();
    StopFillingPictureList();
    PicturList->FreeItems();
    Memo.ReleaseNetworks();
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Panel3 && event->type() == QEvent::Resize)
        Panel3Resize();
    if (watched == ShellTreeView1 || watched == ShellTreeView1->viewport()) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
            StopFollowingCurrentFolder(); // the user moves in the tree now
            break;
        default:
            break;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TMainForm::Panel3Resize()
{
    const int width = Panel3->width();
    const int height = Panel3->height();
    Path->setGeometry(1, 1, width - 2, Path->sizeHint().height());
    const int top = Path->geometry().bottom() + 4;
    Image2->setGeometry(width - SmallViewWidth - 4, top, SmallViewWidth, SmallViewHeight);
    // The name above the window view, the window's words beside it, the memorised picture on the right.
    const int nameWidth = std::max(0, width - SmallViewWidth - 12);
    Label1->setGeometry(4, top, nameWidth, NameHeight);
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Image3->move(4, top + NameHeight);
    Label2->setGeometry(
        8 + SampleSize, top + NameHeight, std::max(0, nameWidth - SampleSize - 4), SampleSize);
    const int viewTop = std::max(top + SmallViewHeight, top + NameHeight + SampleSize) + 4;
    Panel4->setGeometry(0, viewTop, width, std::max(0, height - viewTop));
}

void TMainForm::SelectFolder(const QString& folder)
{
    QString path = folder;
    if (path.size() > 1 && path.endsWith(u'/'))
        path.chop(1);
    const QModelIndex index = FolderModel->index(path);
    if (!index.isValid())
        return;
    if (ShellTreeView1->currentIndex() == index) {
        ShellTreeView1Change();
        return;
    }
    ShellTreeView1->setCurrentIndex(index);
    // The tree reads the folders along the path in the background, and rows that come in later move the
    // chosen one; it is kept in view until they are all in or the user takes over the tree.
    followCurrentFolder = true;
    BringCurrentFolderIntoView();
}

void TMainForm::BringCurrentFolderIntoView()
{
    const QModelIndex current = ShellTreeView1->currentIndex();
    if (current.isValid())
        ShellTreeView1->scrollTo(current, QAbstractItemView::PositionAtCenter);
}

void TMainForm::FollowCurrentFolder()
{
    // At most one scroll per interval, however many batches of rows come in meanwhile.
    if (followCurrentFolder && !followTimer.isActive())
        followTimer.start();
}

void TMainForm::StopFollowingCurrentFolder()
{
    followCurrentFolder = false;
    followTimer.stop();
}

void TMainForm::ShellTreeView1Change()
{
    // The old folder's pictures and its note go at once; a listing of an earlier change still running is
    // superseded by this one and never shown.
    StopFillingPictureList();
    PicturList->Clear();
    skippedEntries = 0;
    ReportSkippedEntries();
    const QModelIndex current = ShellTreeView1->currentIndex();
    const QString folder = current.isValid() ? FolderModel->filePath(current) : QString();
    CurrentFolder = FolderPathWithSeparator(folder);
    folderListingPending = true;
    FolderLister->List(folder);
}

void TMainForm::ShowFolderListing(const TFolderListing& listing)
{
    // The list was emptied by the folder change that asked for this listing.
    listedFiles = listing.Files;
    listedSizes = listing.Sizes;
    nextListedFile = 0;
    listingError = listing.Error;
    skippedEntries = listing.Skipped;
    folderListingPending = true;
    FillPictureList();
}

void TMainForm::FillPictureList()
{
    const bool firstSlice = nextListedFile == 0;
    QElapsedTimer slice;
    slice.start();
    while (nextListedFile < listedFiles.size()) {
        // A file that cannot be read or decoded is left out; the rest still shows. The first pictures come
        // with their sizes or the failure from the listing's worker, so that the GUI thread reads no file.
        if (nextListedFile < listedSizes.size()) {
            const QSize& size = listedSizes[nextListedFile];
            if (size.isValid())
                PicturList->Add(listedFiles[nextListedFile], size);
            else
                ++skippedEntries;
        } else {
            try {
                PicturList->Add(listedFiles[nextListedFile]);
            } catch (const TPictureError&) {
                ++skippedEntries;
            }
        }
        ++nextListedFile;
        if (slice.elapsed() >= FillSliceMs)
            break;
    }
    // Each slice is laid out before the window draws again; after the first, where the user has scrolled
    // to stays.
    const int position = PicturList->ScrollBar->value();
    PicturList->Arrange();
    if (!firstSlice)
        PicturList->ScrollBar->setValue(position);
    if (nextListedFile < listedFiles.size()) {
        fillTimer.start();
        return;
    }
    listedFiles.clear();
    listedSizes.clear();
    nextListedFile = 0;
    folderListingPending = false;
    if (!listingError.isEmpty()) {
        // An unreadable folder says why; nothing of it is listed, so no count follows to replace this.
        skipMessage = listingError;
        SetStatus(skipMessage);
    } else {
        ReportSkippedEntries();
    }
    emit FolderListed();
}

void TMainForm::StopFillingPictureList()
{
    fillTimer.stop();
    listedFiles.clear();
    listedSizes.clear();
    nextListedFile = 0;
    folderListingPending = false;
}

void TMainForm::ReportSkippedEntries()
{
    const int skipped = skippedEntries + PicturList->BrokenCount();
    if (skipped > 0) {
        const QString message = skipped == 1
            ? QStringLiteral("1 entry could not be shown and was skipped")
            : QStringLiteral("%1 entries could not be shown and were skipped").arg(skipped);
        // A later count replaces the earlier note, but not a command's message that came in between.
        if (skippedEntries == skipped || StatusText() == skipMessage || StatusText().isEmpty())
            SetStatus(message);
        skipMessage = message;
    } else if (!skipMessage.isEmpty() && StatusText() == skipMessage) {
        SetStatus(QString());
    }
}

void TMainForm::ShowPicture(int index)
{
    const QString file = PicturList->Items(index)->FileName();
    Path->setText(ShownFileName(file));
    nameWhenChosen = Edit2->text();
    chosenPicture = file;
    Image1->LoadFromFileLater(file);
    FrameChosenPicture();
}

bool TMainForm::FramingPending() const
{
    return FramingWorker->Busy();
}

void TMainForm::FrameChosenPicture(bool sayNote)
{
    if (chosenPicture.isEmpty())
        return;
    sayFramingNote = sayNote;
    FramingWorker->Frame(chosenPicture, Memo.Framing);
}

void TMainForm::PictureFramed(const QString& path, const TFramedPicture& framed)
{
    framedPath = path;
    framedPicture = framed;
    framingError.clear();
    ShowFraming();
    if (!sayFramingNote) {
        // What the command that framed it again said stays; Label2 tells the note.
    } else if (!framed.Note.isEmpty()) {
        SetStatus(framed.Note);
    } else if (framed.Framing == TFraming::Corner && MuchLargerThanTheWindow(framed.PictureSize)
        && !cornerNoted.contains(path)) {
        cornerNoted.append(path);
        SetStatus(QStringLiteral("Only the top-left 100 x 100 pixels of %1 x %2 are used: framing \"face\" "
                                 "finds the face")
                      .arg(framed.PictureSize.width())
                      .arg(framed.PictureSize.height()));
    }
    RunCommandAfterLoad();
}

void TMainForm::PictureFramingFailed(const QString& path, const QString& message)
{
    framedPath = path;
    framedPicture.reset();
    framingError = message;
    ShowFraming();
    // A command that waits for it learns why when it runs (once the picture is in).
    RunCommandAfterLoad();
}

void TMainForm::ShowFraming()
{
    const bool current = framedPicture && framedPath == shownPicture && framedPicture->Framing == Memo.Framing
        && !Image1->IsEmpty();
    QString caption = QStringLiteral("Window (%1)").arg(FramingName(Memo.Framing));
    if (!current) {
        Image1->ClearMarks();
        Image3->Clear();
        Label2->setText(caption);
        return;
    }
    const TFramedPicture& framed = *framedPicture;
    Image1->SetMarks(framed.Frame, framed.FaceFound ? framed.FaceBox : QRectF(), framed.PictureSize);
    Image3->SetPicture(PatternImage(framed.Pattern));
    if (!framed.Note.isEmpty())
        caption += u'\n' + framed.Note;
    else if (framed.Framing == TFraming::Corner && MuchLargerThanTheWindow(framed.PictureSize))
        caption += QStringLiteral("\nOnly the top-left 100 x 100 pixels are used");
    Label2->setText(caption);
}

TInputPattern TMainForm::ShownPattern() const
{
    if (framedPath == shownPicture && framedPicture && framedPicture->Framing == Memo.Framing)
        return framedPicture->Pattern;
    if (framedPath == shownPicture && !framingError.isEmpty())
        throw TAppError(framingError);
    // Commands wait while the shown picture is framed, so this means its framing was never asked for.
    throw TAppError(QStringLiteral("The picture \"%1\" is not framed").arg(shownPicture));
}

void TMainForm::UseFraming(TFraming framing, bool sayNote)
{
    Memo.Framing = framing;
    Config.Framing = framing;
    StatusPanel2->setText(QStringLiteral("Framing: ") + FramingName(framing));
    TransparentMoviePlayerControl1->SetMovieVars(QStringLiteral("framing=") + FramingName(framing));
    if (!chosenPicture.isEmpty()
        && (FramingWorker->Path() != chosenPicture || FramingWorker->Framing() != framing))
        FrameChosenPicture(sayNote);
    ShowFraming();
}

void TMainForm::CycleFramingCommand()
{
    const TFraming next = NextFraming(Memo.Framing);
    const int used = Memo.UsedSlotCount();
    if (used == 0) {
        UseFraming(next, true);
        SetStatus(FramingText(next));
        return;
    }
    // A memory never mixes framings: its persons are framed again, or the framing stays.
    if (!AskYesNo(QStringLiteral("Frame the memories of %1 again with \"%2\"?")
                      .arg(Persons(used), FramingName(next)),
            QStringLiteral("FramingQuestion")))
        return;
    auto memory = std::make_shared<std::optional<TMemory>>();
    StartMemoryFileWork(
        QStringLiteral("Framing again…"),
        [memory, next, names = Memo.NameList, files = Memo.FileList, trained = Memo.TrainedList,
            framer = FramingWorker->SharedFramer()] {
            std::vector<int> unread;
            *memory = FrameMemoryAgain(names, files, trained, next, *framer, unread);
            if (!*memory)
                throw TAppError(
                    QStringLiteral("The memories cannot be framed with \"%1\", as the pictures of %2 "
                                   "no longer read. Nothing was changed")
                        .arg(FramingName(next), SlotsText(names, unread)));
        },
        [this, memory, used, next] {
            UseMemory(Memo, std::move(**memory));
            memoriesUnsaved = true;
            Edit2->clear();
            Label1->clear();
            Image2->Clear();
            StatusPanel1->clear();
            UseFraming(next, false);
            SetStatus(QStringLiteral("Framed %1 again with \"%2\"").arg(Persons(used), FramingName(next)));
        });
}

void TMainForm::RunCommandAfterLoad()
{
    // The command waits until the chosen picture is in and framed.
    if (!commandAfterLoad || Image1->IsLoading() || FramingPending())
        return;
    const int code = *commandAfterLoad;
    commandAfterLoad.reset();
    TransparentMoviePlayerControl1MovieCommand(CommandName, QString::number(code));
}

void TMainForm::TransparentMoviePlayerControl1MovieCommand(const QString& command, const QString& args)
{
    if (command != CommandName)
        return;
    try {
        const QString trimmed = TrimControl(args);
        const std::optional<int> code = ParseInteger(trimmed);
        if (!code)
            throw TAppError(QStringLiteral("'%1' is not a valid integer value").arg(trimmed));
        if (MemoryFileBusy()
            && (*code == 1 || *code == 2 || *code == 3 || *code == 4 || *code == 6 || *code == 8)) {
            // The memory must not change while it is written or read.
            SetStatus(memoryFileBusyText);
            return;
        }
        if ((*code == 6 || *code == 8) && (Image1->IsLoading() || FramingPending())) {
            // Memorise and recognise act on the picture the user chose, not the one still shown, with the
            // pattern of the framing in use.
            commandAfterLoad = *code;
            return;
        }
        switch (*code) {
        case 0:
            ShowAboutCommand();
            break;
        case 1:
            SaveMemoryCommand();
            break;
        case 2:
            OpenMemoryCommand();
            break;
        case 3:
            if (MayLoseMemories([this] { SetUpNetworkCommand(); }) == TGoOn::Now)
                SetUpNetworkCommand();
            break;
        case 4:
            CycleFramingCommand();
            break;
        case 6:
            RecogniseCommand();
            break;
        case 8:
            MemoriseCommand();
            break;
        default: // 5, 7, 9 are reserved; other codes mean nothing
            break;
        }
    } catch (const std::exception& error) {
        ShowMessage(QString::fromUtf8(error.what()));
    }
}

void TMainForm::ShowAboutCommand()
{
    if (const QScreen* screen = this->screen())
        AboutBox->move(screen->availableGeometry().center() - AboutBox->rect().center());
    RunModal(*AboutBox);
}

namespace {
// Runs a file dialog; the chosen file, or an empty text when it was cancelled.
QString RunFileDialog(QFileDialog& dialog)
{
    const int result = RunModal(dialog);
    // The name field's completion list can outlive the dialog when the Return that accepted the name also
    // accepted the dialog; left open, it would swallow the next click in the window.
    while (QWidget* popup = QApplication::activePopupWidget()) {
        if (!popup->close())
            break;
    }
    return result == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}
} // namespace

bool TMainForm::MemoryFileBusy() const
{
    return MemoryFileWorker->Busy();
}

void TMainForm::StartMemoryFileWork(
    const QString& busyText, std::function<void()> work, std::function<void()> done)
{
    const QString statusBefore = StatusText();
    memoryFileBusyText = busyText;
    SetStatus(busyText);
    MemoryFileWorker->Start(
        std::move(work), [this, statusBefore, done = std::move(done)](std::exception_ptr error) {
            memoryFileBusyText.clear();
            try {
                if (error) {
                    // As before the work: the status bar goes back, and the message says what went wrong.
                    SetStatus(statusBefore);
                    std::rethrow_exception(error);
                }
                done();
            } catch (const std::exception& failure) {
                // Nobody is there to answer a message box when a stop signal ends the program.
                if (stopping) {
                    WriteErrorLine(QString::fromUtf8(failure.what()));
                    ++stopFailures;
                } else {
                    ShowMessage(QString::fromUtf8(failure.what()));
                }
            }
            emit MemoryFileDone();
            if (closeWhenMemoryFileDone && !closed && !stopping) {
                closeWhenMemoryFileDone = false;
                close();
            }
        });
}

bool TMainForm::SaveMemoryCommand(std::function<void()> then)
{
    if (!Memo.HasNetwork()) {
        ShowMessage(SetUpFirst);
        return false;
    }
    QString file = RunFileDialog(*SaveDialog1);
    if (file.isEmpty())
        return false;
    if (QFileInfo(file).suffix().isEmpty())
        file += u'.' + QString::fromLatin1(MemoryFile::Suffix);
    // The worker reads network 0 and the lists; no command changes them until it is done. A memorise from
    // the command line into the same file takes its turn before or after, never in between.
    StartMemoryFileWork(
        QStringLiteral("Saving…"),
        [this, file] {
            std::optional<TMemoryFolderLock> lock;
            try {
                // A stop does not wait for the other program: the memories go to the recovery file instead.
                lock.emplace(file, SaveLockWait, [this] {
                    if (stopping)
                        throw TAppError(QStringLiteral("The program was stopped while another program was "
                                                       "writing a memory file in its folder"));
                });
            } catch (const TAppError& busy) {
                throw TAppError(QStringLiteral("Cannot create file \"%1\". %2")
                                    .arg(file, QString::fromUtf8(busy.what())));
            }
            SaveMemoryFile(file, Memo);
        },
        [this, file, then = std::move(then)] {
            memoriesUnsaved = false;
            SetStatus(QStringLiteral("Saved %1 to %2").arg(Persons(Memo.UsedSlotCount()), file));
            // What was waiting for the save; not once the window closes.
            if (then && !closed && !stopping)
                then();
        });
    return true;
}

void TMainForm::OpenMemoryCommand()
{
    if (MayLoseMemories([this] { ChooseAndOpenMemory(); }) == TGoOn::Now)
        ChooseAndOpenMemory();
}

void TMainForm::ChooseAndOpenMemory()
{
    const QString file = RunFileDialog(*OpenDialog1);
    if (file.isEmpty())
        return;
    // Everything is read and checked first: a file that fails leaves the memory in use as it was. The
    // patterns of a file of format 1 are made again from its pictures, and its network rehearsed, on the
    // worker too.
    auto memory = std::make_shared<TMemory>();
    StartMemoryFileWork(
        QStringLiteral("Opening…"),
        [file, memory, framer = FramingWorker->SharedFramer()] {
            *memory = ReadMemoryFile(file);
            CatchUpOldMemory(*memory, *framer);
        },
        [this, file, memory] {
            const TFraming before = Memo.Framing;
            UseMemory(Memo, std::move(*memory));
            memoriesUnsaved = false;
            Edit2->clear();
            Label1->clear();
            Image2->Clear();
            StatusPanel1->clear();
            // The window frames pictures as the memory's were framed.
            UseFraming(Memo.Framing, false);
            QString text = QStringLiteral("Opened %1 from %2").arg(Persons(Memo.UsedSlotCount()), file);
            if (Memo.Framing != before)
                text += QStringLiteral("; framing \"%1\" is now in use").arg(FramingName(Memo.Framing));
            const std::vector<int> missing = Memo.SlotsWithoutPattern();
            if (!missing.empty())
                text += QStringLiteral("; not rehearsed, as their pictures no longer read: %1")
                            .arg(SlotsText(Memo.NameList, missing));
            SetStatus(text);
            Memo.SaveSlotFiles();
        });
}

TMainForm::TGoOn TMainForm::MayLoseMemories(std::function<void()> later)
{
    if (!memoriesUnsaved)
        return TGoOn::Now;
    switch (
        AskSaveFirst(QStringLiteral("Save the memories of %1 first?").arg(Persons(Memo.UsedSlotCount())))) {
    case TSaveAnswer::Save:
        return SaveMemoryCommand(std::move(later)) ? TGoOn::Later : TGoOn::No;
    case TSaveAnswer::DontSave:
        return TGoOn::Now;
    case TSaveAnswer::Cancel:
        break;
    }
    return TGoOn::No;
}

void TMainForm::SetUpNetworkCommand()
{
    {
        TBusyCursor busy;
        Memo.SetUpNetwork();
    }
    memoriesUnsaved = false;
    StatusPanel1->clear();
    ShowMessage(QStringLiteral("OK!"));
}

void TMainForm::MemoriseCommand()
{
    const QString name = Edit2->text();
    if (TrimControl(name).isEmpty())
        return;
    if (!Memo.HasNetwork()) {
        ShowMessage(SetUpFirst);
        return;
    }
    if (Image1->IsEmpty() || shownPicture.isEmpty()) {
        ShowMessage(ChooseFirst);
        return;
    }
    SetStatus(QStringLiteral("Memorize"), true);
    const auto start = std::chrono::steady_clock::now();
    if (Memo.FirstFreeSlot() >= SlotCount) {
        SetStatus(TMemoProcessor::AllSlotsUsedMessage());
        ShowMessage(TMemoProcessor::AllSlotsUsedMessage());
        return;
    }
    SetStatus(QStringLiteral("Recognize"), true);
    // The picture is read before anything is recorded, so a failure leaves the slots untouched.
    const TInputPattern pattern = ShownPattern();
    if (Memo.Memorise(name, shownPicture, pattern) < SlotCount)
        memoriesUnsaved = true;
    const QString text = OkText(start);
    SetStatus(text);
    ShowMessage(text);
}

void TMainForm::RecogniseCommand()
{
    if (!Memo.HasNetwork()) {
        ShowMessage(SetUpFirst);
        return;
    }
    if (Memo.UsedSlotCount() == 0) {
        SetStatus(NothingMemorised);
        return;
    }
    if (Image1->IsEmpty()) {
        ShowMessage(ChooseFirst);
        return;
    }
    const auto start = std::chrono::steady_clock::now();
    SetStatus(QStringLiteral("Recognize"), true);
    const TInputPattern pattern = ShownPattern();
    const TMemoProcessor::TRecognition result = Memo.Recognise(pattern);
    if (!result.Found) {
        StatusPanel1->clear();
        SetStatus(NothingMemorised);
        return;
    }
    StatusPanel1->setText(OutputsText(result, Memo.NameList, Memo.TrainedList));
    Edit2->setText(Memo.NameList[result.BestSlot]);
    Label1->setText(Edit2->text());
    Image2->LoadFromFileLater(Memo.FileList[result.BestSlot]);
    recognisedAt = start;
}

void TMainForm::SetStatus(const QString& text, bool repaintNow)
{
    StatusPanel0->setText(text);
    // A text longer than the panel is cut there; its tip shows all of it.
    StatusPanel0->setToolTip(text);
    if (repaintNow)
        repaint();
}

QString TMainForm::StatusText() const
{
    return StatusPanel0->text();
}

QString TMainForm::StateReportText() const
{
    QString text;
    text += ReportLine(QStringLiteral("Edit2"), Edit2->text());
    text += ReportLine(QStringLiteral("Label1"), Label1->text());
    text += ReportLine(QStringLiteral("Path"), Path->text());
    text += ReportLine(QStringLiteral("StatusBar1"), StatusText());
    text += ReportLine(QStringLiteral("Networks"), QString::number(Memo.Networks.size()));
    text += ReportLine(QStringLiteral("Image1"), SizeText(Image1));
    text += ReportLine(QStringLiteral("Image2"), SizeText(Image2));
    text += ReportLine(QStringLiteral("ListCount"), QString::number(PicturList->Count()));
    text += ReportLine(QStringLiteral("SelectedIndex"), QString::number(PicturList->SelectedIndex()));
    text += ReportLine(QStringLiteral("Folder"), CurrentFolder);
    text += ReportLine(QStringLiteral("StatusPanel1"), StatusPanel1->text());
    text += ReportLine(QStringLiteral("Framing"), FramingName(Memo.Framing));
    text += ReportLine(
        QStringLiteral("FramingPending"), FramingPending() ? QStringLiteral("1") : QStringLiteral("0"));
    const bool framed = Image1->HasMarks();
    text += ReportLine(QStringLiteral("FaceFound"),
        framed && framedPicture && framedPicture->FaceFound ? QStringLiteral("1") : QStringLiteral("0"));
    text += ReportLine(QStringLiteral("Image3"), SizeText(Image3));
    return text;
}

QString TMainForm::ScreenReportText() const
{
    QString text;
    text += ReportLine(QStringLiteral("Geometry.MainForm"), ScreenRect(this));
    for (const QWidget* widget : { static_cast<const QWidget*>(Panel6), static_cast<const QWidget*>(Edit2),
             static_cast<const QWidget*>(ShellTreeView1), static_cast<const QWidget*>(PicturList),
             static_cast<const QWidget*>(Image1) })
        text += ReportLine(QStringLiteral("Geometry.") + widget->objectName(), ScreenRect(widget));
    const QModelIndex current = ShellTreeView1->currentIndex();
    text += ReportLine(
        QStringLiteral("TreeCurrent"), current.isValid() ? FolderModel->filePath(current) : QString());
    const QWidget* treeViewport = ShellTreeView1->viewport();
    const QRect currentRow = ShellTreeView1->visualRect(current).intersected(treeViewport->rect());
    text += ReportLine(QStringLiteral("Geometry.TreeCurrent"),
        current.isValid() && !currentRow.isEmpty() ? ScreenRect(treeViewport, currentRow) : QString());
    const QRect listArea = PicturList->rect();
    for (int i = 0; i < PicturList->Count(); ++i) {
        const TBild* item = PicturList->Items(i);
        text += ReportLine(QStringLiteral("Item%1").arg(i), QFileInfo(item->FileName()).fileName());
        // Only the part of a thumbnail that shows inside the list can be clicked.
        QRect shown;
        if (item->Picture && item->Picture->isVisible())
            shown = QRect(item->Picture->mapTo(PicturList, QPoint(0, 0)), item->Picture->size())
                        .intersected(listArea);
        text += ReportLine(QStringLiteral("Geometry.Item%1").arg(i),
            shown.isEmpty() ? QString() : ScreenRect(PicturList, shown));
    }
    const QWidget* modal = QApplication::activeModalWidget();
    text += ReportLine(
        QStringLiteral("Modal"), modal ? QString::fromLatin1(modal->metaObject()->className()) : QString());
    const auto* box = qobject_cast<const QMessageBox*>(modal);
    text += ReportLine(QStringLiteral("ModalText"), box ? box->text() : QString());
    // The buttons of a message box, in the box's order, for tests that press one.
    const QList<QAbstractButton*> buttons = box ? box->buttons() : QList<QAbstractButton*>();
    for (qsizetype i = 0; i < buttons.size(); ++i) {
        text += ReportLine(QStringLiteral("ModalButton%1").arg(i), buttons[i]->text());
        text += ReportLine(QStringLiteral("Geometry.ModalButton%1").arg(i), ScreenRect(buttons[i]));
    }
    text += ReportLine(QStringLiteral("Geometry.Modal"), ScreenRect(modal));
    // The sampled frame and the face's box as drawn over the large view, by their bounding rectangles (not
    // cut to the view, so that a test sees where they lie).
    const auto shownRect = [&](const QRectF& local) {
        return local.isEmpty() ? QString() : ScreenRect(Image1, local.toAlignedRect());
    };
    text += ReportLine(QStringLiteral("Geometry.Frame"), shownRect(Image1->FrameShown().boundingRect()));
    text += ReportLine(QStringLiteral("Geometry.FaceBox"), shownRect(Image1->BoxShown()));
    text += ReportLine(QStringLiteral("Geometry.Image3"), ScreenRect(Image3));
    text += ReportLine(QStringLiteral("Skin.Player"),
        TransparentMoviePlayerControl1->HasPlayer() ? QStringLiteral("1") : QStringLiteral("0"));
    text += ReportLine(QStringLiteral("Skin.Playing"),
        TransparentMoviePlayerControl1->IsPlaying() ? QStringLiteral("1") : QStringLiteral("0"));
    return text;
}

void TMainForm::WriteStateReport() const
{
    // The screen report first: whoever waits for a new state report then finds both up to date.
    // Both are written whole before either is replaced.
    const QByteArray screen = ScreenReportText().toUtf8();
    const QByteArray state = StateReportText().toUtf8();
    const TFileWrite files[] = {
        { Folders.ReportFolder + QStringLiteral("mirava-screen.txt"), { PieceOf(screen) } },
        { Folders.ReportFolder + QStringLiteral("mirava-state.txt"), { PieceOf(state) } },
    };
    WriteFilesAtomically(files);
}
