// A stand-in player library with a version record but no class factory, for the provider tests.
#include "skin/player/MoviePlayerInterfaces.h"

extern "C" {
__attribute__((visibility("default"))) extern const Mrv::TPlayerVersionRecord MiravaPlayerVersionRecord;
const Mrv::TPlayerVersionRecord MiravaPlayerVersionRecord = { Mrv::VersionRecordMagic, 3, 1, 2, 4 };
}
