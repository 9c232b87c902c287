#include "app/FramingWorker.h"

#include <QMetaObject>
#include <QPointer>
#include <new>

TFramingWorker::TFramingWorker(std::shared_ptr<const TFramer> framer, QObject* parent)
    : QObject(parent)
    , framer(framer ? std::move(framer) : std::make_shared<const TFramer>())
{
    // Two threads, so that a picture chosen after a slow one does not queue behind it.
    pool.setMaxThreadCount(2);
}

TFramingWorker::~TFramingWorker()
{
    Cancel();
    pool.waitForDone();
}

void TFramingWorker::SetFramer(std::shared_ptr<const TFramer> value)
{
    if (value)
        framer = std::move(value);
}

void TFramingWorker::Cancel()
{
    ++generation;
    busy = false;
    // Requests not started yet are not needed any more.
    pool.clear();
}

void TFramingWorker::Frame(const QString& file, TFraming how)
{
    Cancel();
    busy = true;
    path = file;
    framing = how;
    const quint64 request = generation;
    QPointer<TFramingWorker> self(this);
    pool.start([self, request, file, how, framer = framer, before = BeforeWork] {
        TFramedPicture framed;
        QString error;
        try {
            if (before)
                before();
            framed = framer->FrameFile(file, how);
        } catch (const std::bad_alloc&) {
            error = QStringLiteral("Cannot load picture \"%1\": not enough memory").arg(file);
        } catch (const std::exception& failure) {
            error = QString::fromUtf8(failure.what());
        }
        QMetaObject::invokeMethod(
            self.data(),
            [self, request, file, how, error, framed = std::move(framed)] {
                if (!self || self->generation != request)
                    return;
                self->busy = false;
                if (error.isEmpty())
                    emit self->Framed(file, framed);
                else
                    emit self->FramingFailed(file, how, error);
            },
            Qt::QueuedConnection);
    });
}
