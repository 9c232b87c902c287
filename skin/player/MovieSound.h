// Sounds of a movie: WAV files read into PCM and played through the host's sound service, which silences
// them when sound is off and hands them to the output. The output is Qt Multimedia's default audio device,
// opened only when a sound is first played; without a device nothing is played and nothing is said.
#pragma once

#include "MoviePlayerInterfaces.h"

#include <QByteArray>
#include <memory>
#include <optional>

namespace Mrv {

struct TWave
{
    int sampleRate = 0;
    int channels = 0;
    int bitsPerSample = 0; // 8 or 16
    QByteArray samples; // interleaved PCM, as in the file
};

// Reads a RIFF WAVE file of 8- or 16-bit PCM; nothing for anything else.
std::optional<TWave> ReadWave(const QByteArray& bytes);

class TSoundOutput
{
public:
    TSoundOutput();
    ~TSoundOutput();
    // Plays a wave through the host's sound service (when given), replacing a sound still playing.
    void Play(const TPlayerHostServices* services, const TWave& wave);

private:
    struct TDevice;
    static int Write(const void* data, std::size_t size, void* context);
    std::unique_ptr<TDevice> device;
    const TWave* playing = nullptr;
};

} // namespace Mrv
