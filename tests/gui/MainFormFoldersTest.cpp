// Where the window keeps its files when its folder is an installed one (marked "mirava.installed"): app.ini
// in the per-user configuration folder, the slot files and the state reports in the per-user data folder.

#include "AppTestSupport.h"

#include <QFileDialog>
#include <QMessageBox>

namespace {

// Points XDG_CONFIG_HOME and XDG_DATA_HOME at folders of the test for its lifetime.
class TXdgFolders
{
public:
    TXdgFolders()
        : oldConfig(qgetenv("XDG_CONFIG_HOME"))
        , oldData(qgetenv("XDG_DATA_HOME"))
    {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(base.filePath(QStringLiteral("config"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(base.filePath(QStringLiteral("data"))));
    }
    ~TXdgFolders()
    {
        Restore("XDG_CONFIG_HOME", oldConfig);
        Restore("XDG_DATA_HOME", oldData);
    }
    QString Config(const QString& name) const
    {
        return base.filePath(QStringLiteral("config/mirava/") + name);
    }
    QString Data(const QString& name) const { return base.filePath(QStringLiteral("data/mirava/") + name); }

private:
    static void Restore(const char* name, const QByteArray& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    QTemporaryDir base;
    QByteArray oldConfig, oldData;
};

} // namespace

using UserFolders = TWindowTest;

TEST_F(UserFolders, AnInstalledWindowWritesOnlyIntoTheUsersFolders)
{
    const TXdgFolders xdg;
    WriteBytes(App(QStringLiteral("mirava.installed")), "installed\n");
    SavePerson(0, App(QStringLiteral("person0.bmp")));
    TMainForm& window = Start();
    ASSERT_TRUE(window.Folders.PerUser);
    EXPECT_EQ(window.SaveDialog1->directory().absolutePath(), QFileInfo(xdg.Data(QString())).absolutePath());
    EXPECT_EQ(window.OpenDialog1->directory().absolutePath(), QFileInfo(xdg.Data(QString())).absolutePath());

    window.TransparentMoviePlayerControl1MovieCommand("buttoncomand", "3");
    Choose(0);
    window.Edit2->setText("Anna");
    window.TransparentMoviePlayerControl1MovieCommand("buttoncomand", "8");
    EXPECT_TRUE(ReadBytes(xdg.Data(QStringLiteral("listname.ini"))).startsWith("Anna\r\n"));
    EXPECT_EQ(ReadBytes(Work(QStringLiteral("listname.ini"))), QByteArray("<absent>"));
    window.WriteStateReport();
    EXPECT_TRUE(QFileInfo::exists(xdg.Data(QStringLiteral("mirava-state.txt"))));

    // Closing asks before the unsaved memory is lost; "Don't save" closes.
    SetDialogRunner([](QDialog&) { return int(QMessageBox::Discard); });
    EXPECT_TRUE(window.close());
    EXPECT_EQ(ReadBytes(xdg.Config(QStringLiteral("app.ini"))),
        QByteArray("[globalconst]\nsubfieldXcount=4\nsubfieldYcount=4\nsubfieldworkcount=16\n"));
    form.reset();
    // The program's folder holds what it held before: the marker and the picture.
    EXPECT_EQ(QDir(appFolder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
        (QStringList { QStringLiteral("mirava.installed"), QStringLiteral("person0.bmp") }));
}
