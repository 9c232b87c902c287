#pragma once

#include <QCollator>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <functional>

// The pictures of one folder as the picture list shows them.
struct TFolderListing
{
    QString Folder; // ends in "/"; the root "/" keeps its single separator
    QStringList Files; // full paths as DecodeFileName keeps them, in natural case-insensitive order of names
    int Skipped = 0; // entries named like a picture that are no regular file (a folder "x.jpg", a dead link)
    QString Error; // why the folder could not be read (wholly or in part); empty when it could
    // The picture sizes from the headers of the first files (Sizes[i] belongs to Files[i]), read where the
    // listing was made; an invalid size for a file whose header cannot be read. Files beyond hold no size.
    QList<QSize> Sizes;
};

// Makes a folder path end in "/", keeping the root as "/".
QString FolderPathWithSeparator(const QString& folder);

// True for a name whose extension, from its last ".", is exactly ".jpg" or ".bmp" (capitals do not count).
bool HasPictureExtension(const QString& name);

// Lists the accepted entries of a folder: not hidden (the name does not start with "."), a picture extension,
// and a regular file or a link to one. Names that are not valid UTF-8 are listed as well. An unreadable or
// absent folder lists nothing and says why in `Error`. `stop`, when given, is asked now and then; once it
// answers true the listing ends at once and holds no pictures (nobody waits for it any more).
TFolderListing ListPictureFolder(const QString& folder, const std::function<bool()>& stop = {});

// Reads the headers of the listing's files in order until `readable` of them gave their size (or the files
// end), into `Sizes`. `stop`, when given, is asked before each file; once it answers true the reading ends
// where it is.
void ReadListedSizes(TFolderListing& listing, int readable, const std::function<bool()>& stop = {});

// The collation SortNaturally orders by: the user's locale (or English where that is "C"), numeric,
// case-insensitive.
QCollator NaturalCollator();

// Sorts names the way a file manager shows them: case-insensitive, digit runs by their value ("img2" before
// "img10").
void SortNaturally(QStringList& names);
