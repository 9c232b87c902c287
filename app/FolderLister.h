#pragma once

#include "app/FolderListing.h"

#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <functional>

// Lists picture folders on worker threads (ListPictureFolder: the folder read, a look at each entry, the
// natural sort; then the headers of the first pictures, see SetSizesRead) and hands the listing of the
// folder asked for last to the thread that owns this object. A listing asked for earlier is superseded: it
// stops where it is and its result is never delivered.
class TFolderLister : public QObject
{
    Q_OBJECT
public:
    // How a folder is listed: ListPictureFolder unless a test puts another in place. `stop` answers true
    // once the listing is superseded.
    using TListFunction
        = std::function<TFolderListing(const QString& folder, const std::function<bool()>& stop)>;

    explicit TFolderLister(QObject* parent = nullptr);
    // Stops the listings that are running and waits for them; their results are dropped.
    ~TFolderLister() override;

    // Starts listing `folder`; Listed follows with its listing unless List is called again first.
    void List(const QString& folder);
    // Drops the listing asked for last, as a newer one would.
    void Cancel();
    // A listing was asked for and has not been delivered yet.
    bool Busy() const { return busy; }
    void SetListFunction(TListFunction function);
    // The listings carry the sizes of their first `readable` pictures that can be read (ReadListedSizes),
    // read on the worker after the listing; none by default.
    void SetSizesRead(int readable) { sizesRead = readable; }

signals:
    void Listed(const TFolderListing& listing);

private:
    QThreadPool pool;
    TListFunction listFunction;
    int sizesRead = 0;
    // Raised by every List and Cancel; a listing whose number is no longer the latest is superseded.
    std::atomic<quint64> latest { 0 };
    bool busy = false;
};

Q_DECLARE_METATYPE(TFolderListing)
