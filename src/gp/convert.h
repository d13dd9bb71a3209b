// convert.h - the song-to-MIDI conversion (ToMidi), and the readings of the
// song that every rendering of it shares: measure and beat lengths in pulses,
// the playing order, tempo, volume and velocity values, a note's key and a
// track's channels.
#ifndef TALVOREN_GP_CONVERT_H
#define TALVOREN_GP_CONVERT_H

#include <cstdint>

#include "gp/song.h"

namespace Talvoren {

struct MidiFileStruct;

constexpr std::uint8_t largestDataByte = 127;  // the largest data byte of a channel event

// Render limits that no real song comes near, shared by both renderings: a
// song that would pass one is refused whole, before anything is emitted.
// Ticks from the start to the end: no delta time can pass this.
constexpr std::uint64_t largestSongTicks = 0x0FFFFFFF;
// Measures played × (tracks + 1): the work done per measure, whatever its length.
constexpr std::uint64_t largestMeasureVisits = std::uint64_t{1} << 24;

// Why a rendering refused a song: a render limit it passes (the song's
// ticks, its measures played, its events, or the performed rendering's
// text), the host's size budget, or memory it could not have (working
// memory, or room for an event).
enum class RenderRefusal : std::uint8_t { None, Ticks, MeasureVisits, Events, Text, Size, Memory };

// What a host asks of one rendering beyond the render limits, and what the
// rendering answers: the largest file it may make, header and chunk headers
// included (0: no budget), and why it returned 0 (None after a rendering that
// succeeded, or one refused for a model of the wrong shape). A rendering
// with a budget stops as soon as the file it builds passes it: its work and
// memory stay within the budget and the events of one measure.
struct RenderBudget {
    std::uint64_t largestFileBytes;
    RenderRefusal refusal;
};

// Appends the song's events to a model with trackCount + 1 track chunks:
// chunk 0 the conductor track, chunk k + 1 song track k. Returns 1; returns 0
// with nothing appended when the model has another number of chunks, when
// the rendering would pass the render limits (too many ticks, measures played
// or events for any real song), or when its working memory cannot be had or
// an event cannot be appended (the file would be incomplete).
int ToMidi(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth);
// ToMidi within a host's budget (null: none), saying why it returned 0.
int ToMidiWithin(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth, RenderBudget *budget);

// The song's records that a rendering reads are all there.
bool IsSongComplete(const FileStruct *file);
// Sizes every track chunk's buffer once for the beats its track plays
// (measuresPlayed measures in all), so that it seldom grows while the song is
// rendered; false when a buffer cannot be had.
bool ReserveTrackChunks(const FileStruct *file, MidiFileStruct *midi, std::uint64_t measuresPlayed);

// --- Timing -----------------------------------------------------------------

// A duration code outside -2 (whole) to 4 (sixty-fourth) is timed as the nearest code in it.
std::int8_t ClampedDurationCode(std::int8_t duration);
// The plain length of a beat in sixty-fourth notes, 2^(4 - duration): no dot, tuplet or swing.
std::uint32_t PlainSixtyFourths(const Beat &beat);
// A time-signature denominator of 0 stands for 4.
std::uint8_t UsableDenominator(std::uint8_t denominator);
// Brings the running time signature up to date with the values the measure
// carries; true when either value changed.
bool UpdateTimeSignature(const Measure *measure, std::uint8_t *numerator, std::uint8_t *denominator);
// The measure's length in pulses; values the measure does not carry come
// from the running time signature.
std::uint32_t GetMeasurePulseCount(const Measure *measure, std::uint8_t pulsesPerSixtyFourth,
                                   std::uint8_t numerator, std::uint8_t denominator);
// The notes of its value whose time n notes of a tuplet take: the greatest
// power of two below n (3 in 2, 5 to 7 in 4, 9 to 13 in 8); 0 for a count
// that makes no tuplet.
std::uint32_t TupletNormalNotes(std::int32_t tuplet);
// The beat's length from its note value, dot and tuplet, without triplet feel.
std::uint32_t GetUnswungBeatPulseCount(const Beat &beat, std::uint8_t pulsesPerSixtyFourth);
// The beat's length in pulses, triplet feel included, for a beat that starts
// position sixty-fourths (the plain values of the beats before it) into its measure.
std::uint32_t GetBeatPulseCountAt(const Beat &beat, std::uint8_t tripletFeel, std::uint32_t position,
                                  std::uint8_t pulsesPerSixtyFourth);
// The number of trailing zero bits of a time-signature denominator.
std::uint8_t GetDenominatorPower(std::uint8_t denominator);

// --- Playing order with repeats expanded (alternative endings not consulted) ---

std::uint32_t GetFirstMeasureIdx(const FileStruct *file);
// Sets every measure's pass counter (repeatsPlayed) back to 0.
void ResetPassCounters(FileStruct *file);
// The measure after the one just played, counting passes in the measures'
// repeatsPlayed; stepping past the last measure resets every pass counter.
std::uint32_t GetNextMeasureIdx(FileStruct *file, std::uint32_t measureIndex);

// Semitones a harmonic sounds above the note, by its kind: natural ones by
// the node at their fret (above the open string), artificial ones by the
// node they touch above the fretted note.
struct HarmonicPitch {
    bool fromOpenString;
    std::uint32_t semitones;
};
HarmonicPitch GetHarmonicPitch(std::uint8_t kind, std::uint8_t fret);

// --- Values sent --------------------------------------------------------------

// Set-tempo microseconds per quarter note of a tempo in beats per minute, within 1 to 0xFFFFFF.
std::uint32_t GetTempoValue(std::uint32_t tempo);
// Controller 7 from a channel-table or mix-table volume: eight steps per unit, limited to 127.
std::uint8_t GetVolumeValue(std::uint8_t volume);
// Note-on velocity: dynamic × 16 − 1 limited to 1..127, 95 without a dynamic.
std::uint8_t GetNoteVelocity(const Note &note);

// The 0-based channels a track sends on. A track whose channel is not 1-16
// sends no channel events; an effects channel outside 1-16 is the main one.
struct TrackChannels {
    bool sends;
    std::uint8_t main;
    std::uint8_t effects;
    bool hasEffects;  // the effects channel differs from the main one
};

bool IsMidiChannel(std::uint32_t channel);
TrackChannels GetTrackChannels(const Track &track);
// The track's channel-table entry, or null when its port or channel is out of the table.
const MidiChannelInfo *GetTrackChannelEntry(const FileStruct *file, const Track &track);
// The strings of the track that can hold notes: its string count, at most 7.
std::uint32_t GetSoundingStringCount(const Track &track);
// fret + the string's tuning, both as 8-bit values, modulo 256 (string is 0-based).
std::uint8_t GetNoteKey(const Track &track, const Note &note, std::uint32_t string);
// A beat whose status says empty (0) or rest (2) sounds nothing.
bool IsBeatSilent(const Beat &beat);
const char *TextOrEmpty(const char *text);

}  // namespace Talvoren

#endif  // TALVOREN_GP_CONVERT_H
