// convert.cpp - the song-to-MIDI conversion: measure and beat timing in pulses,
// the playing order of the measures with repeats expanded, and ToMidi's clock.
#include <cstdint>
#include <cstring>

#include "gp/song.h"
#include "heap.h"
#include "mid/midi.h"

namespace Talvoren {

namespace {

// ---------------------------------------------------------------------------
// Song values as the conversion reads them.

constexpr std::int8_t longestDurationCode = -2;   // a whole note
constexpr std::int8_t shortestDurationCode = 4;   // a sixty-fourth note
constexpr std::uint8_t fallbackDenominator = 4;   // stands in for a denominator of 0
constexpr std::uint32_t noteSlotCount = 7;        // note slots of a beat, tunings of a track
constexpr std::uint32_t midiChannelCount = 16;
constexpr std::uint32_t midiPortCount = 4;
constexpr std::uint8_t largestDataByte = 127;

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
bool IsTimeSignatureSwitched(const Measure *measure, std::uint8_t *numerator, std::uint8_t *denominator) {
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

// n notes of a tuplet take the time of the greatest power of two below n.
std::uint32_t TupletPulses(std::uint32_t pulses, std::int32_t tuplet) {
    switch (tuplet) {
        case 3: return pulses * 2 / 3;
        case 5: case 6: case 7: return pulses * 4 / static_cast<std::uint32_t>(tuplet);
        case 9: case 10: case 11: case 12: case 13: return pulses * 8 / static_cast<std::uint32_t>(tuplet);
        default: return pulses;
    }
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

// A beat's length from its place in the song. The clock has the beat and its
// position at hand and uses GetUnswungBeatPulseCount and GetBeatPulseCountAt,
// which give the same lengths.
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
    if (next == measureCount) {
        for (std::uint32_t index = 0; index < measureCount; ++index) measures[index].repeatsPlayed = 0;
    }
    return next;
}

// Alternative endings are not consulted by the walk; kept for hosts of the model.
[[maybe_unused]] bool IsMeasureToBePlayed(const FileStruct *file, std::uint32_t measureIndex) {
    return (file->body.measures[measureIndex].flags & MeasureAltEnding) == 0;
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

// Note-on velocity: dynamic × 16 − 1, 95 without a dynamic, limited to 1..127.
std::uint8_t GetNoteVelocity(const Note &note) {
    if ((note.flags & NoteHasDynamic) == 0) return 95;
    const std::int32_t velocity = std::int32_t{note.dynamic} * 16 - 1;
    if (velocity < 1) return 1;
    if (velocity > largestDataByte) return largestDataByte;
    return static_cast<std::uint8_t>(velocity);
}

// The number of trailing zero bits of a time-signature denominator.
std::uint8_t GetDenominatorPower(std::uint8_t denominator) {
    std::uint8_t power = 0;
    while (power < 7 && (denominator & (1u << power)) == 0) ++power;
    return power;
}

bool IsMidiChannel(std::uint32_t channel) { return channel >= 1 && channel <= midiChannelCount; }

// The 0-based channels a track sends on. A track whose channel is not 1-16
// sends no channel events; an effects channel outside 1-16 is the main one.
struct TrackChannels {
    bool sends;
    std::uint8_t main;
    std::uint8_t effects;
    bool hasEffects;  // the effects channel differs from the main one
};

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

// ---------------------------------------------------------------------------
// Render limits: no real song comes near them. A song that would pass one is
// refused whole, before anything is emitted, so the export neither runs for
// hours nor allocates without end, and every delta time fits its quantity.

// Ticks from the start to the end: no delta time can pass this.
constexpr std::uint64_t largestSongTicks = 0x0FFFFFFF;
// Measures played × (tracks + 1): the work done per measure, whatever its length.
constexpr std::uint64_t largestMeasureVisits = std::uint64_t{1} << 24;
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

void ResetPassCounters(FileStruct *file) {
    for (std::uint32_t index = 0; index < file->headers.pieceInfo.measureCount; ++index)
        file->body.measures[index].repeatsPlayed = 0;
}

// Walks the playing order as the conversion will, adding up what the
// rendering costs, and stops as soon as a limit is passed. Leaves every pass
// counter at 0 either way.
bool IsRenderWithinLimits(FileStruct *file, std::uint8_t pulsesPerSixtyFourth) {
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
    if (eventBytes > largestEventBytes) return false;

    std::uint8_t numerator = 0;
    std::uint8_t denominator = 0;
    for (std::uint32_t measureIndex = GetFirstMeasureIdx(file); measureIndex < measureCount;
         measureIndex = GetNextMeasureIdx(file, measureIndex)) {
        const Measure *measure = &file->body.measures[measureIndex];
        measureVisits += chunkCount;
        if (IsTimeSignatureSwitched(measure, &numerator, &denominator)) eventBytes += timeSignatureEventBytes;
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
            ResetPassCounters(file);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// The conversion.

// The keys a beat releases: every note present on the track's strings,
// whatever its type, in string order.
struct HeldKeys {
    std::uint8_t keys[noteSlotCount];
    std::uint8_t count;
};

// Songs of up to this many tracks keep their held keys on the stack.
constexpr std::uint32_t heldTrackLimit = 64;

struct Conversion {
    FileStruct *file;
    MidiTrackChunk *conductor;
    std::uint8_t pulsesPerSixtyFourth;
    // With triplet feel: per track, where its next beat starts in the measure,
    // in sixty-fourths, so that no beat's position is summed up again.
    std::uint32_t *beatPositions;
    // An event could not be appended: the file would lack it, so the
    // conversion stops and is reported as failed.
    bool appendFailed;
    // Per track, the keys its sounding beat releases, gathered when the beat
    // starts; null for a song of more tracks than heldTrackLimit, whose
    // releases walk their beat's notes again.
    HeldKeys *heldKeys;
};

void Appended(Conversion *conversion, int appended) {
    if (!appended) conversion->appendFailed = true;
}

void SendProgram(Conversion *conversion, MidiTrackChunk *chunk, const TrackChannels &channels,
                 std::uint8_t program) {
    if (!channels.sends || program > largestDataByte) return;
    Appended(conversion, AddEventProgramChange(chunk, channels.main, program));
    if (channels.hasEffects) Appended(conversion, AddEventProgramChange(chunk, channels.effects, program));
}

void SendVolume(Conversion *conversion, MidiTrackChunk *chunk, const TrackChannels &channels,
                std::uint8_t volume) {
    if (!channels.sends) return;
    const std::uint8_t value = GetVolumeValue(volume);
    Appended(conversion, AddEventController(chunk, channels.main, Volume, value));
    if (channels.hasEffects) Appended(conversion, AddEventController(chunk, channels.effects, Volume, value));
}

// A mix-table change: tempo for the whole song, program and volume for the track.
void ApplyMixTableEvent(Conversion *conversion, MidiTrackChunk *chunk, const TrackChannels &channels,
                        const MixTableEvent &mix) {
    if (mix.tempo >= 0)
        Appended(conversion, AddMetaEventSetTempo(conversion->conductor,
                                                  GetTempoValue(static_cast<std::uint32_t>(mix.tempo))));
    if (mix.instrument != 0xFF) SendProgram(conversion, chunk, channels, mix.instrument);
    if (mix.volume != 0xFF) SendVolume(conversion, chunk, channels, mix.volume);
}

// The string bits of the beat that the track has: bit (6 - s) of its string
// flags for each string s below the track's string count.
std::uint32_t GetSoundingStrings(const Track &track, const Beat &beat) {
    const std::uint32_t trackStrings = (0x7Fu << (noteSlotCount - GetSoundingStringCount(track))) & 0x7Fu;
    return beat.stringFlags & trackStrings;
}

// The first string whose bit is set, for every non-empty set of string bits:
// bit (6 - s) stands for string s.
struct FirstStringTable {
    std::uint8_t strings[0x80];
};

constexpr FirstStringTable MakeFirstStringTable() {
    FirstStringTable table = {};
    for (std::uint32_t bits = 1; bits < 0x80; ++bits) {
        std::uint32_t string = 0;
        while ((bits & (0x40u >> string)) == 0) ++string;
        table.strings[bits] = static_cast<std::uint8_t>(string);
    }
    return table;
}

constexpr FirstStringTable firstStringTable = MakeFirstStringTable();
constexpr const std::uint8_t *firstStringOf = firstStringTable.strings;

// Walks the notes present on the track's strings, first string first, and
// collects their keys (and, when velocities is given, their note-on
// velocities). Sounding takes only normal notes; a key above 127 is left
// out, so it is neither sounded nor released.
//
// Only the slots whose string bit is set are visited: the highest bit left is
// the first string left. Each note is written to the next free place and kept
// or not by advancing the count, so the walk takes no branch per note.
inline std::uint32_t CollectBeatKeys(const Track &track, const Beat &beat, bool normalNotesOnly, std::uint8_t *keys,
                                     std::uint8_t *velocities) {
    std::uint32_t noteCount = 0;
    std::uint32_t strings = GetSoundingStrings(track, beat);
    while (strings != 0) {
        const std::uint32_t string = firstStringOf[strings];
        strings &= ~(0x40u >> string);
        const Note &note = beat.notes[string];
        const std::uint8_t key = GetNoteKey(track, note, string);
        bool kept = key <= largestDataByte;
        if (normalNotesOnly) kept = kept && (note.flags & NoteHasTypeAndFret) != 0 && note.noteType == 1;
        keys[noteCount] = key;
        if (velocities != nullptr) velocities[noteCount] = GetNoteVelocity(note);
        noteCount += kept ? 1 : 0;
    }
    return noteCount;
}

// CollectBeatKeys for sounding and for releasing in one walk: the normal
// notes' keys and velocities into keys and velocities, and the keys of all
// notes present into held.
std::uint32_t CollectSoundAndReleaseKeys(const Track &track, const Beat &beat, std::uint8_t *keys,
                                         std::uint8_t *velocities, HeldKeys *held) {
    std::uint32_t noteCount = 0;
    std::uint32_t heldCount = 0;
    std::uint32_t strings = GetSoundingStrings(track, beat);
    while (strings != 0) {
        const std::uint32_t string = firstStringOf[strings];
        strings &= ~(0x40u >> string);
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
    held->count = static_cast<std::uint8_t>(heldCount);
    return noteCount;
}

// Note-ons of the beat's normal notes, all at once. With held given, the
// keys the beat will release are kept there (none for a beat that sends nothing).
void SoundBeat(Conversion *conversion, MidiTrackChunk *chunk, const Track &track, const TrackChannels &channels,
               const Beat &beat, HeldKeys *held) {
    if (!channels.sends || IsBeatSilent(beat)) {
        if (held != nullptr) held->count = 0;
        return;
    }
    std::uint8_t keys[noteSlotCount];
    std::uint8_t velocities[noteSlotCount];
    const std::uint32_t noteCount = held != nullptr ? CollectSoundAndReleaseKeys(track, beat, keys, velocities, held)
                                                    : CollectBeatKeys(track, beat, true, keys, velocities);
    Appended(conversion, AddEventNotes(chunk, 0x90, channels.main, keys, velocities, noteCount));
}

const std::uint8_t releaseVelocities[noteSlotCount] = {80, 80, 80, 80, 80, 80, 80};

// Note-offs of every note present, whatever its type, all at once.
void ReleaseBeatOn(Conversion *conversion, MidiTrackChunk *chunk, const Track &track, const TrackChannels &channels,
                   const Beat &beat) {
    if (!channels.sends || IsBeatSilent(beat)) return;
    std::uint8_t keys[noteSlotCount];
    const std::uint32_t noteCount = CollectBeatKeys(track, beat, false, keys, nullptr);
    Appended(conversion, AddEventNotes(chunk, 0x80, channels.main, keys, releaseVelocities, noteCount));
}

// ReleaseBeatOn for the track's sounding beat, from the keys held when it
// started when the conversion keeps them.
void ReleaseSoundingBeat(Conversion *conversion, MidiTrackChunk *chunk, const Track &track,
                         const TrackChannels &channels, std::uint32_t trackIndex, const Beat &beat) {
    if (conversion->heldKeys == nullptr) {
        ReleaseBeatOn(conversion, chunk, track, channels, beat);
        return;
    }
    const HeldKeys &held = conversion->heldKeys[trackIndex];
    Appended(conversion, AddEventNotes(chunk, 0x80, channels.main, held.keys, releaseVelocities, held.count));
}

// Tempo and title on the conductor; name, table program and volume per track.
void EmitSongStart(Conversion *conversion, MidiFileStruct *midi) {
    const FileStruct *file = conversion->file;
    Appended(conversion, AddMetaEventSetTempo(conversion->conductor, GetTempoValue(file->headers.pieceInfo.tempo)));
    Appended(conversion, AddMetaEventTrackName(conversion->conductor, TextOrEmpty(file->headers.tabInfo.title)));
    for (std::uint32_t trackIndex = 0; trackIndex < file->headers.pieceInfo.trackCount; ++trackIndex) {
        const Track &track = file->body.tracks[trackIndex];
        MidiTrackChunk *chunk = &midi->tracks[trackIndex + 1];
        Appended(conversion, AddMetaEventTrackName(chunk, TextOrEmpty(track.name)));
        const MidiChannelInfo *entry = GetTrackChannelEntry(file, track);
        if (entry == nullptr) continue;
        const TrackChannels channels = GetTrackChannels(track);
        SendProgram(conversion, chunk, channels, static_cast<std::uint8_t>(entry->instrument));
        SendVolume(conversion, chunk, channels, entry->volume);
    }
}

// Starts the track's next beat: its length, its mix-table change, its notes.
void StartBeatOn(Conversion *conversion, MidiTrackChunk *chunk, Track *track, const TrackChannels &channels,
                 std::uint32_t trackIndex, const Beat &beat) {
    const std::uint8_t pulsesPerSixtyFourth = conversion->pulsesPerSixtyFourth;
    if (conversion->beatPositions != nullptr) {
        std::uint32_t *position = &conversion->beatPositions[trackIndex];
        track->beatPulsesLeft =
            GetBeatPulseCountAt(beat, conversion->file->headers.tabInfo.tripletFeel, *position, pulsesPerSixtyFourth);
        *position += PlainSixtyFourths(beat);
    } else {
        // Without triplet feel a beat's length depends on the beat alone.
        track->beatPulsesLeft = GetUnswungBeatPulseCount(beat, pulsesPerSixtyFourth);
    }
    if ((beat.flags & BeatHasMixTable) && beat.mixTableEvent != nullptr)
        ApplyMixTableEvent(conversion, chunk, channels, *beat.mixTableEvent);
    SoundBeat(conversion, chunk, *track, channels, beat,
              conversion->heldKeys == nullptr ? nullptr : &conversion->heldKeys[trackIndex]);
    ++track->beatIndex;
}

// Asks for a beat's memory ahead of its use. The beats are large records read
// once per measure played, track after track, so without a hint nearly every
// beat the clock starts waits for main memory.
void PrefetchBeat(const Beat *beat) {
#if defined(__GNUC__)
    const char *bytes = reinterpret_cast<const char *>(beat);
    for (std::size_t offset = 0; offset < sizeof(Beat); offset += 64) __builtin_prefetch(bytes + offset);
#else
    (void)beat;
#endif
}

// The clock that moves the conversion through one measure of pulseCount
// pulses: at each instant every track ends the beat whose time is up and
// starts its next one, and every chunk's counter advances with the time.
using MeasureClock = void (*)(Conversion *conversion, MidiFileStruct *midi, std::uint32_t measureIndex,
                              std::uint32_t pulseCount);

// One measure on the clock. Between two instants at which something happens
// (a track's beat ends or starts, or the measure ends) every track only counts
// its beat down and every chunk's counter only grows, so the clock jumps from
// one such instant straight to the next and adds the pulses it skipped to
// every track's count and every chunk's counter at once. At each instant the
// tracks are visited in order, as at every pulse, so the events of one instant
// come out in track order, on the conductor track too.
//
// A track that started a beat of no pulses, or that has no beat left to start,
// counts down from 0: its count wraps to the largest value, cannot come back
// to 0 within a measure, and the track idles to the measure's end. The
// sounding beats end with the measure, after its last pulse.
//
// Stops after the first instant at which an event cannot be appended.
void ConvertMeasure(Conversion *conversion, MidiFileStruct *midi, std::uint32_t measureIndex,
                    std::uint32_t pulseCount) {
    FileStruct *file = conversion->file;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    Track *tracks = file->body.tracks;
    MidiTrackChunk *chunks = midi->tracks + 1;
    const MeasureTrackPair *row = trackCount == 0 ? nullptr : file->body.measureTrackPairs[measureIndex];
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
        tracks[trackIndex].beatIndex = 0;
        tracks[trackIndex].beatPulsesLeft = 0;
        if (conversion->beatPositions != nullptr) conversion->beatPositions[trackIndex] = 0;
    }
    // The measure stored next is mostly the one played next: its first beats
    // are asked for now, a measure ahead.
    if (trackCount != 0 && measureIndex + 1 < file->headers.pieceInfo.measureCount) {
        const MeasureTrackPair *nextRow = file->body.measureTrackPairs[measureIndex + 1];
        for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex)
            if (nextRow[trackIndex].beatCount != 0) PrefetchBeat(nextRow[trackIndex].beats);
    }
    // The pulses of the last step reach each track's count and chunk's
    // counter when the next instant visits the track, before its events.
    std::uint32_t step = 0;
    for (std::uint32_t pulse = 0; pulse < pulseCount && !conversion->appendFailed; pulse += step) {
        conversion->conductor->pendingDelta += step;
        std::uint32_t nextStep = pulseCount - pulse;
        for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
            Track *track = &tracks[trackIndex];
            MidiTrackChunk *chunk = &chunks[trackIndex];
            track->beatPulsesLeft -= step;
            chunk->pendingDelta += step;
            if (track->beatPulsesLeft == 0) {
                const MeasureTrackPair &pair = row[trackIndex];
                const TrackChannels channels = GetTrackChannels(*track);
                if (track->beatIndex > 0)
                    ReleaseSoundingBeat(conversion, chunk, *track, channels, trackIndex,
                                        pair.beats[track->beatIndex - 1]);
                if (track->beatIndex < pair.beatCount) {
                    StartBeatOn(conversion, chunk, track, channels, trackIndex, pair.beats[track->beatIndex]);
                    if (track->beatIndex < pair.beatCount) PrefetchBeat(&pair.beats[track->beatIndex]);
                }
            }
            if (track->beatPulsesLeft != 0 && track->beatPulsesLeft < nextStep) nextStep = track->beatPulsesLeft;
        }
        step = nextStep;
    }
    // The last step, then the releases at the measure's end.
    conversion->conductor->pendingDelta += step;
    const bool releasing = pulseCount != 0 && !conversion->appendFailed;
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
        Track &track = tracks[trackIndex];
        track.beatPulsesLeft -= step;
        chunks[trackIndex].pendingDelta += step;
        if (releasing && track.beatIndex > 0)
            ReleaseSoundingBeat(conversion, &chunks[trackIndex], track, GetTrackChannels(track), trackIndex,
                                row[trackIndex].beats[track.beatIndex - 1]);
    }
}

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

// The whole conversion with the given measure clock.
int ConvertSong(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth,
                MeasureClock convertMeasure) {
    if (file == nullptr || midi == nullptr || midi->tracks == nullptr || !IsSongComplete(file)) return 0;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    if (trackCount >= 0xFFFF || WordValue(midi->header.trackCount) != trackCount + 1) return 0;
    const std::uint8_t pulses = static_cast<std::uint8_t>(pulsesPerSixtyFourth);
    if (!IsRenderWithinLimits(file, pulses)) return 0;

    HeldKeys heldOnStack[heldTrackLimit];
    Conversion conversion = {file, &midi->tracks[0], pulses, nullptr, false,
                             trackCount <= heldTrackLimit ? heldOnStack : nullptr};
    if (file->headers.tabInfo.tripletFeel == 1 && trackCount != 0) {
        conversion.beatPositions = static_cast<std::uint32_t *>(MemAlloc(trackCount * sizeof(std::uint32_t)));
        if (conversion.beatPositions == nullptr) return 0;
    }

    EmitSongStart(&conversion, midi);
    std::uint8_t numerator = 0;
    std::uint8_t denominator = 0;
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    for (std::uint32_t measureIndex = GetFirstMeasureIdx(file);
         measureIndex < measureCount && !conversion.appendFailed;
         measureIndex = GetNextMeasureIdx(file, measureIndex)) {
        const Measure *measure = &file->body.measures[measureIndex];
        if (IsTimeSignatureSwitched(measure, &numerator, &denominator)) {
            const std::uint8_t usedDenominator = UsableDenominator(denominator);
            Appended(&conversion, AddMetaEventTimeSignature(conversion.conductor, numerator,
                                                            GetDenominatorPower(usedDenominator),
                                                            static_cast<std::uint8_t>(96 / usedDenominator), 8));
        }
        const std::uint32_t pulseCount = GetMeasurePulseCount(measure, pulses, numerator, denominator);
        if ((measure->flags & MeasureHasMarker) && measure->marker != nullptr)
            Appended(&conversion, AddMetaEventMarker(conversion.conductor, TextOrEmpty(measure->marker->text)));
        convertMeasure(&conversion, midi, measureIndex, pulseCount);
    }
    for (std::uint32_t chunk = 0; chunk <= trackCount && !conversion.appendFailed; ++chunk)
        Appended(&conversion, AddMetaEventEndOfTrack(&midi->tracks[chunk]));
    MemFree(conversion.beatPositions);
    if (conversion.appendFailed) {
        ResetPassCounters(file);
        return 0;
    }
    return 1;
}

}  // namespace

// Returns 0, with nothing emitted, when the model does not hold one chunk
// more than the song has tracks, when the rendering would pass the render
// limits, or when the triplet-feel positions cannot be allocated; returns 0
// as well when an event cannot be appended, since the file would then lack
// it (the chunks keep what was appended, and the pass counters are reset).
int ToMidi(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth) {
    return ConvertSong(file, midi, pulsesPerSixtyFourth, ConvertMeasure);
}

}  // namespace Talvoren
