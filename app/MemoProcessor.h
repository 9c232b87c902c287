#pragma once

// The commands' logic of the shell, kept apart from the window so that a command-line tool can run the very
// same network set-up, sampling, memorise and recognise steps without widgets.

#include "input/Framing.h"
#include "input/InputPattern.h"
#include "network/NeuralNetwork.h"
#include "network/Rehearsal.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <memory>
#include <vector>

constexpr int SlotCount = 20;
// The name of the lock file in the slot files' folder.
inline constexpr char SlotFolderLockName[] = ".mirava.lock";

// The two layers of the recogniser: every input neuron in InputLower..InputUpper, every output neuron in
// OutputLower..OutputUpper, each cut into levels of about the given width. The defaults are the window's.
struct TNetworkShape
{
    int InputCount = SampleSize * SampleSize;
    int OutputCount = SlotCount;
    double InputLower = 0.0;
    double InputUpper = 255.0;
    double InputLevelWidth = 10.0;
    double OutputLower = 0.0;
    double OutputUpper = 100.0;
    double OutputLevelWidth = 10.0;

    // (upper - lower) / width to the nearest integer, an exact half to the even neighbour (26 from 25.5);
    // never below 2, as a neuron keeps at least two levels.
    uint16_t InputLevels() const;
    uint16_t OutputLevels() const;
    // Slots of the laid-out store, from the counts alone.
    uint64_t StoreLength() const;
};

class TMemoProcessor
{
public:
    QStringList NameList, FileList, TrainedList; // SlotCount entries each; "" / "" / "0" when free
    // The pattern each used slot was memorised from (SampleSize*SampleSize bytes), SlotCount entries; empty
    // for a free slot, and for a used one whose pattern is not known (a memory file of format 1 whose
    // picture no longer reads). Used slots with a pattern are rehearsed.
    std::vector<TPatternBytes> Patterns;
    // How the memorised pictures were framed; a memory never mixes framings.
    TFraming Framing = TFraming::Corner;
    // Memorise rehearses every used slot after training the new one, so that the network keeps what it
    // learnt before. Off, memorise trains the new pattern once and nothing else.
    bool RehearseOnMemorise = true;
    int RehearsalPasses = MaxRehearsalPasses; // the most passes of one rehearsal
    TRehearsalResult LastRehearsal; // of the last memorise
    std::vector<std::unique_ptr<TNeuralNetwork>> Networks;
    QString StateFilePrefix; // "" in the window (slot files land in the current dir);
                             // a tool may set a folder prefix ending in "/"
    bool SaveSlotFilesOnMemorise = true; // a tool may turn slot files off

    TMemoProcessor(); // all slots free
    ~TMemoProcessor();
    TMemoProcessor(const TMemoProcessor&) = delete;
    TMemoProcessor& operator=(const TMemoProcessor&) = delete;

    // Command 3 without its message box: throws away any network and builds a new untrained one
    // (10000 inputs in 0..255 with 26 levels, SlotCount outputs in 0..100 with 10 levels).
    void SetUpNetwork();
    // A network of the shape, described, connected and laid out, with every weight still 0.
    static std::unique_ptr<TNeuralNetwork> BuildNetwork(const TNetworkShape& shape);
    // The same described and connected only: its store is still empty, for a caller that fills it.
    static std::unique_ptr<TNeuralNetwork> DescribeNetwork(const TNetworkShape& shape);
    bool HasNetwork() const;
    // Destroys every network in index order; each deletes its store file.
    void ReleaseNetworks();

    // SetInput on layer 0 of every network, for as many neurons as GetNeuronCount(0) of network 0 reports.
    // Throws when the pattern is shorter than that.
    void FeedPattern(const TInputPattern& pattern);

    int FirstFreeSlot() const; // SlotCount when none is free
    int UsedSlotCount() const;

    // Records name (untrimmed) and path in the first free slot, saves the slot files (replaced as one), sets
    // the targets 99/1 and trains once with Commit false. Returns the slot, or SlotCount when none was free
    // (then nothing changes). Throws with "Set up the network first" when there is no network. The slot
    // files are saved from copies of the lists first: when that fails (or another program keeps the
    // folder), it throws and nothing changes, neither the lists nor the network.
    // The pattern is kept in Patterns beside the slot, and with RehearseOnMemorise every used slot with a
    // pattern is rehearsed (LastRehearsal says how it went).
    int Memorise(const QString& name, const QString& path, const TInputPattern& pattern);
    // The used slots that have no pattern and so are not rehearsed.
    std::vector<int> SlotsWithoutPattern() const;
    // What a slot's pattern is trained towards when rehearsing: 99 on the slot's own output and on every
    // used slot memorised under the same name (the same person, whose outputs should not be pushed apart),
    // 1 on every other one. Names are compared without the white space around them.
    static std::vector<float> TargetsOf(
        int slot, int outputCount, const QStringList& names, const QStringList& trained);
    // What rehearsal trains: every used slot that has a pattern, in slot order, with its targets.
    static std::vector<TRehearsalItem> RehearsalItemsOf(const QStringList& names, const QStringList& trained,
        const std::vector<TPatternBytes>& patterns, int outputCount);
    // The network changed other than by Memorise (its weights drawn again, say): rehearsal counts afresh.
    void NetworkChanged() { rehearsal.Forget(); }
    static QString AllSlotsUsedMessage(); // "All 20 memory slots are used"

    // Takes the lock on the slot files' folder (the lock file ".mirava.lock" there, held with flock until
    // this processor goes) unless it holds it already, and then removes temporary slot files that an
    // interrupted save left there. Returns "" when this processor may write its slot files there, else the
    // message why not: another program keeps its memories there, or the lock file cannot be made. A folder
    // where no lock file can be created (read-only) is no refusal here: the save itself then reports why.
    QString LockSlotFolder();
    bool HoldsSlotFolder() const { return lockFd >= 0; }

    struct TRecognition
    {
        bool Found = false;
        int BestSlot = 0;
        std::vector<float> Outputs;
    };
    // Propagates and chooses among used slots only (TrainedList "1"), ties to the lower slot, running max
    // from 0.0. Found is false when no slot is used (nothing changes). Throws "Set up the network first"
    // without a network.
    TRecognition Recognise(const TInputPattern& pattern);
    // The choice of Recognise on given outputs: the used slot with the strictly largest output above 0.0,
    // ties to the lower slot; the first used slot when none is above 0.0; -1 when no slot is used.
    static int ChooseBestSlot(const std::vector<float>& outputs, const QStringList& trainedList);

    // Writes "listname.ini", "listfile.ini" and "trained.ini" (StateFilePrefix in front) as one: all three
    // temporary files whole and on the disk first, then renamed in this order. One line per slot (a line
    // break inside an entry is written as a space). Throws "Cannot create file \"%s\". %s" on failure; the
    // old files then stay as they were.
    void SaveSlotFiles() const;
    void SaveSlotFiles(const QStringList& names, const QStringList& files, const QStringList& trained) const;
    static QString FormatElapsed(std::chrono::nanoseconds elapsed); // "0:00:00.012" (h:mm:ss.zzz)

private:
    TRehearsal rehearsal; // the sums of the rehearsed patterns, kept between memorises
    int lockFd = -1;
    QString lockedPrefix; // the StateFilePrefix under which the lock was taken
    void RemoveLeftoverTemporaries() const;
};
