#pragma once

#include <QString>
#include <QStringList>

// The pictures of one folder as the picture list shows them.
struct TFolderListing
{
    QString Folder; // ends in "/"; the root "/" keeps its single separator
    QStringList Files; // full paths as DecodeFileName keeps them, in natural case-insensitive order of names
    int Skipped = 0; // entries named like a picture that are no regular file (a folder "x.jpg", a dead link)
    QString Error; // why the folder could not be read (wholly or in part); empty when it could
};

// Makes a folder path end in "/", keeping the root as "/".
QString FolderPathWithSeparator(const QString& folder);

// True for a name whose extension, from its last ".", is exactly ".jpg" or ".bmp" (capitals do not count).
bool HasPictureExtension(const QString& name);

// Lists the accepted entries of a folder: not hidden (the name does not start with "."), a picture extension,
// and a regular file or a link to one. Names that are not valid UTF-8 are listed as well. An unreadable or
// absent folder lists nothing and says why in `Error`.
TFolderListing ListPictureFolder(const QString& folder);

// Sorts names the way a file manager shows them: case-insensitive, digit runs by their value ("img2" before
// "img10").
void SortNaturally(QStringList& names);
