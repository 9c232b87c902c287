#pragma once

// Memory files (".mmem"): everything the processor has memorised in one file: the network's description, its
// whole store and the three memory lists, closed by a CRC-32. Written through a temporary file and a rename;
// read in one pass and checked in full before any of it is used. The layout is in docs/formats.md.

#include "app/MemoProcessor.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

class TNeuralNetwork;

namespace MemoryFile {
inline constexpr char Magic[8] = { 'M', 'I', 'R', 'A', 'V', 'A', 'M', 'M' };
inline constexpr uint32_t Version = 1;
// The suffix that the dialogs add, and their filter.
inline constexpr char Suffix[] = "mmem";
inline constexpr char DialogFilter[] = "Mirava memory (*.mmem)";
// The window's memory takes about 90 MB; a file larger than this is refused before it is read.
inline constexpr int64_t SizeLimit = 256 * 1024 * 1024;
} // namespace MemoryFile

// A memory read from a file: a network of its own (with its own store file) and the three lists.
struct TMemory
{
    std::unique_ptr<TNeuralNetwork> Network;
    QStringList NameList, FileList, TrainedList;

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

// Puts a memory into the processor: its networks are released (each deletes its store file) and the read
// network and lists take their place. The slot files are not written here.
void UseMemory(TMemoProcessor& processor, TMemory&& memory);
