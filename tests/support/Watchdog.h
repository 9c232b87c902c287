#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

// Ends the test program with a message when the step it guards does not finish in time, so that a step that
// hangs fails the run instead of holding it.
class TWatchdog
{
public:
    TWatchdog(std::chrono::seconds limit, std::string what)
        : watcher([this, limit, what = std::move(what)] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!finished.wait_for(lock, limit, [this] { return done; })) {
                std::fprintf(stderr, "%s did not finish within %lld s: the test program ends here\n",
                    what.c_str(), static_cast<long long>(limit.count()));
                std::fflush(stderr);
                std::_Exit(1);
            }
        })
    { }

    ~TWatchdog()
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        finished.notify_all();
        watcher.join();
    }

    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

private:
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watcher; // last: it starts once the members it uses exist
};
