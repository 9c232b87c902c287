#include "fuzz/MemoryFileTarget.h"

#include "app/AppError.h"
#include "app/MemoryFile.h"
#include "network/NeuralNetwork.h"

#include <QByteArray>
#include <zlib.h>

TNetworkShape FuzzMemoryShape()
{
    TNetworkShape shape;
    shape.InputCount = 3;
    shape.InputLevelWidth = 127.5; // 2 levels: the whole store takes about 5 KB
    return shape;
}

namespace {

bool ReadAndUse(const QByteArray& bytes)
{
    const TNetworkShape shape = FuzzMemoryShape();
    TMemory memory;
    try {
        memory = ReadMemoryBytes(bytes, QStringLiteral("fuzz.mmem"), shape);
    } catch (const TAppError&) {
        return false;
    }
    // What the reader lets through must be a memory the processor can use as it stands.
    if (!memory.Network || memory.Network->Store->Count() != shape.StoreLength()
        || memory.NameList.size() != SlotCount || memory.FileList.size() != SlotCount
        || memory.TrainedList.size() != SlotCount)
        __builtin_trap();
    TMemoProcessor processor;
    processor.SaveSlotFilesOnMemorise = false;
    UseMemory(processor, std::move(memory));
    const TInputPattern pattern(size_t(shape.InputCount), 128.0f);
    try {
        processor.Recognise(pattern);
        processor.Memorise(QStringLiteral("x"), QStringLiteral("x.bmp"), pattern);
    } catch (const TEngineError&) {
        // An engine error (a range that makes no sense) is a message for the user, not a crash.
    }
    return true;
}

} // namespace

bool FuzzMemoryFile(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const bool accepted = ReadAndUse(bytes);
    // The same bytes with a checksum that fits them, so that damage behind a good checksum (learnt values
    // that make no sense, odd lists) reaches the checks and the use behind it.
    if (size > 4) {
        QByteArray sealed(bytes.constData(), qsizetype(size) - 4);
        const uLong crc
            = crc32_z(0, reinterpret_cast<const Bytef*>(sealed.constData()), size_t(sealed.size()));
        for (int i = 0; i < 4; ++i)
            sealed += char((crc >> (8 * i)) & 0xFF);
        if (sealed != bytes)
            ReadAndUse(sealed);
    }
    return accepted;
}
