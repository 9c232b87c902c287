#pragma once

#include <QString>

// Where a run keeps what it writes. Run from a folder the user may write to (the build folder), everything
// stays as it always was: app.ini and the state reports beside the program, the slot files in the current
// folder. An installed program's folder is not the user's to write to (the install rules also leave the
// marker InstalledMarker in it, so that not even root writes there); then the files go to the user's own
// folders after the XDG base directories:
//   app.ini                          $XDG_CONFIG_HOME/mirava/   (default ~/.config/mirava/)
//   slot files, state reports,
//   memory files (dialogs' default)  $XDG_DATA_HOME/mirava/     (default ~/.local/share/mirava/)
struct TUserFolders
{
    bool PerUser = false; // the program's folder is not the user's: the per-user folders are used
    QString ConfigFolder; // folder of app.ini, ending in "/"
    QString DataFolder; // per-user data folder ending in "/"; empty when not PerUser
    QString StateFilePrefix; // put in front of the slot file names: "" (current folder) or DataFolder
    QString ReportFolder; // folder of the state reports, ending in "/"

    // The file that marks an installed program's folder.
    static constexpr const char* InstalledMarker = "mirava.installed";

    // Decides for the program's folder `appFolder` (ending in "/") from the environment of this process.
    static TUserFolders For(const QString& appFolder);
    // The same decision with the environment given; `ownFolder` tells whether the program's folder takes the
    // user's files (IsOwnFolder).
    static TUserFolders For(const QString& appFolder, bool ownFolder, const QString& home,
        const QString& xdgConfigHome, const QString& xdgDataHome);
    // True when the user may write to the program's folder (ending in "/") and it holds no InstalledMarker.
    static bool IsOwnFolder(const QString& appFolder);

    // Creates the per-user folders that are missing, each with mode 0700 (the folders above them too, as
    // the XDG base directories ask). Returns false when one cannot be made; the writes into it then fail
    // with their own message.
    bool Create() const;
};

// Creates `folder` and every missing folder above it with mode 0700; true when it exists as a folder after.
bool MakePrivateFolder(const QString& folder);
