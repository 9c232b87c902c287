#include "MovieClock.h"

#include "MovieDocument.h"

#include <algorithm>

namespace Mrv {

TMovieClock::TMovieClock(std::function<void()> changed, std::function<void(int, int)> entered)
    : changed(std::move(changed))
    , entered(std::move(entered))
{
    timer.setTimerType(Qt::PreciseTimer);
    timer.callOnTimeout([this] { Tick(); });
}

void TMovieClock::Reset(const TMovieDocument* newDocument)
{
    document = newDocument;
    const std::size_t count = document ? document->Timelines().size() : 0;
    frames.assign(count, 0);
    playing.assign(count, 1);
    paused.assign(count, 0);
    if (document)
        timer.setInterval(1000 / document->FramesPerSecond());
    UpdateTimer();
}

void TMovieClock::SetActive(bool value)
{
    active = value;
    UpdateTimer();
}

void TMovieClock::SetLoop(bool value)
{
    loop = value;
    UpdateTimer();
}

int TMovieClock::Frame(int timeline) const
{
    return timeline >= 0 && timeline < Count() ? frames[timeline] : 0;
}

int TMovieClock::Total(int timeline) const
{
    return document && timeline >= 0 && timeline < Count() ? document->Timelines()[timeline].frames : 0;
}

bool TMovieClock::Playing(int timeline) const
{
    return timeline >= 0 && timeline < Count() && playing[timeline];
}

void TMovieClock::Play()
{
    if (frames.empty())
        return;
    // A movie that stopped on its last frame without looping plays again from the start.
    if (!loop && frames[0] >= Total(0) - 1 && Total(0) > 1 && !playing[0]) {
        frames[0] = 0;
        changed();
    }
    playing[0] = 1;
    for (int i = 1; i < Count(); ++i)
        if (paused[i]) {
            playing[i] = 1;
            paused[i] = 0;
        }
    UpdateTimer();
}

void TMovieClock::Stop()
{
    for (int i = 0; i < Count(); ++i) {
        if (i > 0 && playing[i])
            paused[i] = 1;
        playing[i] = 0;
    }
    UpdateTimer();
}

void TMovieClock::StopPlay()
{
    std::fill(playing.begin(), playing.end(), 0);
    std::fill(paused.begin(), paused.end(), 0);
    UpdateTimer();
}

void TMovieClock::SetPlaying(int timeline, bool value)
{
    if (timeline < 0 || timeline >= Count())
        return;
    playing[timeline] = value;
    paused[timeline] = 0;
    UpdateTimer();
}

bool TMovieClock::Seek(int timeline, int frame)
{
    if (timeline < 0 || timeline >= Count() || frame < 0)
        return false;
    const int target = std::min(frame, Total(timeline) - 1);
    if (frames[timeline] != target) {
        frames[timeline] = target;
        changed();
    }
    return true;
}

bool TMovieClock::Advances(int timeline) const
{
    if (!playing[timeline])
        return false;
    const int total = Total(timeline);
    const bool loops = timeline == 0 ? loop : document->Timelines()[timeline].loop;
    return total > 1 && (loops || frames[timeline] < total - 1);
}

void TMovieClock::Tick()
{
    std::vector<std::pair<int, int>> reached;
    for (int i = 0; i < Count(); ++i) {
        if (!playing[i])
            continue;
        const int total = Total(i);
        const bool loops = i == 0 ? loop : document->Timelines()[i].loop;
        int next = frames[i] + 1;
        if (next >= total) {
            if (loops && total > 1) {
                next = 0;
            } else {
                next = total - 1;
                playing[i] = 0;
            }
        }
        if (!loops && next == total - 1)
            playing[i] = 0; // without looping a timeline stops on its last frame
        if (next != frames[i]) {
            frames[i] = next;
            reached.emplace_back(i, next);
        }
    }
    UpdateTimer();
    if (!reached.empty())
        changed();
    for (const auto& [timeline, frame] : reached)
        entered(timeline, frame);
}

void TMovieClock::UpdateTimer()
{
    bool run = active && document;
    if (run) {
        run = false;
        for (int i = 0; i < Count() && !run; ++i)
            run = Advances(i);
    }
    if (run && !timer.isActive())
        timer.start();
    else if (!run)
        timer.stop();
}

} // namespace Mrv
