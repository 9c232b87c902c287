#pragma once

#include "input/Framing.h"

#include <QObject>
#include <QString>
#include <QThreadPool>
#include <functional>
#include <memory>

// Frames picture files on worker threads with TFramer::FrameFile, so that decoding a large picture and
// finding its face never stall the thread that owns this object. Only the latest request counts: the result
// of one that a later Frame or Cancel superseded is dropped.
class TFramingWorker : public QObject
{
    Q_OBJECT
public:
    explicit TFramingWorker(std::shared_ptr<const TFramer> framer, QObject* parent = nullptr);
    // Waits for a framing that is running; its result is dropped.
    ~TFramingWorker() override;

    // Frames the file on a worker; Framed or FramingFailed follows on this object's thread.
    void Frame(const QString& path, TFraming framing);
    // Drops the result of the request under way, if any.
    void Cancel();
    // A request has not delivered its result yet.
    bool Busy() const { return busy; }
    // The file and framing of the latest request (delivered or not); empty path when there was none.
    const QString& Path() const { return path; }
    TFraming Framing() const { return framing; }

    const TFramer& Framer() const { return *framer; }
    std::shared_ptr<const TFramer> SharedFramer() const { return framer; }
    void SetFramer(std::shared_ptr<const TFramer> value);

    // Runs on the worker thread before each framing; tests hold a framing there to act while it is busy.
    std::function<void()> BeforeWork;

signals:
    void Framed(const QString& path, const TFramedPicture& framed);
    void FramingFailed(const QString& path, TFraming framing, const QString& message);

private:
    std::shared_ptr<const TFramer> framer;
    QThreadPool pool;
    quint64 generation = 0; // counts requests; a result of an older one is dropped
    bool busy = false;
    QString path;
    TFraming framing = TFraming::Corner;
};
