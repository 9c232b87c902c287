// The movie's one clock: the frame of every timeline, which timelines play, and the one timer that moves
// them on. The timer runs only while some timeline plays and has somewhere to go, so a stopped movie costs
// nothing. Frames are counted from 0; each tick moves every playing timeline on by one frame.
#pragma once

#include <QTimer>
#include <functional>
#include <vector>

namespace Mrv {

class TMovieDocument;

class TMovieClock
{
public:
    // changed runs after frames moved; entered runs for every frame a timeline reached by playing.
    TMovieClock(std::function<void()> changed, std::function<void(int timeline, int frame)> entered);

    // Starts over for a document (or none): every timeline at frame 0, the movie playing, nested timelines
    // playing along.
    void Reset(const TMovieDocument* document);
    // Whether the player is in place and may run its timer.
    void SetActive(bool active);
    // Whether the movie's own timeline starts again from frame 0 after its last frame.
    void SetLoop(bool loop);

    const std::vector<int>& Frames() const { return frames; }
    int Count() const { return static_cast<int>(frames.size()); }
    int Frame(int timeline) const;
    int Total(int timeline) const;
    bool Playing(int timeline) const;
    bool TimerRunning() const { return timer.isActive(); }

    // The movie: Play resumes the timelines that Stop paused; StopPlay stops every timeline for good.
    void Play();
    void Stop();
    void StopPlay();
    // One timeline.
    void SetPlaying(int timeline, bool playing);
    // Shows a frame (clamped to the timeline's last); returns false for a frame below 0.
    bool Seek(int timeline, int frame);
    // Moves every playing timeline on by one frame, as the timer does.
    void Tick();

private:
    void UpdateTimer();
    bool Advances(int timeline) const;

    std::function<void()> changed;
    std::function<void(int, int)> entered;
    QTimer timer;
    const TMovieDocument* document = nullptr;
    std::vector<int> frames;
    std::vector<char> playing;
    std::vector<char> paused; // nested timelines that Stop paused and Play resumes
    bool active = false;
    bool loop = true;
};

} // namespace Mrv
