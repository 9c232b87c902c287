#pragma once

#include "app/MainForm.h"
#include "app/Messages.h"
#include "support/FileBytes.h"
#include "support/StripedPerson.h"

#include <QDeadlineTimer>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QPainter>
#include <QTemporaryDir>
#include <QTest>
#include <chrono>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

// A window test: the program's folder and the current directory are fresh temporary folders, message
// boxes are recorded instead of shown, and modal dialogs are opened without blocking.
class TWindowTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(appFolder.isValid());
        ASSERT_TRUE(workFolder.isValid());
        previousFolder = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(workFolder.path()));
        previousHandler = SetMessageHandler([this](const QString& text) { Messages.append(text); });
        previousRunner = SetDialogRunner([this](QDialog& dialog) {
            Dialogs.append(dialog.objectName());
            dialog.show();
            return 0;
        });
    }

    void TearDown() override
    {
        form.reset();
        SetUnattended(false); // a stop by signal in the test left it on
        SetMessageHandler(previousHandler);
        SetDialogRunner(previousRunner);
        QDir::setCurrent(previousFolder);
    }

    // From now on each modal dialog takes the next of Answers (none left: it is rejected); the names of the
    // dialogs and the texts of the questions are recorded.
    void AnswerDialogsInTurn()
    {
        SetDialogRunner([this](QDialog& dialog) {
            Dialogs.append(dialog.objectName());
            if (auto* box = qobject_cast<QMessageBox*>(&dialog))
                Questions.append(box->text());
            if (Answers.empty())
                return int(QDialog::Rejected);
            const std::function<int(QDialog&)> answer = Answers.front();
            Answers.pop_front();
            return answer(dialog);
        });
    }

    // Opens the window and waits until it has listed its first folder (the program's).
    TMainForm& Start()
    {
        form = std::make_unique<TMainForm>(appFolder.path());
        form->show();
        WaitForListing();
        return *form;
    }

    // Runs the event loop until the folder chosen last is listed and the picture list holds its pictures.
    void WaitForListing()
    {
        QDeadlineTimer deadline(std::chrono::seconds(30));
        while (form->FolderListingPending() && !deadline.hasExpired())
            QTest::qWait(2);
        EXPECT_FALSE(form->FolderListingPending()) << "the folder was not listed within 30 s";
    }

    // Chooses a folder in the tree and waits until the window has listed it.
    void SelectFolder(const QString& folder)
    {
        form->SelectFolder(folder);
        WaitForListing();
    }

    // Runs the event loop until the Save or Open under way (if any) has ended (MemoryFileDone).
    void WaitForMemoryFile()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !form->MemoryFileBusy(); }, 60'000))
            << "the memory file was not written or read within 60 s";
    }

    QString App(const QString& name) const { return appFolder.filePath(name); }
    QString Work(const QString& name) const { return workFolder.filePath(name); }

    void Command(const QString& args)
    {
        form->TransparentMoviePlayerControl1MovieCommand("buttoncomand", args);
    }

    // Shows the listed picture at `index` as a click on it would, and waits until it is loaded.
    void Choose(int index)
    {
        form->PicturList->SetSelectedIndex(index);
        form->PicturList->SelectionChanged();
        WaitForPictures();
    }

    // Pictures load and are framed on workers; waits (running the event loop) until both views hold what
    // was asked and the chosen picture is framed.
    void WaitForPictures()
    {
        ASSERT_TRUE(QTest::qWaitFor(
            [this] {
                return !form->Image1->IsLoading() && !form->FramingPending() && !form->Image2->IsLoading();
            },
            30'000));
    }

    static QImage Person(int person) { return StripedPerson(person); }

    static void SavePerson(int person, const QString& path) { ASSERT_TRUE(Person(person).save(path)); }

    QTemporaryDir appFolder;
    QTemporaryDir workFolder;
    std::unique_ptr<TMainForm> form;
    QStringList Messages;
    QStringList Dialogs;
    std::deque<std::function<int(QDialog&)>> Answers; // see AnswerDialogsInTurn
    QStringList Questions;

private:
    QString previousFolder;
    TMessageHandler previousHandler;
    TDialogRunner previousRunner;
};
