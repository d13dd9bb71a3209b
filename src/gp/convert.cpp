// convert.cpp - the song-to-MIDI conversion: measure and beat timing in pulses,
// the playing order of the measures with repeats expanded, the values sent,
// and ToMidi, which plays each track of a measure straight through its beats.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "gp/convert.h"
#include "gp/song.h"
#include "heap.h"
#include "mid/midi.h"

namespace Talvoren {

// ---------------------------------------------------------------------------
// Song values as the conversion reads them.

constexpr std::int8_t longestDurationCode = -2;   // a whole note
constexpr std::int8_t shortestDurationCode = 4;   // a sixty-fourth note
constexpr std::uint8_t fallbackDenominator = 4;   // stands in for a denominator of 0

// A duration code outside the format's range is timed as the nearest code in it.
std::int8_t ClampedDurationCode(std::int8_t duration) {
    if (duration < longestDurationCode) return longestDurationCode;
    if (duration > shortestDurationCode) return shortestDurationCode;
    return duration;
}

// The plain length of a beat in sixty-fourth notes: 2^(4 - duration).
std::uint32_t PlainSixtyFourths(const Beat &beat) {
    return 1u << (shortestDurationCode - ClampedDurationCode(beat.duration));
}

std::uint8_t UsableDenominator(std::uint8_t denominator) {
    return denominator == 0 ? fallbackDenominator : denominator;
}

// ---------------------------------------------------------------------------
// Measure and beat timing.

// Brings the running time signature up to date with the values the measure
// carries; true when either value changed.
bool UpdateTimeSignature(const Measure *measure, std::uint8_t *numerator, std::uint8_t *denominator) {
    bool switched = false;
    if ((measure->flags & MeasureHasNumerator) && measure->keyNumerator != *numerator) {
        *numerator = measure->keyNumerator;
        switched = true;
    }
    if ((measure->flags & MeasureHasDenominator) && measure->keyDenominator != *denominator) {
        *denominator = measure->keyDenominator;
        switched = true;
    }
    return switched;
}

// The measure's length: its sixty-fourths first, truncated, then in pulses.
// Values the measure does not carry come from the running time signature.
std::uint32_t GetMeasurePulseCount(const Measure *measure, std::uint8_t pulsesPerSixtyFourth,
                                   std::uint8_t numerator, std::uint8_t denominator) {
    const std::uint32_t measureNumerator =
        (measure->flags & MeasureHasNumerator) ? measure->keyNumerator : numerator;
    const std::uint32_t measureDenominator =
        UsableDenominator((measure->flags & MeasureHasDenominator) ? measure->keyDenominator : denominator);
    return pulsesPerSixtyFourth * ((measureNumerator * 64) / measureDenominator);
}

// Where beat beatIndex starts, in sixty-fourths: the plain values of the beats
// before it, without their dots, tuplets or triplet feel.
std::uint32_t GetBeatPosition(const MeasureTrackPair *pair, std::uint32_t beatIndex) {
    std::uint32_t position = 0;
    for (std::uint32_t index = 0; index < beatIndex; ++index) position += PlainSixtyFourths(pair->beats[index]);
    return position;
}

// A position is a multiple of the note value; only 0 is a multiple of 0.
bool IsPositionAligned(std::uint32_t position, NoteValue noteValue) {
    const std::uint32_t sixtyFourths = static_cast<std::uint8_t>(noteValue);
    if (sixtyFourths == 0) return position == 0;
    return position % sixtyFourths == 0;
}

bool IsBeatAligned(const MeasureTrackPair *pair, std::uint32_t beatIndex, NoteValue noteValue) {
    return IsPositionAligned(GetBeatPosition(pair, beatIndex), noteValue);
}

// Triplet feel plays a plain eighth 3 : 1 with the eighth after it.
bool IsSwungBeat(const Beat &beat, std::uint8_t tripletFeel) {
    return tripletFeel == 1 && beat.duration == 1 && (beat.flags & (BeatDotted | BeatHasTuplet)) == 0;
}

HarmonicPitch GetHarmonicPitch(std::uint8_t kind, std::uint8_t fret) {
    switch (kind) {
        case 1:  // natural: the node at the fret
            switch (fret) {
                case 12: return {true, 12};
                case 7: case 19: return {true, 19};
                case 5: case 24: return {true, 24};
                case 4: case 9: case 16: return {true, 28};
                case 3: case 15: return {true, 31};
                default: return {false, 12};
            }
        case 4: return {false, 19};   // pinch
        case 15: return {false, 24};  // artificial, touched five frets above
        case 17: return {false, 19};  // artificial, seven frets above
        default: return {false, 12};  // tapped, semi, artificial twelve frets above
    }
}

std::uint32_t TupletNormalNotes(std::int32_t tuplet) {
    switch (tuplet) {
        case 3: return 2;
        case 5: case 6: case 7: return 4;
        case 9: case 10: case 11: case 12: case 13: return 8;
        default: return 0;
    }
}

// n notes of a tuplet take the time of the greatest power of two below n.
std::uint32_t TupletPulses(std::uint32_t pulses, std::int32_t tuplet) {
    const std::uint32_t normal = TupletNormalNotes(tuplet);
    return normal == 0 ? pulses : pulses * normal / static_cast<std::uint32_t>(tuplet);
}

// The beat's length from its note value, dot and tuplet; the dot comes first.
std::uint32_t GetUnswungBeatPulseCount(const Beat &beat, std::uint8_t pulsesPerSixtyFourth) {
    std::uint32_t pulses = static_cast<std::uint32_t>(pulsesPerSixtyFourth)
                           << (shortestDurationCode - ClampedDurationCode(beat.duration));
    if (beat.flags & BeatDotted) pulses += pulses / 2;
    if (beat.flags & BeatHasTuplet) pulses = TupletPulses(pulses, beat.tuplet);
    return pulses;
}

// A swung eighth on a quarter is lengthened by half, one between two quarters
// halved; one on no eighth keeps its length.
std::uint32_t GetSwungPulseCount(std::uint32_t pulses, bool onEighth, bool onQuarter) {
    if (!onEighth) return pulses;
    return onQuarter ? pulses + pulses / 2 : pulses / 2;
}

// A beat's length from its place in the song, its position counted from the
// measure's first beat. The conversion has the beat and its position at hand
// and uses GetBeatPulseCountAt; the tests time beats with this one.
[[maybe_unused]] std::uint32_t GetBeatPulseCount(const FileStruct *file, std::uint32_t measureIndex,
                                                 std::uint32_t trackIndex, std::uint32_t beatIndex,
                                                 std::uint8_t pulsesPerSixtyFourth) {
    const MeasureTrackPair *pair = &file->body.measureTrackPairs[measureIndex][trackIndex];
    const Beat &beat = pair->beats[beatIndex];
    const std::uint32_t pulses = GetUnswungBeatPulseCount(beat, pulsesPerSixtyFourth);
    if (!IsSwungBeat(beat, file->headers.tabInfo.tripletFeel)) return pulses;
    return GetSwungPulseCount(pulses, IsBeatAligned(pair, beatIndex, Eighth), IsBeatAligned(pair, beatIndex, Quarter));
}

// GetBeatPulseCount for a beat whose position in its measure, in
// sixty-fourths, the caller already knows.
std::uint32_t GetBeatPulseCountAt(const Beat &beat, std::uint8_t tripletFeel, std::uint32_t position,
                                  std::uint8_t pulsesPerSixtyFourth) {
    const std::uint32_t pulses = GetUnswungBeatPulseCount(beat, pulsesPerSixtyFourth);
    if (!IsSwungBeat(beat, tripletFeel)) return pulses;
    return GetSwungPulseCount(pulses, IsPositionAligned(position, Eighth), IsPositionAligned(position, Quarter));
}

// ---------------------------------------------------------------------------
// Playback order.

std::uint32_t GetFirstMeasureIdx(const FileStruct *) { return 0; }

void ResetPassCounters(FileStruct *file) {
    for (std::uint32_t index = 0; index < file->headers.pieceInfo.measureCount; ++index)
        file->body.measures[index].repeatsPlayed = 0;
}

// The measure after the one just played: back to the nearest begin of repeat
// (or to the first measure) while the end of repeat has passes left, else
// the next one. Stepping past the last measure resets every pass counter.
std::uint32_t GetNextMeasureIdx(FileStruct *file, std::uint32_t measureIndex) {
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    Measure *measures = file->body.measures;
    Measure &measure = measures[measureIndex];
    std::uint32_t next = measureIndex + 1;
    if ((measure.flags & MeasureEndRepeat) && measure.repeatsPlayed < measure.repeatCount) {
        ++measure.repeatsPlayed;
        next = 0;
        for (std::uint32_t index = measureIndex + 1; index-- > 0;) {
            if (measures[index].flags & MeasureBeginRepeat) {
                next = index;
                break;
            }
        }
    }
    if (next == measureCount) ResetPassCounters(file);
    return next;
}

// ---------------------------------------------------------------------------
// Values sent.

constexpr std::uint32_t largestTempoValue = 0xFFFFFF;  // set-tempo carries 24 bits
constexpr std::uint32_t microsecondsPerMinute = 60000000;

// The set-tempo value of a tempo in beats per minute: microseconds per
// quarter note, 60000000 / tempo truncated. This integer quotient equals
// 60.0 / tempo * 1000000.0 truncated for every 32-bit tempo, and unlike the
// double formula it comes out the same on every FPU. The value is kept within
// 1 to 0xFFFFFF: a tempo of 0, and tempos too slow for 24 bits, give the
// slowest tempo a file can hold; tempos too fast for one microsecond give the
// fastest.
std::uint32_t GetTempoValue(std::uint32_t tempo) {
    if (tempo == 0) return largestTempoValue;
    const std::uint32_t microseconds = microsecondsPerMinute / tempo;
    if (microseconds > largestTempoValue) return largestTempoValue;
    if (microseconds == 0) return 1;
    return microseconds;
}

// Controller 7 from a volume: eight steps per unit, limited to 127.
std::uint8_t GetVolumeValue(std::uint8_t volume) {
    const std::uint32_t value = std::uint32_t{volume} * 8;
    return static_cast<std::uint8_t>(value > largestDataByte ? largestDataByte : value);
}

// Note-on velocity: dynamic × 16 − 1 limited to 1..127, 95 without a dynamic.
std::uint8_t GetNoteVelocity(const Note &note) {
    if ((note.flags & NoteHasDynamic) == 0) return 95;
    const std::int32_t velocity = std::int32_t{note.dynamic} * 16 - 1;
    return static_cast<std::uint8_t>(velocity < 1 ? 1 : velocity > largestDataByte ? largestDataByte : velocity);
}

// The number of trailing zero bits of a time-signature denominator.
std::uint8_t GetDenominatorPower(std::uint8_t denominator) {
    std::uint8_t power = 0;
    while (power < 7 && (denominator & (1u << power)) == 0) ++power;
    return power;
}

bool IsMidiChannel(std::uint32_t channel) { return channel >= 1 && channel <= midiChannelCount; }

TrackChannels GetTrackChannels(const Track &track) {
    TrackChannels channels = {false, 0, 0, false};
    if (!IsMidiChannel(track.midiChannel)) return channels;
    channels.sends = true;
    channels.main = static_cast<std::uint8_t>(track.midiChannel - 1);
    channels.effects = channels.main;
    if (IsMidiChannel(track.effectsMidiChannel) && track.effectsMidiChannel != track.midiChannel) {
        channels.effects = static_cast<std::uint8_t>(track.effectsMidiChannel - 1);
        channels.hasEffects = true;
    }
    return channels;
}

// The track's channel-table entry, or null when its port or channel is out of the table.
const MidiChannelInfo *GetTrackChannelEntry(const FileStruct *file, const Track &track) {
    if (track.midiPort < 1 || track.midiPort > midiPortCount || !IsMidiChannel(track.midiChannel)) return nullptr;
    return &file->headers.pieceInfo.midiChannels[track.midiPort - 1][track.midiChannel - 1];
}

std::uint32_t GetSoundingStringCount(const Track &track) {
    return track.stringCount < noteSlotCount ? track.stringCount : noteSlotCount;
}

// fret + the string's tuning, both as 8-bit values, modulo 256.
std::uint8_t GetNoteKey(const Track &track, const Note &note, std::uint32_t string) {
    return static_cast<std::uint8_t>(note.fret + static_cast<std::uint8_t>(track.tunings[string]));
}

bool IsBeatSilent(const Beat &beat) {
    return (beat.flags & BeatHasStatus) && (beat.status == 0 || beat.status == 2);
}

const char *TextOrEmpty(const char *text) { return text == nullptr ? "" : text; }

namespace {

// ---------------------------------------------------------------------------
// Render limits: no real song comes near them. A song that would pass one is
// refused whole, before anything is emitted, so the export neither runs for
// hours nor allocates without end, and every delta time fits its quantity.

// An upper bound of the event bytes: what the buffer and the chunks can grow to.
constexpr std::uint64_t largestEventBytes = std::uint64_t{1} << 28;

// Upper bounds of the bytes of one event, its delta time (at most 4 bytes) included.
constexpr std::uint64_t largestNoteEventBytes = 4 + 3;
constexpr std::uint64_t largestProgramEventBytes = 4 + 2;
constexpr std::uint64_t largestControllerEventBytes = 4 + 3;
constexpr std::uint64_t largestTempoEventBytes = 4 + 6;
constexpr std::uint64_t timeSignatureEventBytes = 4 + 7;
constexpr std::uint64_t endOfTrackEventBytes = 4;
// Releasing a beat sends at most one note-off per string.
constexpr std::uint64_t largestReleaseBytes = noteSlotCount * largestNoteEventBytes;
// Program and volume on both channels of a track.
constexpr std::uint64_t largestSettingsBytes = 2 * largestProgramEventBytes + 2 * largestControllerEventBytes;
// Starting a beat: its mix-table change, its note-ons, and its later release.
constexpr std::uint64_t largestBeatBytes =
    largestTempoEventBytes + largestSettingsBytes + noteSlotCount * largestNoteEventBytes + largestReleaseBytes;

std::uint64_t GetTextEventBytes(const char *text) { return 4 + 2 + 4 + std::strlen(TextOrEmpty(text)); }

// Walks the playing order as the conversion will, adding up what the
// rendering costs, and stops as soon as a limit is passed, saying which in
// *refusal when it is not null. Leaves every pass counter at 0 either way.
bool IsRenderWithinLimits(FileStruct *file, std::uint8_t pulsesPerSixtyFourth,
                          std::uint64_t *measuresPlayed = nullptr, RenderRefusal *refusal = nullptr) {
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    const std::uint64_t chunkCount = std::uint64_t{trackCount} + 1;
    const Track *tracks = file->body.tracks;

    std::uint64_t ticks = 0;
    std::uint64_t measureVisits = 0;
    std::uint64_t eventBytes = largestTempoEventBytes + GetTextEventBytes(file->headers.tabInfo.title) +
                               chunkCount * endOfTrackEventBytes;
    for (std::uint32_t track = 0; track < trackCount; ++track)
        eventBytes += GetTextEventBytes(tracks[track].name) + largestSettingsBytes;
    if (eventBytes > largestEventBytes) {
        if (refusal != nullptr) *refusal = RenderRefusal::Events;
        return false;
    }

    std::uint8_t numerator = 0;
    std::uint8_t denominator = 0;
    for (std::uint32_t measureIndex = GetFirstMeasureIdx(file); measureIndex < measureCount;
         measureIndex = GetNextMeasureIdx(file, measureIndex)) {
        const Measure *measure = &file->body.measures[measureIndex];
        measureVisits += chunkCount;
        if (UpdateTimeSignature(measure, &numerator, &denominator)) eventBytes += timeSignatureEventBytes;
        const std::uint32_t pulseCount = GetMeasurePulseCount(measure, pulsesPerSixtyFourth, numerator, denominator);
        ticks += pulseCount;
        if ((measure->flags & MeasureHasMarker) && measure->marker != nullptr)
            eventBytes += GetTextEventBytes(measure->marker->text);
        if (pulseCount != 0 && trackCount != 0) {
            // Every beat started lasts a pulse at least, or idles its track to the end.
            const MeasureTrackPair *row = file->body.measureTrackPairs[measureIndex];
            for (std::uint32_t track = 0; track < trackCount; ++track) {
                const std::uint32_t beatCount = row[track].beatCount;
                eventBytes += std::uint64_t{beatCount < pulseCount ? beatCount : pulseCount} * largestBeatBytes +
                              largestReleaseBytes;
            }
        }
        if (ticks > largestSongTicks || measureVisits > largestMeasureVisits ||
            eventBytes > largestEventBytes) {
            if (refusal != nullptr)
                *refusal = ticks > largestSongTicks               ? RenderRefusal::Ticks
                           : measureVisits > largestMeasureVisits ? RenderRefusal::MeasureVisits
                                                                  : RenderRefusal::Events;
            ResetPassCounters(file);
            return false;
        }
    }
    if (measuresPlayed != nullptr) *measuresPlayed = measureVisits / chunkCount;
    return true;
}

}  // namespace

// About the bytes a played beat takes in its track's chunk: the note-ons and
// the note-offs of two or three notes.
constexpr std::uint64_t expectedBeatBytes = 16;
// Room for a track's opening events: its name, program and volume.
constexpr std::uint64_t trackOpeningBytes = 64;

// Sizes every track chunk's buffer once for the beats its track plays (its
// beats in all measures, times the measures played per measure stored), so
// that the buffers seldom grow, and copy their events, while the song is
// converted. false when a buffer cannot be had.
bool ReserveTrackChunks(const FileStruct *file, MidiFileStruct *midi, std::uint64_t measuresPlayed) {
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    if (measureCount == 0) return true;
    for (std::uint32_t track = 0; track < trackCount; ++track) {
        std::uint64_t beats = 0;
        for (std::uint32_t measure = 0; measure < measureCount; ++measure)
            beats += file->body.measureTrackPairs[measure][track].beatCount;
        std::uint64_t bytes = beats * measuresPlayed / measureCount * expectedBeatBytes + trackOpeningBytes;
        if (bytes > largestEventBytes) bytes = largestEventBytes;
        if (!ReserveEvents(&midi->tracks[track + 1], static_cast<std::uint32_t>(bytes))) return false;
    }
    return true;
}

namespace {

// ---------------------------------------------------------------------------
// The conversion.

// A tempo change met in a measure: the pulse of the beat that carries it and
// the beat's track. The conductor receives a measure's tempo changes in time
// order, those of one instant in track order.
struct TempoChange {
    std::uint32_t pulse;
    std::uint32_t track;
    std::uint32_t value;
};

struct Conversion {
    FileStruct *file;
    MidiTrackChunk *conductor;
    std::uint8_t pulsesPerSixtyFourth;
    // An event could not be appended: the file would lack it, so the
    // conversion stops and is reported as failed.
    bool appendFailed;
    // The tempo changes of the measure being converted, gathered track by
    // track and sent to the conductor by time once all tracks have played it.
    TempoChange *tempoChanges;  // tempoChangeCapacity entries on the heap
    std::uint32_t tempoChangeCount;
    std::uint32_t tempoChangeCapacity;
};

// Tempo changes of one measure held before the list has to grow.
constexpr std::uint32_t firstTempoChangeCapacity = 32;

// Records a builder's result: an event that was not appended fails the conversion.
void RecordAppend(Conversion *conversion, int appended) {
    if (!appended) conversion->appendFailed = true;
}

void SendProgram(Conversion *conversion, MidiTrackChunk *chunk, const TrackChannels &channels,
                 std::uint8_t program) {
    if (!channels.sends || program > largestDataByte) return;
    RecordAppend(conversion, AddEventProgramChange(chunk, channels.main, program));
    if (channels.hasEffects) RecordAppend(conversion, AddEventProgramChange(chunk, channels.effects, program));
}

void SendVolume(Conversion *conversion, MidiTrackChunk *chunk, const TrackChannels &channels,
                std::uint8_t volume) {
    if (!channels.sends) return;
    const std::uint8_t value = GetVolumeValue(volume);
    RecordAppend(conversion, AddEventController(chunk, channels.main, Volume, value));
    if (channels.hasEffects) RecordAppend(conversion, AddEventController(chunk, channels.effects, Volume, value));
}

// What a mix-table change sends on the track's own chunk: program and volume.
void ApplyMixTableSettings(Conversion *conversion, MidiTrackChunk *chunk, const TrackChannels &channels,
                           const MixTableEvent &mix) {
    if (mix.instrument != 0xFF) SendProgram(conversion, chunk, channels, mix.instrument);
    if (mix.volume != 0xFF) SendVolume(conversion, chunk, channels, mix.volume);
}

// Keeps a tempo change for the conductor; a change that cannot be kept for
// want of memory fails the conversion like an event that cannot be appended.
void KeepTempoChange(Conversion *conversion, std::uint32_t pulse, std::uint32_t track, std::uint32_t value) {
    if (conversion->tempoChangeCount == conversion->tempoChangeCapacity) {
        void *changes = conversion->tempoChanges;
        if (!MemGrowArray(&changes, &conversion->tempoChangeCapacity, sizeof(TempoChange), firstTempoChangeCapacity)) {
            conversion->appendFailed = true;
            return;
        }
        conversion->tempoChanges = static_cast<TempoChange *>(changes);
    }
    conversion->tempoChanges[conversion->tempoChangeCount++] = {pulse, track, value};
}

bool IsEarlierTempoChange(const TempoChange &first, const TempoChange &second) {
    if (first.pulse != second.pulse) return first.pulse < second.pulse;
    return first.track < second.track;
}

// Sends the measure's tempo changes on the conductor, by time and, within an
// instant, by track, then brings its counter to the measure's end. Each
// track's changes were kept in time order, so the list needs sorting only
// when two tracks changed the tempo.
void SendTempoChanges(Conversion *conversion, std::uint32_t pulseCount) {
    TempoChange *changes = conversion->tempoChanges;
    const std::uint32_t count = conversion->tempoChangeCount;
    if (!std::is_sorted(changes, changes + count, IsEarlierTempoChange))
        std::sort(changes, changes + count, IsEarlierTempoChange);
    MidiTrackChunk *conductor = conversion->conductor;
    std::uint32_t counted = 0;  // pulses of the measure already in the counter
    for (std::uint32_t index = 0; index < count && !conversion->appendFailed; ++index) {
        conductor->pendingDelta += changes[index].pulse - counted;
        counted = changes[index].pulse;
        RecordAppend(conversion, AddMetaEventSetTempo(conductor, changes[index].value));
    }
    conductor->pendingDelta += pulseCount - counted;
    conversion->tempoChangeCount = 0;
}

// The string bits of the beat that the track has: bit (6 - s) of its string
// flags for each string s below the track's string count.
std::uint32_t GetTrackStrings(const Track &track) {
    return (allStringBits << (noteSlotCount - GetSoundingStringCount(track))) & allStringBits;
}

// The keys a sounding beat releases: every note present on the track's
// strings, whatever its type, in string order, leaving out keys above 127.
struct HeldKeys {
    std::uint8_t keys[noteSlotCount];
    std::uint32_t count;
};

const std::uint8_t releaseVelocities[noteSlotCount] = {80, 80, 80, 80, 80, 80, 80};

// Note-ons of the beat's normal notes, all at once, first string first, and
// the keys the beat will release into held. A key above 127 is neither
// sounded nor released. A beat that sends nothing holds no keys.
//
// Only the slots whose string bit is set are visited: the highest bit left is
// the first string left. Each note is written to the next free place and kept
// or not by advancing the count, so the walk takes no branch per note.
void SoundBeat(Conversion *conversion, MidiTrackChunk *chunk, const Track &track, const TrackChannels &channels,
               std::uint32_t trackStrings, const Beat &beat, HeldKeys *held) {
    held->count = 0;
    if (!channels.sends || IsBeatSilent(beat)) return;
    std::uint8_t keys[noteSlotCount];
    std::uint8_t velocities[noteSlotCount];
    std::uint32_t noteCount = 0;
    std::uint32_t heldCount = 0;
    std::uint32_t strings = beat.stringFlags & trackStrings;
    while (strings != 0) {
        const std::uint32_t string = TakeFirstString(&strings);
        const Note &note = beat.notes[string];
        const std::uint8_t key = GetNoteKey(track, note, string);
        const bool sendable = key <= largestDataByte;
        const bool normal = (note.flags & NoteHasTypeAndFret) != 0 && note.noteType == 1;
        held->keys[heldCount] = key;
        heldCount += sendable ? 1 : 0;
        keys[noteCount] = key;
        velocities[noteCount] = GetNoteVelocity(note);
        noteCount += (sendable && normal) ? 1 : 0;
    }
    held->count = heldCount;
    RecordAppend(conversion, AddEventNotes(chunk, 0x90, channels.main, keys, velocities, noteCount));
}

// Note-offs of the keys the sounding beat holds, all at once.
void ReleaseBeat(Conversion *conversion, MidiTrackChunk *chunk, const TrackChannels &channels,
                 const HeldKeys &held) {
    RecordAppend(conversion, AddEventNotes(chunk, 0x80, channels.main, held.keys, releaseVelocities, held.count));
}

// Tempo and title on the conductor; name, table program and volume per track.
void EmitSongStart(Conversion *conversion, MidiFileStruct *midi) {
    const FileStruct *file = conversion->file;
    RecordAppend(conversion, AddMetaEventSetTempo(conversion->conductor, GetTempoValue(file->headers.pieceInfo.tempo)));
    RecordAppend(conversion, AddMetaEventTrackName(conversion->conductor, TextOrEmpty(file->headers.tabInfo.title)));
    for (std::uint32_t trackIndex = 0; trackIndex < file->headers.pieceInfo.trackCount; ++trackIndex) {
        const Track &track = file->body.tracks[trackIndex];
        MidiTrackChunk *chunk = &midi->tracks[trackIndex + 1];
        RecordAppend(conversion, AddMetaEventTrackName(chunk, TextOrEmpty(track.name)));
        const MidiChannelInfo *entry = GetTrackChannelEntry(file, track);
        if (entry == nullptr) continue;
        const TrackChannels channels = GetTrackChannels(track);
        SendProgram(conversion, chunk, channels, static_cast<std::uint8_t>(entry->instrument));
        SendVolume(conversion, chunk, channels, entry->volume);
    }
}

// One track through one measure of pulseCount pulses, pulseCount > 0. Beat 0
// starts at pulse 0; where a beat ends the sounding beat is released and the
// next one starts. A beat of no pulses idles the track to the measure's end.
// When no beat is left to start, the last beat is released where it ends and
// once more at the measure's end. The beat sounding at the measure's end is
// released there. The chunk's counter
// takes the pulses up to each event and, in the end, up to the measure's end;
// tempo changes are kept for the conductor with their pulse.
//
// The track's working fields are left with the beats started, and the pulses
// from the measure's end to where the last one ends, counted modulo 2^32
// (0 - pulseCount when no beat started).
void PlayTrackMeasure(Conversion *conversion, MidiTrackChunk *chunk, Track *track, std::uint32_t trackIndex,
                      const MeasureTrackPair &pair, std::uint32_t pulseCount) {
    const TrackChannels channels = GetTrackChannels(*track);
    const std::uint32_t trackStrings = GetTrackStrings(*track);
    HeldKeys held = {};
    std::uint32_t started = 0;
    std::uint32_t pulse = 0;     // where the next beat starts
    std::uint32_t counted = 0;   // pulses of the measure already in the chunk's counter
    std::uint32_t end = 0;       // where the last beat started ends
    std::uint32_t position = 0;  // with triplet feel: where the next beat starts, in sixty-fourths
    const bool swung = conversion->file->headers.tabInfo.tripletFeel == 1;
    while (started < pair.beatCount) {
        const Beat &beat = pair.beats[started];
        chunk->pendingDelta += pulse - counted;
        counted = pulse;
        if (started > 0) ReleaseBeat(conversion, chunk, channels, held);
        std::uint32_t length;
        if (swung) {
            length = GetBeatPulseCountAt(beat, 1, position, conversion->pulsesPerSixtyFourth);
            position += PlainSixtyFourths(beat);
        } else {
            length = GetUnswungBeatPulseCount(beat, conversion->pulsesPerSixtyFourth);
        }
        if ((beat.flags & BeatHasMixTable) && beat.mixTableEvent != nullptr) {
            const MixTableEvent &mix = *beat.mixTableEvent;
            if (mix.tempo >= 0)
                KeepTempoChange(conversion, pulse, trackIndex, GetTempoValue(static_cast<std::uint32_t>(mix.tempo)));
            ApplyMixTableSettings(conversion, chunk, channels, mix);
        }
        SoundBeat(conversion, chunk, *track, channels, trackStrings, beat, &held);
        ++started;
        end = pulse + length;
        if (length == 0 || end >= pulseCount) break;
        pulse = end;
        if (started == pair.beatCount) {
            chunk->pendingDelta += pulse - counted;
            counted = pulse;
            ReleaseBeat(conversion, chunk, channels, held);
        }
    }
    chunk->pendingDelta += pulseCount - counted;
    if (started > 0) ReleaseBeat(conversion, chunk, channels, held);
    track->beatIndex = started;
    track->beatPulsesLeft = end - pulseCount;
}

// Converts one measure of pulseCount pulses: every track's events for it,
// and its tempo changes on the conductor, with every chunk's counter brought
// to the measure's end.
using MeasureConverter = void (*)(Conversion *conversion, MidiFileStruct *midi, std::uint32_t measureIndex,
                                  std::uint32_t pulseCount);

// A track's events land on its own chunk alone, so the tracks play the
// measure one after another, each straight through its beats; only tempo
// changes go elsewhere, to the conductor, which receives them by time and,
// within an instant, in track order, once every track has played.
//
// Stops after the first track at which an event cannot be appended.
void ConvertMeasure(Conversion *conversion, MidiFileStruct *midi, std::uint32_t measureIndex,
                    std::uint32_t pulseCount) {
    FileStruct *file = conversion->file;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    Track *tracks = file->body.tracks;
    const MeasureTrackPair *row = trackCount == 0 ? nullptr : file->body.measureTrackPairs[measureIndex];
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount && !conversion->appendFailed; ++trackIndex) {
        if (pulseCount == 0) {
            tracks[trackIndex].beatIndex = 0;
            tracks[trackIndex].beatPulsesLeft = 0;
            continue;
        }
        PlayTrackMeasure(conversion, &midi->tracks[trackIndex + 1], &tracks[trackIndex], trackIndex,
                         row[trackIndex], pulseCount);
    }
    SendTempoChanges(conversion, pulseCount);
}

}  // namespace

// The song's records that the conversion reads are all there.
bool IsSongComplete(const FileStruct *file) {
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    if (measureCount != 0 && file->body.measures == nullptr) return false;
    if (trackCount == 0) return true;
    if (file->body.tracks == nullptr) return false;
    if (measureCount == 0) return true;
    if (file->body.measureTrackPairs == nullptr) return false;
    for (std::uint32_t measure = 0; measure < measureCount; ++measure)
        if (file->body.measureTrackPairs[measure] == nullptr) return false;
    return true;
}

namespace {

// The whole conversion, each measure converted by convertMeasure, within
// the host's budget when one is given; the budget's refusal says why it
// returned 0.
int ConvertSong(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth,
                MeasureConverter convertMeasure, RenderBudget *budget = nullptr) {
    RenderBudget noBudget = {0, RenderRefusal::None};
    if (budget == nullptr) budget = &noBudget;
    budget->refusal = RenderRefusal::None;
    if (file == nullptr || midi == nullptr || midi->tracks == nullptr || !IsSongComplete(file)) return 0;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    if (trackCount >= 0xFFFF || WordValue(midi->header.trackCount) != trackCount + 1) return 0;
    const std::uint8_t pulses = static_cast<std::uint8_t>(pulsesPerSixtyFourth);
    std::uint64_t measuresPlayed = 0;
    if (!IsRenderWithinLimits(file, pulses, &measuresPlayed, &budget->refusal)) return 0;
    budget->refusal = RenderRefusal::Memory;
    if (!ReserveTrackChunks(file, midi, measuresPlayed)) return 0;

    Conversion conversion = {file, &midi->tracks[0], pulses, false, nullptr, 0, firstTempoChangeCapacity};
    conversion.tempoChanges = static_cast<TempoChange *>(MemAlloc(firstTempoChangeCapacity * sizeof(TempoChange)));
    if (conversion.tempoChanges == nullptr) return 0;
    // Summing the chunks after each measure costs one step per measure visit,
    // which the render limits bound.
    const std::uint64_t largestFileBytes = budget->largestFileBytes;
    bool overBudget = false;

    EmitSongStart(&conversion, midi);
    std::uint8_t numerator = 0;
    std::uint8_t denominator = 0;
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    for (std::uint32_t measureIndex = GetFirstMeasureIdx(file);
         measureIndex < measureCount && !conversion.appendFailed;
         measureIndex = GetNextMeasureIdx(file, measureIndex)) {
        const Measure *measure = &file->body.measures[measureIndex];
        if (UpdateTimeSignature(measure, &numerator, &denominator)) {
            const std::uint8_t usedDenominator = UsableDenominator(denominator);
            RecordAppend(&conversion, AddMetaEventTimeSignature(conversion.conductor, numerator,
                                                            GetDenominatorPower(usedDenominator),
                                                            static_cast<std::uint8_t>(96 / usedDenominator), 8));
        }
        const std::uint32_t pulseCount = GetMeasurePulseCount(measure, pulses, numerator, denominator);
        if ((measure->flags & MeasureHasMarker) && measure->marker != nullptr)
            RecordAppend(&conversion, AddMetaEventMarker(conversion.conductor, TextOrEmpty(measure->marker->text)));
        convertMeasure(&conversion, midi, measureIndex, pulseCount);
        if (largestFileBytes != 0 && GetMidiFileBytes(midi) > largestFileBytes) {
            overBudget = true;
            break;
        }
    }
    for (std::uint32_t chunk = 0; chunk <= trackCount && !conversion.appendFailed && !overBudget; ++chunk)
        RecordAppend(&conversion, AddMetaEventEndOfTrack(&midi->tracks[chunk]));
    if (largestFileBytes != 0 && GetMidiFileBytes(midi) > largestFileBytes) overBudget = true;
    MemFree(conversion.tempoChanges);
    if (conversion.appendFailed || overBudget) {
        budget->refusal = conversion.appendFailed ? RenderRefusal::Memory : RenderRefusal::Size;
        ResetPassCounters(file);
        return 0;
    }
    budget->refusal = RenderRefusal::None;
    return 1;
}

}  // namespace

// Returns 0, with nothing emitted, when the model does not hold one chunk
// more than the song has tracks, or when the rendering would pass the render
// limits; returns 0 as well when an event cannot be appended, since the file
// would then lack it (the chunks keep what was appended, and the pass
// counters are reset).
int ToMidi(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth) {
    return ConvertSong(file, midi, pulsesPerSixtyFourth, ConvertMeasure);
}

int ToMidiWithin(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth, RenderBudget *budget) {
    return ConvertSong(file, midi, pulsesPerSixtyFourth, ConvertMeasure, budget);
}

}  // namespace Talvoren
