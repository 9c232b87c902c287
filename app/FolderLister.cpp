#include "app/FolderLister.h"

#include <QMetaObject>

TFolderLister::TFolderLister(QObject* parent)
    : QObject(parent)
    , listFunction(ListPictureFolder)
{
    qRegisterMetaType<TFolderListing>();
    // More than one thread: a folder on a slow or hanging file system must not hold up the next one the user
    // turns to. A superseded listing ends at its next look at the stop flag.
    pool.setMaxThreadCount(4);
    pool.setExpiryTimeout(10'000);
}

TFolderLister::~TFolderLister()
{
    Cancel();
    pool.waitForDone();
}

void TFolderLister::SetListFunction(TListFunction function)
{
    listFunction = std::move(function);
}

void TFolderLister::Cancel()
{
    ++latest;
    busy = false;
}

void TFolderLister::List(const QString& folder)
{
    const quint64 number = ++latest;
    busy = true;
    pool.start([this, folder, number, list = listFunction, readable = sizesRead] {
        const std::function<bool()> superseded = [this, number] { return latest.load() != number; };
        TFolderListing listing = list(folder, superseded);
        // The headers count as part of the listing: a superseded one stops between two of them.
        if (readable > 0 && !superseded())
            ReadListedSizes(listing, readable, superseded);
        if (superseded())
            return;
        // Delivered on the owner's thread; the destructor waits for this call to have been made.
        QMetaObject::invokeMethod(
            this,
            [this, number, listing = std::move(listing)] {
                // A newer folder may have been asked for after the listing ended.
                if (latest.load() != number)
                    return;
                busy = false;
                emit Listed(listing);
            },
            Qt::QueuedConnection);
    });
}
