// perform.h - the performed rendering of a song: every note as a guitarist
// plays it (alternative endings honoured, ties held, capo added, articulations
// and ornaments heard), beside the plain conversion of convert.h and on the
// same timing, conductor track and track layout.
#ifndef TALVOREN_GP_PERFORM_H
#define TALVOREN_GP_PERFORM_H

#include <cstdint>

#include "gp/convert.h"
#include "gp/song.h"

namespace Talvoren {

struct MidiFileStruct;

// Appends the performed rendering to a model with trackCount + 1 track
// chunks: chunk 0 the conductor track, chunk k + 1 song track k. Returns 1;
// returns 0 with nothing appended when the model has another number of
// chunks or when the playing order passes the render limits (ticks, measures
// played, text), and 0 as well (the chunks keeping what was appended) when
// its working memory cannot be had, an event cannot be appended, or the
// events played pass their limit.
// Reads the song and writes nothing into it: two songs may be rendered on
// two threads at once, and one song on several.
int ToPerformedMidi(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth);
// ToPerformedMidi within a host's budget (null: none; convert.h), saying why
// it returned 0. The budget is checked after every track's measure.
int ToPerformedMidiWithin(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth,
                          RenderBudget *budget);

// An upper bound of the channel and meta events the performed rendering of
// the song appends (ornaments that repeat a note counted at their fastest),
// or 0 when the song's records are incomplete. Hosts that cap their work
// (the fuzz target) ask it before rendering.
std::uint64_t GetPerformedEventBound(const FileStruct *file, std::uint32_t pulsesPerSixtyFourth);

}  // namespace Talvoren

#endif  // TALVOREN_GP_PERFORM_H
