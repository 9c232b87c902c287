#include "app/FileWorker.h"

#include <QMetaObject>
#include <stdexcept>

TFileWorker::TFileWorker(QObject* parent)
    : QObject(parent)
{
    pool.setMaxThreadCount(1);
}

TFileWorker::~TFileWorker()
{
    pool.waitForDone();
}

void TFileWorker::Start(TWork work, TDone whenDone)
{
    if (busy)
        throw std::logic_error("TFileWorker::Start while a job is busy");
    busy = true;
    done = std::move(whenDone);
    error = nullptr;
    workEnded = false;
    pool.start([this, work = std::move(work), before = BeforeWork] {
        std::exception_ptr thrown;
        try {
            if (before)
                before();
            work();
        } catch (...) {
            thrown = std::current_exception();
        }
        error = thrown;
        workEnded = true;
        // Delivered on the owner's thread; the destructor waits for this call to have been made, and a call
        // that comes after Finish delivered finds nothing to do.
        QMetaObject::invokeMethod(
            this, [this] { Deliver(); }, Qt::QueuedConnection);
    });
}

void TFileWorker::Finish()
{
    if (!busy)
        return;
    pool.waitForDone();
    Deliver();
}

void TFileWorker::Deliver()
{
    if (!busy || !workEnded)
        return;
    busy = false;
    const TDone whenDone = std::move(done);
    done = nullptr;
    whenDone(error);
    emit Finished();
}
