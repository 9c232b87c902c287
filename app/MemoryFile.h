#pragma once

// Memory files (".mmem"): everything the processor has memorised in one file: the network's description, its
// whole store and the three memory lists, closed by a CRC-32. Written through a temporary file and a rename;
// read in one pass and checked in full before any of it is used. The layout is in docs/formats.md.

#include "app/MemoProcessor.h"
#include "input/Framing.h"
#include "network/Rehearsal.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class TNeuralNetwork;

namespace MemoryFile {
inline constexpr char Magic[8] = { 'M', 'I', 'R', 'A', 'V', 'A', 'M', 'M' };
// 2 adds the framing and each used slot's pattern; files of format 1 still open.
inline constexpr uint32_t Version = 2;
// The suffix that the dialogs add, and their filter.
inline constexpr char Suffix[] = "mmem";
inline constexpr char DialogFilter[] = "Mirava memory (*.mmem)";
// The window's memory takes about 90 MB; a file larger than this is refused before it is read.
inline constexpr int64_t SizeLimit = 256 * 1024 * 1024;
} // namespace MemoryFile

// A memory read from a file: a network of its own (with its own store file), the three lists, the framing
// of its pictures and the patterns of its used slots (SlotCount entries, empty where not known: a file of
// format 1 keeps none).
struct TMemory
{
    std::unique_ptr<TNeuralNetwork> Network;
    QStringList NameList, FileList, TrainedList;
    uint32_t Version = MemoryFile::Version; // the format of the file it came from
    TFraming Framing = TFraming::Corner;
    std::vector<TPatternBytes> Patterns;

    int UsedSlotCount() const;
};

// Writes network 0 of the processor and its three lists to `path`, atomically: a failure leaves any old file
// whole. Throws TAppError "Cannot create file "<path>". <reason>", or "Set up the network first" without a
// network.
void SaveMemoryFile(const QString& path, TMemoProcessor& processor);

// Reads and checks a memory file made for a network of `shape`. Throws TAppError naming the file and what is
// wrong with it; nothing outside the returned memory is touched.
TMemory ReadMemoryFile(const QString& path, const TNetworkShape& shape = TNetworkShape());
// The same on bytes already in memory; `name` stands for the file in messages.
TMemory ReadMemoryBytes(const QByteArray& bytes, const QString& name, const TNetworkShape& shape);

// Frames the pictures of the used slots that have no pattern again (a memory from a file of format 1), with
// the memory's framing. Returns the slots whose picture no longer reads; they keep no pattern.
std::vector<int> RestorePatterns(TMemory& memory, const TFramer& framer);
// Rehearses every used slot of the memory that has a pattern, on the memory's own network.
TRehearsalResult RehearseMemory(TMemory& memory);
// Readies a memory just read for use: one of format 1 gets its patterns again (RestorePatterns) and is
// rehearsed over them. Returns the slots whose pictures no longer read (none for a memory of format 2).
std::vector<int> CatchUpOldMemory(TMemory& memory, const TFramer& framer);
// For the status bar: the used slots that are not rehearsed, by name and slot, e.g. "anna (slot 0), bodo
// (slot 3)".
QString SlotsText(const QStringList& names, const std::vector<int>& which);

// The persons of a memory framed anew: every used slot's picture (`files`) is framed with `framing`. When a
// picture no longer reads, nothing is made and `unread` names the slots. Otherwise a fresh network (its
// weights drawn anew) learns the new patterns slot by slot, each followed by a rehearsal of the slots before
// it, as memorise does; every slot keeps its number, name and picture. `shape` is the network's.
std::optional<TMemory> FrameMemoryAgain(const QStringList& names, const QStringList& files,
    const QStringList& trained, TFraming framing, const TFramer& framer, std::vector<int>& unread,
    const TNetworkShape& shape = TNetworkShape());

// Puts a memory into the processor: its networks are released (each deletes its store file) and the read
// network and lists take their place. The slot files are not written here.
void UseMemory(TMemoProcessor& processor, TMemory&& memory);
