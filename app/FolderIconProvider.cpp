#include "app/FolderIconProvider.h"

#include <QApplication>
#include <QFileInfo>
#include <QStyle>

TFolderIconProvider::TFolderIconProvider()
{
    const QStyle* style = QApplication::style();
    folderIcon = style->standardIcon(QStyle::SP_DirIcon);
    fileIcon = style->standardIcon(QStyle::SP_FileIcon);
    driveIcon = style->standardIcon(QStyle::SP_DriveHDIcon);
    computerIcon = style->standardIcon(QStyle::SP_ComputerIcon);
    desktopIcon = style->standardIcon(QStyle::SP_DesktopIcon);
    trashIcon = style->standardIcon(QStyle::SP_TrashIcon);
    networkIcon = style->standardIcon(QStyle::SP_DriveNetIcon);
}

QIcon TFolderIconProvider::icon(IconType type) const
{
    switch (type) {
    case Computer:
        return computerIcon;
    case Desktop:
        return desktopIcon;
    case Trashcan:
        return trashIcon;
    case Network:
        return networkIcon;
    case Drive:
        return driveIcon;
    case Folder:
        return folderIcon;
    case File:
        break;
    }
    return fileIcon;
}

QIcon TFolderIconProvider::icon(const QFileInfo& info) const
{
    // Only what a stat tells: the model has already stat'ed the entry, so nothing more is read.
    if (info.isRoot())
        return driveIcon;
    return info.isDir() ? folderIcon : fileIcon;
}

QString TFolderIconProvider::type(const QFileInfo& info) const
{
    if (info.isRoot())
        return QStringLiteral("Drive");
    return info.isDir() ? QStringLiteral("Folder") : QStringLiteral("File");
}
