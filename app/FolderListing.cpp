#include "app/FolderListing.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <algorithm>

QString FolderPathWithSeparator(const QString& folder)
{
    if (folder.isEmpty() || folder.endsWith(u'/'))
        return folder;
    return folder + u'/';
}

bool HasPictureExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot < 0)
        return false;
    const QStringView extension = QStringView(name).mid(dot);
    return extension == u".jpg" || extension == u".bmp";
}

void SortNaturally(QStringList& names)
{
    // The "C" locale compares code points only and knows no numeric order; fall back to a real one then.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), [&collator](const QString& a, const QString& b) {
        const int order = collator.compare(a, b);
        if (order != 0)
            return order < 0;
        return a < b; // names equal but for letter case: a fixed order all the same
    });
}

TFolderListing ListPictureFolder(const QString& folder)
{
    TFolderListing listing;
    listing.Folder = FolderPathWithSeparator(folder);
    if (listing.Folder.isEmpty())
        return listing;
    QDir dir(listing.Folder);
    // Hidden entries are asked for too, and then left out by their name, so that the rule does not depend on
    // what the platform calls hidden.
    const QStringList entries
        = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::NoSort);
    QStringList names;
    for (const QString& name : entries) {
        if (name.startsWith(u'.') || !HasPictureExtension(name))
            continue;
        if (!QFileInfo(listing.Folder + name).isFile()) { // follows links
            ++listing.Skipped;
            continue;
        }
        names.append(name);
    }
    SortNaturally(names);
    for (const QString& name : names)
        listing.Files.append(listing.Folder + name);
    return listing;
}
