#pragma once

#include <QObject>
#include <QThreadPool>
#include <atomic>
#include <exception>
#include <functional>

// Runs file work (the window's Save and Open of memory files) on a worker thread, one job at a time, so that
// the thread that owns this object stays free, and hands each job's outcome back to that thread.
class TFileWorker : public QObject
{
    Q_OBJECT
public:
    using TWork = std::function<void()>;
    // Called on the owner's thread with what the work threw, or with null when it ended normally.
    using TDone = std::function<void(std::exception_ptr error)>;

    explicit TFileWorker(QObject* parent = nullptr);
    // Waits for a job that is running; its outcome is dropped.
    ~TFileWorker() override;

    // Starts `work` on the worker thread; `done` follows on this object's thread once it has ended. Throws
    // std::logic_error while another job is busy.
    void Start(TWork work, TDone done);
    // A job was started and its `done` has not run yet.
    bool Busy() const { return busy; }
    // Waits for the job that is busy, if any, and runs its `done` now (on this thread) unless it ran already.
    void Finish();

    // Runs on the worker thread before each job's work; tests hold a job there to act while it is busy.
    std::function<void()> BeforeWork;

signals:
    // A job's `done` has run.
    void Finished();

private:
    void Deliver();

    QThreadPool pool;
    TDone done;
    bool busy = false;
    // Written by the worker before `workEnded` is raised, read on the owner's thread after.
    std::exception_ptr error;
    std::atomic<bool> workEnded { false };
};
