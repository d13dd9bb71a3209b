// song_access.h - what every exported function does with a song, whether it
// is the global song or a song handle: opening a file into a song, finding a
// measure, track, pair or beat by index with every bound checked, and
// rendering a song as a MIDI file.
#ifndef TALVOREN_ZELTO_SONG_ACCESS_H
#define TALVOREN_ZELTO_SONG_ACCESS_H

#include <cstdint>

#include "gp/song.h"
#include "zelto/render.h"

namespace Talvoren {

// Opens the file at path and reads it into a new heap song. Returns
// ZELTO_SONG_OK with *song set, or the reason it failed (zelto_song.h) with
// *song null and nothing held; the file is closed in either case.
std::int32_t OpenSongFile(const char *path, FileStruct **song);
// Releases a song that OpenSongFile made; a null song is allowed.
void CloseSongFile(FileStruct *song);

// Lookups: null when the song is null or an index is out of range.
const Measure *SongMeasureAt(const FileStruct *song, std::uint32_t measure);
const Track *SongTrackAt(const FileStruct *song, std::uint32_t track);
const char *SongNoticeLine(const FileStruct *song, std::uint32_t line);
const char *SongLyricsLine(const FileStruct *song, std::uint32_t line);
const MidiChannelInfo *SongMidiChannel(const FileStruct *song, std::uint32_t port, std::uint32_t channel);
const MeasureTrackPair *SongPairAt(const FileStruct *song, std::uint32_t measure, std::uint32_t track);
const Beat *SongBeatAt(const FileStruct *song, std::uint32_t measure, std::uint32_t track, std::uint32_t beat);
// The note on string 1 to 7 of a beat, or null when that string holds none.
const Note *BeatNoteOnString(const Beat &beat, std::uint32_t string);

// What rendering a song into one buffer gave.
enum class RenderOutcome {
    SetUpFailed,       // no song, or no memory for the model: nothing written
    TooManyTracks,     // more tracks than one MIDI file holds: nothing written
    Rendered,          // *buffer and *size hold the file
    ConversionFailed,  // past the render limits, or no working memory: *buffer null, *size 0
    BufferFailed,      // the buffer for the whole file could not be had: *buffer null, *size 0
};

// Renders the song with the given rendering (ToMidiWithin,
// ToPerformedMidiWithin) into one new buffer, released with
// DestroyMidiBuffer; 480 ticks per quarter note. With a budget (or null),
// the rendering keeps within it and says there why it failed.
RenderOutcome RenderSongMidi(FileStruct *song, SongRendering render, unsigned char **buffer, std::uint32_t *size,
                             RenderBudget *budget = nullptr);
// RenderSongMidi for a song that other threads may read or render at the
// same time: the song itself is only read. The plain conversion (ToMidiWithin)
// keeps its working fields in the song it converts, so it converts a copy of
// the song record whose measures and tracks are copies too; the performed
// rendering writes nothing and renders the song itself. SetUpFailed when the
// copies cannot be had.
RenderOutcome RenderSharedSongMidi(const FileStruct *song, SongRendering render, unsigned char **buffer,
                                   std::uint32_t *size, RenderBudget *budget = nullptr);

}  // namespace Talvoren

#endif  // TALVOREN_ZELTO_SONG_ACCESS_H
