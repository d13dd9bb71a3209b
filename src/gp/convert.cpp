// convert.cpp - placeholder song-to-MIDI conversion: emits nothing yet.
#include "gp/song.h"

namespace Talvoren {

int ToMidi(FileStruct *, MidiFileStruct *, std::uint32_t) { return 1; }

}  // namespace Talvoren
