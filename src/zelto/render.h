// render.h - one rendering of the loaded song into a host's buffer, shared
// by the MIDI export entry points (plain and performed).
#ifndef TALVOREN_ZELTO_RENDER_H
#define TALVOREN_ZELTO_RENDER_H

#include <cstdint>

#include "gp/convert.h"
#include "gp/song.h"

namespace Talvoren {

struct MidiFileStruct;

// A conversion of a song into a model of trackCount + 1 chunks within a
// host's budget (ToMidiWithin, ToPerformedMidiWithin).
using SongRendering = int (*)(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth,
                              RenderBudget *budget);

// The contract of ZELTO_CreateMidiBuffer, for any rendering.
int CreateRenderedMidiBuffer(SongRendering render, unsigned char **buffer, std::uint32_t *size);

}  // namespace Talvoren

#endif  // TALVOREN_ZELTO_RENDER_H
