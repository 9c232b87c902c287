#include "MovieSound.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>
#include <QtEndian>

namespace Mrv {

std::optional<TWave> ReadWave(const QByteArray& bytes)
{
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE")
        return std::nullopt;
    TWave wave;
    bool haveFormat = false;
    qsizetype pos = 12;
    while (pos + 8 <= bytes.size()) {
        const QByteArray id = bytes.mid(pos, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + pos + 4);
        const qsizetype body = pos + 8;
        if (size > static_cast<quint64>(bytes.size() - body))
            return std::nullopt;
        if (id == "fmt " && size >= 16) {
            const char* f = bytes.constData() + body;
            if (qFromLittleEndian<quint16>(f) != 1) // PCM only
                return std::nullopt;
            wave.channels = qFromLittleEndian<quint16>(f + 2);
            wave.sampleRate = static_cast<int>(qFromLittleEndian<quint32>(f + 4));
            wave.bitsPerSample = qFromLittleEndian<quint16>(f + 14);
            haveFormat = true;
        } else if (id == "data" && haveFormat) {
            wave.samples = bytes.mid(body, size);
            break;
        }
        pos = body + size + (size & 1);
    }
    if (!haveFormat || wave.samples.isEmpty() || wave.channels < 1 || wave.channels > 2
        || wave.sampleRate < 1000 || wave.sampleRate > 192000
        || (wave.bitsPerSample != 8 && wave.bitsPerSample != 16))
        return std::nullopt;
    return wave;
}

// The default audio device, opened once; none when the machine has no audio output.
struct TSoundOutput::TDevice
{
    QAudioDevice output;
    std::unique_ptr<QAudioSink> sink;
    QAudioFormat format;
};

TSoundOutput::TSoundOutput() = default;
TSoundOutput::~TSoundOutput() = default;

void TSoundOutput::Play(const TPlayerHostServices* services, const TWave& wave)
{
    QByteArray samples = wave.samples; // the host may silence them in place
    playing = &wave;
    if (services && services->WriteSound)
        services->WriteSound(
            samples.data(), static_cast<std::size_t>(samples.size()), &TSoundOutput::Write, this);
    else
        Write(samples.constData(), static_cast<std::size_t>(samples.size()), this);
    playing = nullptr;
}

int TSoundOutput::Write(const void* data, std::size_t size, void* context)
{
    auto* self = static_cast<TSoundOutput*>(context);
    if (!self || !self->playing)
        return -1;
    if (!self->device) {
        self->device = std::make_unique<TDevice>();
        self->device->output = QMediaDevices::defaultAudioOutput();
    }
    TDevice& device = *self->device;
    if (device.output.isNull())
        return -1;
    QAudioFormat format;
    format.setSampleRate(self->playing->sampleRate);
    format.setChannelCount(self->playing->channels);
    format.setSampleFormat(self->playing->bitsPerSample == 8 ? QAudioFormat::UInt8 : QAudioFormat::Int16);
    if (!device.output.isFormatSupported(format))
        return -1;
    if (!device.sink || device.format != format) {
        device.sink = std::make_unique<QAudioSink>(device.output, format);
        device.format = format;
    }
    device.sink->stop();
    QIODevice* stream = device.sink->start();
    if (!stream)
        return -1;
    return static_cast<int>(stream->write(static_cast<const char*>(data), static_cast<qint64>(size)));
}

} // namespace Mrv
