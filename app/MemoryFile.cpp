#include "app/MemoryFile.h"

#include "app/AppError.h"
#include "app/StoreLayout.h"
#include "app/TextFiles.h"
#include "network/NeuralNetwork.h"
#include "pictures/PictureDecoder.h"

#include <QFile>
#include <QStringDecoder>
#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <libdeflate.h>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

// The store is written and read in runs of this size, each added to the checksum while it is in the cache.
constexpr size_t StoreRunBytes = 256 * 1024;

QString Quoted(const QString& path)
{
    return u'"' + path + u'"';
}

[[noreturn]] void Fail(const QString& message)
{
    throw TAppError(message);
}

QString SystemReason(int error)
{
    char buffer[256]; // strerror_r: the store is read on two threads
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

// The CRC-32 of zlib and gzip, continued from `crc` (0 to begin). libdeflate's folds with the processor's
// carry-less multiply and takes about half the time of zlib's on the 90 MB of a store.
uint32_t Crc(uint32_t crc, const char* data, size_t size)
{
    return libdeflate_crc32(crc, data, size);
}

// Little-endian encoding, whatever the machine.
void PutU32(QByteArray& out, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

void PutU64(QByteArray& out, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

void PutF64(QByteArray& out, double value)
{
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    PutU64(out, bits);
}

uint64_t LittleEndian(const char* bytes, int size)
{
    uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | uint8_t(bytes[i]);
    return value;
}

// One list as UTF-8 text: every entry on a line of its own, ended by "\n"; a line break inside an entry is
// written as a space so that the list keeps one line per slot.
QByteArray ListText(const QStringList& list)
{
    QByteArray text;
    for (int i = 0; i < SlotCount; ++i) {
        QByteArray line = i < list.size() ? list[i].toUtf8() : QByteArray();
        line.replace('\r', ' ').replace('\n', ' ');
        text += line;
        text += '\n';
    }
    return text;
}

// The store is the one 90 MB part; the store slots are 32-bit little-endian values already on this machine.
static_assert(std::endian::native == std::endian::little, "the store is written as it lies in memory");

// The bytes of a file in order, with the total length known up front.
class TSource
{
public:
    virtual ~TSource() = default;
    virtual int64_t Length() const = 0;
    // Fills `buffer` with the next `size` bytes (the caller has checked that the file holds them).
    virtual void Read(char* buffer, int64_t size) = 0;
    // Fills `buffer` with the `size` bytes at `offset`, without moving on; may run on several threads at
    // once.
    virtual void ReadAt(char* buffer, int64_t size, int64_t offset) const = 0;
    // Moves on past the next `size` bytes.
    virtual void Skip(int64_t size) = 0;
};

class TBytesSource : public TSource
{
public:
    explicit TBytesSource(const QByteArray& bytes)
        : bytes(bytes)
    { }
    int64_t Length() const override { return bytes.size(); }
    void Read(char* buffer, int64_t size) override
    {
        std::memcpy(buffer, bytes.constData() + position, size_t(size));
        position += size;
    }
    void ReadAt(char* buffer, int64_t size, int64_t offset) const override
    {
        std::memcpy(buffer, bytes.constData() + offset, size_t(size));
    }
    void Skip(int64_t size) override { position += size; }

private:
    const QByteArray& bytes;
    int64_t position = 0;
};

// A regular file only: a folder, a FIFO or a device in its place is refused at once, without waiting for a
// writer, and a file above the size limit is refused before anything is read.
class TFileSource : public TSource
{
public:
    explicit TFileSource(const QString& path)
        : path(path)
    {
        const QByteArray name = QFile::encodeName(path);
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd < 0)
            Fail(QStringLiteral("Cannot open %1: %2").arg(Quoted(path), SystemReason(errno)));
        struct stat info = {};
        if (::fstat(fd, &info) != 0) {
            const int error = errno;
            ::close(fd);
            Fail(QStringLiteral("Cannot open %1: %2").arg(Quoted(path), SystemReason(error)));
        }
        if (!S_ISREG(info.st_mode)) {
            ::close(fd);
            Fail(S_ISDIR(info.st_mode) ? QStringLiteral("%1 is a folder, not a memory file").arg(Quoted(path))
                                       : QStringLiteral("%1 is not a regular file").arg(Quoted(path)));
        }
        length = info.st_size;
        if (length > MemoryFile::SizeLimit) {
            ::close(fd);
            Fail(QStringLiteral("%1 is too large to be a memory file (%2 bytes)")
                     .arg(Quoted(path))
                     .arg(length));
        }
    }
    ~TFileSource() override { ::close(fd); }
    TFileSource(const TFileSource&) = delete;
    TFileSource& operator=(const TFileSource&) = delete;

    int64_t Length() const override { return length; }
    // The many small fields of the header and the description come from a buffer; large runs are read
    // straight into the caller's buffer.
    void Read(char* buffer, int64_t size) override
    {
        const int64_t buffered = std::min<int64_t>(size, int64_t(ahead.size()) - aheadAt);
        if (buffered > 0) {
            std::memcpy(buffer, ahead.data() + aheadAt, size_t(buffered));
            aheadAt += buffered;
            buffer += buffered;
            size -= buffered;
        }
        if (size >= ReadAheadBytes) {
            ReadFully(buffer, size);
        } else if (size > 0) {
            ahead.resize(size_t(std::min<int64_t>(ReadAheadBytes, length - position)));
            ReadFully(ahead.data(), int64_t(ahead.size()));
            std::memcpy(buffer, ahead.data(), size_t(size));
            aheadAt = size;
        }
    }

    void ReadAt(char* buffer, int64_t size, int64_t offset) const override
    {
        while (size > 0) {
            const ssize_t got = ::pread(fd, buffer, size_t(std::min<int64_t>(size, 1 << 30)), off_t(offset));
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                Fail(QStringLiteral("Cannot read %1: %2").arg(Quoted(path), SystemReason(errno)));
            if (got == 0)
                Fail(QStringLiteral("%1 is damaged: it became shorter while it was read").arg(Quoted(path)));
            buffer += got;
            offset += got;
            size -= got;
        }
    }
    void Skip(int64_t size) override
    {
        const int64_t buffered = std::min<int64_t>(size, int64_t(ahead.size()) - aheadAt);
        aheadAt += buffered;
        position += size - buffered;
    }

private:
    static constexpr int64_t ReadAheadBytes = 64 * 1024;

    void ReadFully(char* buffer, int64_t size)
    {
        ReadAt(buffer, size, position);
        position += size;
    }

    QString path;
    int fd = -1;
    int64_t length = 0;
    int64_t position = 0; // of the file, read so far (every read names its offset)
    std::vector<char> ahead; // read ahead of the caller
    int64_t aheadAt = 0;
};

class TReader
{
public:
    TReader(TSource& source, const QString& name, const TNetworkShape& shape)
        : source(source)
        , name(name)
        , shape(shape)
    { }

    TMemory Read()
    {
        ReadMagic();
        const uint64_t version = U32();
        if (version > MemoryFile::Version)
            Fail(QStringLiteral("%1 was made by a newer Mirava (format %2)").arg(Quoted(name)).arg(version));
        if (version == 0)
            Damaged(QStringLiteral("its format number is 0"));
        const uint32_t slotCount = U32();
        if (slotCount != SlotCount)
            Other(QStringLiteral("it has %1 memory slots, not %2").arg(slotCount).arg(SlotCount));
        ReadDescription();

        const uint64_t storeLength = U64();
        if (storeLength != shape.StoreLength())
            Damaged(QStringLiteral("its store has %1 slots where the network needs %2")
                        .arg(storeLength)
                        .arg(shape.StoreLength()));
        // The store, three list lengths and the checksum must fit in what is left, before 90 MB are set
        // aside.
        if (Remaining() < int64_t(storeLength * 4) + 3 * 4 + 4)
            Damaged(QStringLiteral("it ends before the end of its store"));

        TMemory memory;
        memory.Network = TMemoProcessor::DescribeNetwork(shape);
        ReadStore(*memory.Network->Store, uint32_t(storeLength));

        memory.NameList = ReadList(QStringLiteral("names"));
        memory.FileList = ReadList(QStringLiteral("picture paths"));
        memory.TrainedList = ReadList(QStringLiteral("used flags"));
        for (const QString& flag : memory.TrainedList) {
            if (flag != u"0" && flag != u"1")
                Damaged(QStringLiteral("a used flag reads \"%1\" instead of 0 or 1").arg(flag.left(20)));
        }
        memory.Version = uint32_t(version);
        memory.Patterns.assign(SlotCount, TPatternBytes());
        if (version >= 2) {
            memory.Framing = ReadFraming();
            ReadPatterns(memory);
        }

        if (Remaining() != 4)
            Damaged(Remaining() < 4
                    ? QStringLiteral("it ends before its checksum")
                    : QStringLiteral("it holds %1 bytes after its checksum").arg(Remaining() - 4));
        const uint32_t computed = crc;
        const uint32_t stored = U32();
        if (stored != computed)
            Damaged(QStringLiteral("its checksum does not match its content"));
        return memory;
    }

private:
    [[noreturn]] void Damaged(const QString& what) const
    {
        Fail(QStringLiteral("%1 is damaged: %2").arg(Quoted(name), what));
    }
    [[noreturn]] void Other(const QString& what) const
    {
        Fail(QStringLiteral("%1 holds a memory that Mirava cannot use: %2").arg(Quoted(name), what));
    }

    int64_t Remaining() const { return source.Length() - position; }

    void Take(char* buffer, int64_t size, const char* what)
    {
        if (size > Remaining())
            Damaged(QStringLiteral("it ends in the middle of its %1").arg(QLatin1String(what)));
        source.Read(buffer, size);
        crc = Crc(crc, buffer, size_t(size));
        position += size;
    }

    uint32_t U32(const char* what = "header")
    {
        char bytes[4];
        Take(bytes, 4, what);
        return uint32_t(LittleEndian(bytes, 4));
    }
    uint64_t U64(const char* what = "header")
    {
        char bytes[8];
        Take(bytes, 8, what);
        return LittleEndian(bytes, 8);
    }
    double F64(const char* what)
    {
        const uint64_t bits = U64(what);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    void ReadMagic()
    {
        constexpr int size = int(sizeof MemoryFile::Magic);
        if (source.Length() == 0)
            Fail(QStringLiteral("%1 is empty, not a memory file").arg(Quoted(name)));
        char bytes[size];
        const int present = int(std::min<int64_t>(size, source.Length()));
        source.Read(bytes, present);
        if (std::memcmp(bytes, MemoryFile::Magic, size_t(present)) != 0)
            Fail(QStringLiteral("%1 is not a Mirava memory file").arg(Quoted(name)));
        if (present < size)
            Damaged(QStringLiteral("it ends in the middle of its header"));
        crc = Crc(crc, bytes, size);
        position = size;
    }

    void ReadDescription()
    {
        const uint32_t layers = U32();
        if (layers != 2)
            Other(QStringLiteral("its network has %1 layers, not 2").arg(layers));
        const int expectedCounts[2] = { shape.InputCount, shape.OutputCount };
        for (int layer = 0; layer < 2; ++layer) {
            const uint32_t count = U32();
            if (count != uint32_t(expectedCounts[layer]))
                Other(QStringLiteral("layer %1 of its network has %2 neurons, not %3")
                          .arg(layer)
                          .arg(count)
                          .arg(expectedCounts[layer]));
        }
        const int64_t neuronBytes = 20;
        if (Remaining() < (int64_t(shape.InputCount) + shape.OutputCount) * neuronBytes)
            Damaged(QStringLiteral("it ends in the middle of its network's description"));
        for (int layer = 0; layer < 2; ++layer) {
            const double lower = layer == 0 ? shape.InputLower : shape.OutputLower;
            const double upper = layer == 0 ? shape.InputUpper : shape.OutputUpper;
            const uint32_t levels = layer == 0 ? shape.InputLevels() : shape.OutputLevels();
            for (int neuron = 0; neuron < expectedCounts[layer]; ++neuron) {
                const double readLower = F64("network's description");
                const double readUpper = F64("network's description");
                const uint32_t readLevels = U32("network's description");
                if (readLower != lower || readUpper != upper || readLevels != levels)
                    Other(QStringLiteral(
                        "neuron %1 of layer %2 has the range %3 to %4 in %5 levels, not %6 to %7 "
                        "in %8")
                              .arg(neuron)
                              .arg(layer)
                              .arg(readLower)
                              .arg(readUpper)
                              .arg(readLevels)
                              .arg(lower)
                              .arg(upper)
                              .arg(levels));
            }
        }
    }

    // Reads the store straight into the network's mapped store, run by run: each run is added to the
    // checksum and its slots that the layout fixes are checked while it is still in the cache. The two halves
    // of a large store are read on two threads at once; their checksums are joined afterwards, and a fault
    // in the first half is the one reported, as a reading from the front would.
    void ReadStore(TMMFArray& store, uint32_t slotCount)
    {
        const TStoreLayout layout(shape);
        store.SetCount(slotCount);
        char* base = static_cast<char*>(store.ItemPtr(0));
        const int64_t storeAt = position;
        const uint64_t runSlots = StoreRunBytes / 4;
        struct THalf
        {
            uint64_t first, count;
            uint32_t crc = 0;
            std::exception_ptr error;
        };
        const uint64_t middle = slotCount < 2 * runSlots ? slotCount : (slotCount / 2 / runSlots) * runSlots;
        THalf halves[2] = { { 0, middle, 0, nullptr }, { middle, slotCount - middle, 0, nullptr } };
        std::atomic<bool> failed { false };
        auto readHalf = [&](THalf& half) {
            try {
                for (uint64_t first = half.first; first < half.first + half.count && !failed;) {
                    const uint64_t count = std::min(half.first + half.count - first, runSlots);
                    char* run = base + first * 4;
                    source.ReadAt(run, int64_t(count * 4), storeAt + int64_t(first * 4));
                    half.crc = Crc(half.crc, run, size_t(count * 4));
                    const uint64_t strange = layout.FirstStrangeSlot(run, first, count);
                    if (strange != TStoreLayout::NoSlot)
                        Damaged(QStringLiteral("slot %1 of its store does not belong to Mirava's network")
                                    .arg(strange));
                    first += count;
                }
            } catch (...) {
                half.error = std::current_exception();
                failed = true;
            }
        };
        std::thread second;
        if (halves[1].count > 0) {
            try {
                second = std::thread(readHalf, std::ref(halves[1]));
            } catch (const std::system_error&) {
                // No second thread to be had: this one reads both halves.
            }
        }
        readHalf(halves[0]);
        if (second.joinable())
            second.join();
        else if (halves[1].count > 0 && !failed)
            readHalf(halves[1]);
        for (const THalf& half : halves) {
            if (half.error)
                std::rethrow_exception(half.error);
        }
        for (const THalf& half : halves)
            crc = uint32_t(crc32_combine64(crc, half.crc, z_off64_t(half.count * 4)));
        source.Skip(int64_t(slotCount) * 4);
        position += int64_t(slotCount) * 4;
    }

    TFraming ReadFraming()
    {
        const uint32_t size = U32("framing");
        if (size > 64)
            Damaged(QStringLiteral("its framing claims %1 bytes").arg(size));
        QByteArray name(qsizetype(size), Qt::Uninitialized);
        Take(name.data(), size, "framing");
        const std::optional<TFraming> framing = FramingFromName(QString::fromUtf8(name));
        if (!framing || FramingName(*framing).toUtf8() != name)
            Other(QStringLiteral("its pictures are framed by \"%1\", which Mirava does not know")
                      .arg(QString::fromUtf8(name).left(20)));
        return *framing;
    }

    // One pattern per slot: its size, 0 or one value per input, and its bytes. Only used slots keep one.
    void ReadPatterns(TMemory& memory)
    {
        for (int slot = 0; slot < SlotCount; ++slot) {
            const uint32_t size = U32("patterns");
            if (size == 0)
                continue;
            if (size != uint32_t(shape.InputCount))
                Damaged(QStringLiteral("the pattern of slot %1 has %2 values, not %3")
                            .arg(slot)
                            .arg(size)
                            .arg(shape.InputCount));
            if (memory.TrainedList[slot] != u"1")
                Damaged(QStringLiteral("free slot %1 keeps a pattern").arg(slot));
            TPatternBytes& pattern = memory.Patterns[size_t(slot)];
            pattern.resize(size);
            Take(reinterpret_cast<char*>(pattern.data()), size, "patterns");
        }
    }

    QStringList ReadList(const QString& what)
    {
        const uint32_t size = U32("lists");
        if (int64_t(size) > Remaining() - 4)
            Damaged(QStringLiteral("its list of %1 claims %2 bytes, more than the file holds")
                        .arg(what)
                        .arg(size));
        QByteArray text(qsizetype(size), Qt::Uninitialized);
        Take(text.data(), size, "lists");
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString decoded = decoder.decode(text);
        if (decoder.hasError())
            Damaged(QStringLiteral("its list of %1 is not UTF-8 text").arg(what));
        if (!decoded.endsWith(u'\n') || decoded.count(u'\n') != SlotCount)
            Damaged(QStringLiteral("its list of %1 has %2 lines, not %3")
                        .arg(what)
                        .arg(decoded.count(u'\n') + (decoded.endsWith(u'\n') || decoded.isEmpty() ? 0 : 1))
                        .arg(SlotCount));
        decoded.chop(1);
        return decoded.split(u'\n');
    }

    TSource& source;
    QString name;
    const TNetworkShape& shape;
    int64_t position = 0;
    uint32_t crc = 0;
};

} // namespace

int TMemory::UsedSlotCount() const
{
    return int(TrainedList.count(QStringLiteral("1")));
}

void SaveMemoryFile(const QString& path, TMemoProcessor& processor)
{
    if (!processor.HasNetwork())
        Fail(QStringLiteral("Set up the network first"));
    TNeuralNetwork& network = *processor.Networks.front();
    TMMFArray& store = *network.Store;

    QByteArray head(MemoryFile::Magic, sizeof MemoryFile::Magic);
    PutU32(head, MemoryFile::Version);
    PutU32(head, SlotCount);
    const int layers = network.Layers->Count();
    PutU32(head, uint32_t(layers));
    for (int layer = 0; layer < layers; ++layer)
        PutU32(head, uint32_t(network.Layers->Items(layer)->Neurons->Count()));
    for (int layer = 0; layer < layers; ++layer) {
        const TNeurons& neurons = *network.Layers->Items(layer)->Neurons;
        for (int i = 0; i < neurons.Count(); ++i) {
            const TNeurone& neuron = *neurons.Items(i);
            PutF64(head, neuron.LowerBound);
            PutF64(head, neuron.UpperBound);
            PutU32(head, neuron.LevelCount);
        }
    }
    PutU64(head, store.Count());

    QByteArray tail;
    for (const QStringList* list : { &processor.NameList, &processor.FileList, &processor.TrainedList }) {
        const QByteArray text = ListText(*list);
        PutU32(tail, uint32_t(text.size()));
        tail += text;
    }
    const QByteArray framing = FramingName(processor.Framing).toUtf8();
    PutU32(tail, uint32_t(framing.size()));
    tail += framing;
    const size_t inputs = size_t(network.GetNeuronCount(0));
    for (int slot = 0; slot < SlotCount; ++slot) {
        const bool kept = slot < processor.TrainedList.size() && processor.TrainedList[slot] == u"1"
            && size_t(slot) < processor.Patterns.size() && processor.Patterns[size_t(slot)].size() == inputs;
        PutU32(tail, kept ? uint32_t(inputs) : 0u);
        if (kept)
            tail.append(
                reinterpret_cast<const char*>(processor.Patterns[size_t(slot)].data()), qsizetype(inputs));
    }

    // The store goes to the file straight from its mapping, run by run; each run is added to the checksum
    // just before it is written, while it is in the cache.
    TAtomicFileWriter file(path);
    uint32_t crc = 0;
    auto write = [&](const char* data, size_t size) {
        crc = Crc(crc, data, size);
        file.Write(data, size);
    };
    write(head.constData(), size_t(head.size()));
    const char* storeBytes = store.Count() == 0 ? nullptr : static_cast<const char*>(store.ItemPtr(0));
    const size_t storeSize = size_t(store.Size());
    for (size_t done = 0; done < storeSize; done += StoreRunBytes)
        write(storeBytes + done, std::min(StoreRunBytes, storeSize - done));
    write(tail.constData(), size_t(tail.size()));
    QByteArray checksum;
    PutU32(checksum, crc);
    file.Write(checksum.constData(), size_t(checksum.size()));
    file.Commit();
}

TMemory ReadMemoryFile(const QString& path, const TNetworkShape& shape)
{
    TFileSource source(path);
    return TReader(source, path, shape).Read();
}

TMemory ReadMemoryBytes(const QByteArray& bytes, const QString& name, const TNetworkShape& shape)
{
    TBytesSource source(bytes);
    return TReader(source, name, shape).Read();
}

namespace {
// A memorised picture framed again, its first `inputs` values; none when the picture no longer reads.
std::optional<TPatternBytes> SlotPattern(
    const QString& file, TFraming framing, const TFramer& framer, size_t inputs)
{
    if (file.isEmpty())
        return std::nullopt;
    try {
        TPatternBytes pattern = PatternBytes(framer.FrameFile(file, framing).Pattern);
        if (pattern.size() < inputs)
            return std::nullopt;
        pattern.resize(inputs);
        return pattern;
    } catch (const TPictureError&) {
        return std::nullopt;
    }
}
} // namespace

std::vector<int> RestorePatterns(TMemory& memory, const TFramer& framer)
{
    std::vector<int> unread;
    memory.Patterns.resize(SlotCount);
    const size_t inputs = memory.Network ? size_t(memory.Network->GetNeuronCount(0)) : 0;
    for (int slot = 0; slot < SlotCount && slot < memory.TrainedList.size(); ++slot) {
        if (memory.TrainedList[slot] != u"1" || !memory.Patterns[size_t(slot)].empty())
            continue;
        if (std::optional<TPatternBytes> pattern
            = SlotPattern(memory.FileList.value(slot), memory.Framing, framer, inputs))
            memory.Patterns[size_t(slot)] = std::move(*pattern);
        else
            unread.push_back(slot);
    }
    return unread;
}

TRehearsalResult RehearseMemory(TMemory& memory)
{
    return TRehearsal().Rehearse(*memory.Network,
        TMemoProcessor::RehearsalItemsOf(
            memory.NameList, memory.TrainedList, memory.Patterns, memory.Network->GetNeuronCount(1)));
}

std::vector<int> CatchUpOldMemory(TMemory& memory, const TFramer& framer)
{
    if (memory.Version >= 2)
        return {};
    const std::vector<int> unread = RestorePatterns(memory, framer);
    RehearseMemory(memory);
    return unread;
}

QString SlotsText(const QStringList& names, const std::vector<int>& which)
{
    QStringList parts;
    for (const int slot : which)
        parts << QStringLiteral("%1 (slot %2)").arg(slot < names.size() ? names[slot] : QString()).arg(slot);
    return parts.join(QStringLiteral(", "));
}

std::optional<TMemory> FrameMemoryAgain(const QStringList& names, const QStringList& files,
    const QStringList& trained, TFraming framing, const TFramer& framer, std::vector<int>& unread,
    const TNetworkShape& shape)
{
    unread.clear();
    std::vector<TPatternBytes> patterns(SlotCount);
    const size_t inputs = size_t(shape.InputCount);
    for (int slot = 0; slot < SlotCount && slot < trained.size(); ++slot) {
        if (trained[slot] != u"1")
            continue;
        if (std::optional<TPatternBytes> pattern = SlotPattern(files.value(slot), framing, framer, inputs))
            patterns[size_t(slot)] = std::move(*pattern);
        else
            unread.push_back(slot);
    }
    if (!unread.empty())
        return std::nullopt;
    TMemory memory;
    memory.Network = TMemoProcessor::BuildNetwork(shape);
    memory.Network->RandomizeWeights();
    memory.NameList = names;
    memory.FileList = files;
    memory.TrainedList = trained;
    memory.Framing = framing;
    const int outputs = memory.Network->GetNeuronCount(1);
    TRehearsal rehearsal;
    std::vector<TRehearsalItem> items;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (patterns[size_t(slot)].empty())
            continue;
        items.push_back({ patterns[size_t(slot)], TMemoProcessor::TargetsOf(slot, outputs, names, trained) });
        rehearsal.TrainAndRehearse(*memory.Network, items, items.size() - 1);
    }
    memory.Patterns = std::move(patterns);
    return memory;
}

void UseMemory(TMemoProcessor& processor, TMemory&& memory)
{
    processor.ReleaseNetworks();
    processor.Networks.push_back(std::move(memory.Network));
    processor.NameList = std::move(memory.NameList);
    processor.FileList = std::move(memory.FileList);
    processor.TrainedList = std::move(memory.TrainedList);
    processor.Framing = memory.Framing;
    processor.Patterns = std::move(memory.Patterns);
    processor.Patterns.resize(SlotCount);
}
