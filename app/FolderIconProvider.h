#pragma once

#include <QAbstractFileIconProvider>
#include <QIcon>

// Icons and type names for the folder tree that never look into a file: the tree's model asks for them for
// every entry of every folder it reads, on the GUI thread, and guessing a type from a file's contents there
// blocks on files such as /proc/kmsg or a named pipe. A folder gets the style's folder icon (which the style
// takes from the desktop's icon theme when there is one), anything else the style's file icon.
class TFolderIconProvider : public QAbstractFileIconProvider
{
public:
    // Takes the icons from the application's style, so it is made on the GUI thread.
    TFolderIconProvider();

    QIcon icon(IconType type) const override;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;

private:
    QIcon folderIcon;
    QIcon fileIcon;
    QIcon driveIcon;
    QIcon computerIcon;
    QIcon desktopIcon;
    QIcon trashIcon;
    QIcon networkIcon;
};
