#pragma once

#include "app/IniFile.h"
#include "app/MemoProcessor.h"
#include "app/UserFolders.h"
#include "pictures/PicturList.h"

#include <QLineEdit>
#include <QMainWindow>
#include <QTimer>
#include <QTreeView>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QFileDialog;
class QFileSystemModel;
class QFrame;
class QLabel;
class QSplitter;
class QStatusBar;
class TAboutBox;
class TFileWorker;
class TFramingWorker;
class TFolderLister;
struct TFolderListing;
class TFolderIconProvider;
class TImage;
class TMainForm;
class TTransparentMoviePlayerControl;

// A text field laid over the skin: flat and borderless, sunken while it holds the input focus.
class TSkinEdit : public QLineEdit
{
    Q_OBJECT
public:
    explicit TSkinEdit(QWidget* parent = nullptr);
    bool Sunken() const { return sunken; }

protected:
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void SetSunken(bool value);
    bool sunken = false;
};

// The folder tree: folders only; a right click selects the folder under the pointer.
class TShellTreeView : public QTreeView
{
    Q_OBJECT
public:
    using QTreeView::QTreeView;

protected:
    void mousePressEvent(QMouseEvent* event) override;
};

// The picture list of the main window: a click on a picture shows it in the large view.
class TMyPicturList : public TPicturList
{
    Q_OBJECT
public:
    TMyPicturList(TMainForm* mainForm, QWidget* parent);
    void SelectionChanged() override;

private:
    TMainForm* mainForm;
};

// The main window: lays out the skin panel, the folder tree, the picture list and the picture view, and
// hands the skin's commands to the memo processor.
class TMainForm : public QMainWindow
{
    Q_OBJECT
public:
    // `appFolder` is the program's folder (app.ini, skin.mrv, the state report); empty means the
    // executable's folder.
    explicit TMainForm(const QString& appFolder = QString(), QWidget* parent = nullptr);
    ~TMainForm() override;

    // The skin's command event: command "buttoncomand" with a decimal code as argument.
    void TransparentMoviePlayerControl1MovieCommand(const QString& command, const QString& args);

    // Lists the pictures of the folder selected in the tree: the list is emptied at once, the folder is read
    // on a worker thread, and the list fills when its listing comes in (FolderListed follows then).
    void ShellTreeView1Change();
    // A folder change is under way: its listing has not come in, or the list is still being filled with it.
    bool FolderListingPending() const { return folderListingPending; }
    // Selects a folder in the tree, which lists its pictures.
    void SelectFolder(const QString& folder);
    // Shows the picture at the list's index in the large view. The picture is decoded on a worker; when
    // it is in, the name field and the match beside it are cleared (a failure leaves them as they were).
    // Another worker frames the file meanwhile: memorise and recognise use that pattern.
    void ShowPicture(int index);
    // The chosen picture's pattern is being framed (after a new picture or a change of framing); memorise
    // and recognise given meanwhile act once it is in.
    bool FramingPending() const;

    QString StatusText() const;
    // key=value lines of what the window shows, for whole-window tests.
    QString StateReportText() const;
    // key=value lines of where the window's parts are on the screen (Geometry.<name>=x,y,w,h), the tree's
    // current folder, the listed pictures and where their thumbnails show, the open modal dialog and the
    // skin's player: what a test needs to drive the window with the pointer and the keyboard.
    QString ScreenReportText() const;
    // A stop by SIGTERM, SIGINT or SIGHUP: nobody is there to answer. The dialogs that are open close
    // unanswered and nothing is shown or asked any more; a Save or Open under way ends first (a Save still
    // waiting for another program's write gives up); memories that were not saved go to RecoveredMemoryPath;
    // the window closes. What could not be written is named on standard error, one line each. Returns
    // TQuitSignals::AllWritten or TQuitSignals::NotAllWritten.
    int StopBySignal();
    // "recovered.mmem" beside the slot files.
    QString RecoveredMemoryPath() const;
    // Something was memorised since the last Save or Open.
    bool MemoriesUnsaved() const { return memoriesUnsaved; }
    // How long Save waits for another program that is writing a memory file in the same folder (a memorise
    // from the command line) before it gives up with a message.
    std::chrono::seconds SaveLockWait { 30 };
    // A Save or Open is under way: its file is written or read on a worker thread while the window answers.
    // Meanwhile the commands that use or change the memory are refused (the status bar says "Saving…" or
    // "Opening…"), and a close waits for it to end; MemoryFileDone follows when it has.
    bool MemoryFileBusy() const;

    // Writes ScreenReportText to "mirava-screen.txt" and StateReportText to "mirava-state.txt" in the
    // report folder (the program's folder, or the per-user data folder of an installed program), each
    // replaced atomically.
    void WriteStateReport() const;

    QString AppFolder;
    TUserFolders Folders; // where app.ini, the slot files and the state reports go
    TAppConfig Config;
    TMemoProcessor Memo;
    // The folder chosen in the tree, ending in "/"; the list holds its pictures once FolderListingPending is
    // false.
    QString CurrentFolder;
    TFolderLister* FolderLister = nullptr; // reads the folders chosen in the tree, off the GUI thread
    TFileWorker* MemoryFileWorker = nullptr; // writes and reads the memory files of Save and Open
    // Frames the chosen picture off the GUI thread; its framer also frames the memories again when the
    // framing changes and the pictures of a memory file of format 1.
    TFramingWorker* FramingWorker = nullptr;
    // The list is filled with a folder's pictures in slices of this many milliseconds (at least one picture
    // each), so that the window answers meanwhile even in a folder of many thousand pictures.
    qint64 FillSliceMs = 10;

    QWidget* Panel6 = nullptr;
    TTransparentMoviePlayerControl* TransparentMoviePlayerControl1 = nullptr;
    TSkinEdit* Edit1 = nullptr;
    TSkinEdit* Edit2 = nullptr;
    TSkinEdit* Edit3 = nullptr;
    TSkinEdit* Edit4 = nullptr;
    TSkinEdit* Edit5 = nullptr;
    TSkinEdit* Edit6 = nullptr;
    TSkinEdit* Edit7 = nullptr;
    TSkinEdit* Edit8 = nullptr;
    QSplitter* Splitter1 = nullptr;
    QSplitter* Splitter2 = nullptr;
    QFrame* Panel1 = nullptr;
    TShellTreeView* ShellTreeView1 = nullptr;
    QFileSystemModel* FolderModel = nullptr;
    std::unique_ptr<TFolderIconProvider> FolderIcons; // the tree's icons, which never read a file
    QFrame* Panel2 = nullptr;
    TMyPicturList* PicturList = nullptr;
    QFrame* Panel3 = nullptr;
    QLineEdit* Path = nullptr;
    QLabel* Label1 = nullptr;
    TImage* Image2 = nullptr;
    TImage* Image3 = nullptr; // the window of the shown picture as the network receives it, 100 x 100
    QLabel* Label2 = nullptr; // beside Image3: its framing and what the framing says of the picture
    QFrame* Panel4 = nullptr; // the white panel under Image1
    TImage* Image1 = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr; // the last recognition's winning output and the runner-up's
    QLabel* StatusPanel2 = nullptr; // the framing in use
    QFileDialog* SaveDialog1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    TAboutBox* AboutBox = nullptr;

signals:
    // The folder chosen last is listed and the picture list holds all of its pictures; the status bar says
    // what could not be shown.
    void FolderListed();
    // A Save or Open has ended: its status text or its message is shown.
    void MemoryFileDone();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate();
    void RunCommandAfterLoad();
    void FormShow();
    void FormClose();
    void LoadSkin();
    void Panel3Resize();
    void BringCurrentFolderIntoView();
    void FollowCurrentFolder();
    void StopFollowingCurrentFolder();

    void ShowAboutCommand();
    // Writes the memories to the file chosen in the save dialog, on the worker; `then` runs once they are
    // written (never after a failure). False when nothing was started (no network, the dialog cancelled).
    bool SaveMemoryCommand(std::function<void()> then = {});
    void OpenMemoryCommand();
    // Reads the file chosen in the open dialog on the worker and puts it in place of the memory in use.
    void ChooseAndOpenMemory();
    // Starts file work on the worker: the status says `busyText` until it has ended; then `done` runs on the
    // GUI thread, or, when the work failed, the status goes back to what it was and the error is shown.
    void StartMemoryFileWork(const QString& busyText, std::function<void()> work, std::function<void()> done);
    // Whether the caller may go on now that memories not saved would be lost: Now (nothing to lose, or the
    // user let them go), Later (a save was started; `later` runs once it has written the file), or No.
    enum class TGoOn { Now, Later, No };
    TGoOn MayLoseMemories(std::function<void()> later);
    void SetUpNetworkCommand();
    // The framing button: the next framing; with persons memorised, only after the user agreed to frame
    // them again (on the worker, as Save and Open run).
    void CycleFramingCommand();
    // Makes `framing` the one in use (the memory's, the one kept in app.ini, the status bar's) and frames
    // the chosen picture again when it was framed otherwise; `sayNote`: as FrameChosenPicture.
    void UseFraming(TFraming framing, bool sayNote);
    // Frames the chosen picture on the worker. With `sayNote` the status bar gets what the framing says of
    // it (no face found, only its corner used); without, the status bar keeps what the command said.
    void FrameChosenPicture(bool sayNote = true);
    void PictureFramed(const QString& path, const TFramedPicture& framed);
    void PictureFramingFailed(const QString& path, const QString& message);
    // Shows the framing of the shown picture: its frame over Image1, its window in Image3, Label2's words.
    void ShowFraming();
    // The pattern of the shown picture in the framing in use; throws what its framing failed with.
    TInputPattern ShownPattern() const;
    void RecogniseCommand();
    void MemoriseCommand();

    void SetStatus(const QString& text, bool repaintNow = false);
    // Shows how many entries of the listed folder could not be shown, or takes an earlier such note away.
    void ReportSkippedEntries();
    // Takes in the listing of the folder chosen last and starts filling the list with it.
    void ShowFolderListing(const TFolderListing& listing);
    // Adds the next slice of the listed pictures to the list; the last slice reports what was skipped.
    void FillPictureList();
    // Ends the filling of the list with a folder's pictures, if it is under way.
    void StopFillingPictureList();

    QString shownPicture; // the file of the picture in Image1
    QString chosenPicture; // the file chosen last: loading into Image1, or shown there
    // The latest framing that came in, of framedPath: its result, or the message of its failure.
    QString framedPath;
    std::optional<TFramedPicture> framedPicture;
    QString framingError;
    QStringList cornerNoted; // pictures whose top-left corner alone was said to be used
    bool sayFramingNote = true; // the framing under way puts its note into the status bar
    // Memorise or recognise, given while Image1 was loading or the chosen picture was being framed.
    std::optional<int> commandAfterLoad;
    QString nameWhenChosen; // Edit2 when the picture loading into Image1 was chosen
    // When the recognition whose memorised picture is loading into Image2 started.
    std::optional<std::chrono::steady_clock::time_point> recognisedAt;
    // The status text of the last listing that skipped entries or could not read its folder.
    QString skipMessage;
    int skippedEntries
        = 0; // entries of the listed folder left off the list (thumbnails that failed later come on top)
    // The listed folder's pictures not yet in the list, from nextListedFile on, the sizes the listing read
    // of the first of them, and its listing's error.
    QStringList listedFiles;
    QList<QSize> listedSizes;
    qsizetype nextListedFile = 0;
    QString listingError;
    QTimer fillTimer; // adds the next slice of listedFiles
    bool folderListingPending = false;
    QTimer followTimer; // brings the tree's current folder back into view after its rows moved
    bool followCurrentFolder = false;
    bool shown = false;
    bool closed = false;
    bool memoriesUnsaved = false;
    // Closing because of a stop signal: no question. Read by a Save that waits on the worker.
    std::atomic<bool> stopping { false };
    int stopFailures = 0; // files that the stop could not write
    QString memoryFileBusyText; // "Saving…" or "Opening…" while the worker writes or reads a memory file
    bool closeWhenMemoryFileDone = false; // a close came while the worker was busy
};
