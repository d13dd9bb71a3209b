// perform.cpp - the performed rendering: the song walked along its timeline
// (timeline.h: the playing order with alternative endings honoured, the
// signature in force, the beats where their exact lengths put them), and
// every string of every track played as a voice that holds its note across
// beats and bar lines (ties, let ring), never strikes a key that sounds,
// shortens it (dead notes, staccato, palm mute), colours its attack (accents,
// ghost notes, hammer-ons) and adds the notes that ornaments make (grace
// notes, tremolo picking, trills). Events are written straight into the
// chunks in time order; nothing is written into the song.
//
// The articulation amounts, in sixty-fourth notes (a quarter is 16) and in
// velocity steps (the velocity is the note's dynamic x 16 - 1, 95 without):
//
// | What                         | Length                                   | Velocity                 |
// |------------------------------|------------------------------------------|--------------------------|
// | normal note                  | to the end of its beat                   | its dynamic              |
// | tied note (type 2)           | no attack: the string's last note lasts  |                          |
// |                              | to the end of the tie chain              |                          |
// | dead note (type 3)           | 2 (a thirty-second), at most its beat;   | its dynamic              |
// |                              | above the fret count, the open string    |                          |
// | ghost note                   |                                          | - 32                     |
// | accented note                |                                          | + 16                     |
// | heavily accented note        |                                          | + 32                     |
// | staccato                     | half its beat                            |                          |
// | palm mute                    | three quarters of its beat               |                          |
// | let ring                     | until its string plays again, or the end |                          |
// | hammer-on / pull-off         | full length, and the next note on the    | next note: - 16          |
// |                              | string follows without a new pick        |                          |
// | grace note                   | 1, 2 or 4 (duration 1, 2, 3), before the | its own dynamic; after a |
// |                              | beat whatever its transition             | hammer, the note - 16    |
// | tremolo picking              | the note again every 8, 4 or 2 (speed    | its dynamic              |
// |                              | 1, 2, 3) for its beat                    |                          |
// | trill                        | note and trill fret in turn every 4, 2   | its dynamic              |
// |                              | or 1 (period 1, 2, 3) for its beat       |                          |
// Velocities stay within 1 to 127. docs/performed.md carries the same table.
#include "gp/perform.h"

#include <cstdint>
#include <cstring>

#include "gp/convert.h"
#include "gp/perform_effects.h"
#include "gp/song.h"
#include "gp/timeline.h"
#include "heap.h"
#include "mid/midi.h"

namespace Talvoren {

// The rendering's own names live in a namespace of their own, so that no
// helper of another source file can be taken for one of them.
namespace {
namespace Performed {

// ---------------------------------------------------------------------------
// Articulation amounts (the table above).

constexpr std::uint32_t deadNoteSixtyFourths = 2;
constexpr std::uint32_t velocityStep = 16;  // one dynamic step
constexpr std::uint8_t defaultVelocity = 95;  // of a note without a dynamic
constexpr std::int32_t ghostVelocityChange = -2 * static_cast<std::int32_t>(velocityStep);
constexpr std::int32_t accentVelocityChange = static_cast<std::int32_t>(velocityStep);
constexpr std::int32_t heavyAccentVelocityChange = 2 * static_cast<std::int32_t>(velocityStep);
constexpr std::int32_t slurredVelocityChange = -static_cast<std::int32_t>(velocityStep);

constexpr std::uint8_t trackPercussion = 0x01;  // track flag: a drum track
constexpr std::uint8_t percussionChannel = 9;   // the tenth channel, 0-based

constexpr std::uint8_t graceHammer = 3;  // the note is hammered from its grace note

// Controllers besides Volume that the channel table and mix tables set.
constexpr auto controllerPan = static_cast<MidiController>(10);
constexpr auto controllerReverb = static_cast<MidiController>(91);
constexpr auto controllerTremolo = static_cast<MidiController>(92);
constexpr auto controllerChorus = static_cast<MidiController>(93);
constexpr auto controllerPhaser = static_cast<MidiController>(95);

constexpr std::uint32_t noTick = 0xFFFFFFFFu;

// Render limits beside the plain conversion's ticks and measure visits: a
// song that would pass one is refused before anything is appended.
constexpr std::uint64_t largestEvents = std::uint64_t{1} << 24;
constexpr std::uint64_t largestTextBytes = std::uint64_t{1} << 26;

// Events of a mix-table change: a tempo, and program and six controllers on two channels.
constexpr std::uint64_t mixTableEvents = 1 + 2 * 7;
// Events at a track's start: program and six controllers on two channels.
constexpr std::uint64_t trackStartEvents = 2 * 7;

// The longest beat, a dotted whole note, in pulses.
std::uint64_t LongestBeatPulses(std::uint8_t pulsesPerSixtyFourth) { return std::uint64_t{96} * pulsesPerSixtyFourth; }

// Sixty-fourths of a grace note of duration code 1 to 3 (others are the nearest).
std::uint32_t GraceSixtyFourths(std::uint8_t duration) {
    if (duration <= 1) return 1;
    if (duration == 2) return 2;
    return 4;
}

// Sixty-fourths between the picks of tremolo picking of speed 1 to 3.
std::uint32_t TremoloSixtyFourths(std::uint8_t speed) {
    if (speed <= 1) return 8;
    if (speed == 2) return 4;
    return 2;
}

// Sixty-fourths between the alternations of a trill of period 1 to 3.
std::uint32_t TrillSixtyFourths(std::uint8_t period) {
    if (period <= 1) return 4;
    if (period == 2) return 2;
    return 1;
}

std::uint8_t ClampedVelocity(std::int32_t velocity) {
    if (velocity < 1) return 1;
    if (velocity > largestDataByte) return largestDataByte;
    return static_cast<std::uint8_t>(velocity);
}

// ---------------------------------------------------------------------------
// Voices: what one string of a track sounds.

// A voice sounds one segment at a time: its key from its onset to offTick.
// A note of one segment ends at endTick; tremolo picking and trills start
// another segment every period while the segment ends before repeatUntil,
// with the next of their two keys.
struct Voice {
    std::uint32_t offTick;
    std::uint32_t endTick;      // noTick while the note rings on
    std::uint32_t period;       // 0: no further segments
    std::uint32_t repeatUntil;  // no segment starts at or after this
    std::uint8_t key;
    std::uint8_t keys[2];
    std::uint8_t velocities[2];
    std::uint8_t nextSegment;   // index into keys of the next segment
    bool onEffects;             // plays on the track's effects channel
};

// The beats of one measure-track pair still to play, and where they lie.
struct BeatRun {
    const MeasureTrackPair *pair;      // null: none left
    const MeasureTrackPair *nextPair;  // the track's pair in the file's next measure, or null
    std::uint32_t beatIndex;           // the next beat
    std::uint32_t measureStart;        // the tick its measure starts at
    BeatClock clock;
    std::uint32_t start;  // the next beat's span in ticks, while pending
    std::uint32_t end;
    bool pending;
};

// One song track as the rendering plays it.
struct TrackPlayer {
    const Track *track;
    MidiTrackChunk *chunk;
    TrackChannels channels;
    std::uint8_t noteChannel;
    bool percussion;
    std::uint32_t trackStrings;  // the string bits of the beat that the track has
    std::uint32_t capo;          // added to every key of a fretted track, at most 256
    std::uint32_t lastTick;      // the tick of the chunk's last event
    std::uint32_t sounding;      // bit s: voice s sounds
    // When every sounding voice is a single segment ending at uniformTick
    // (the plain notes of the last beat, as most are), their voices' bits;
    // else 0.
    std::uint32_t uniformVoices;
    std::uint32_t uniformTick;
    std::uint32_t slurred;       // bit s: the next note on string s is slurred
    Voice voices[noteSlotCount];
    const Beat *nextBeat;        // the beat after the one playing, for slides
    // The beat playing, as beat beatIndex of pair, and the track's pair in
    // the measure played next (null at the end), for ties ahead.
    const MeasureTrackPair *pair;
    const MeasureTrackPair *upcomingPair;
    std::uint32_t beatIndex;
    BeatRun overflow;           // beats of the last measure that lie past its bar line
    std::uint32_t lastBeatEnd;  // the latest end of a beat played
    // Whether the track's pairs of the measure played before, this one and
    // the one played next hold a tie: only then can a note wait for one.
    bool tiesNear;
    bool lastPairTies;
    PlayerEffects effects;
};

struct TempoChange {
    std::uint32_t tick;
    std::uint32_t track;
    std::uint32_t value;
};

struct Performance {
    FileStruct *file;
    std::uint32_t trackCount;
    std::uint8_t pulsesPerSixtyFourth;
    bool failed;  // an event could not be appended or kept, or the events passed their limit
    std::uint64_t events;  // channel events appended
    MidiTrackChunk *conductor;
    std::uint32_t conductorTick;
    TrackPlayer *players;
    TempoChange *tempoChanges;  // of the measure being played, sent once all tracks played it
    std::uint32_t tempoChangeCount;
    std::uint32_t tempoChangeCapacity;
    SongEffects song;
    PlayingOrder order;
    TimeSignature signatureSent;  // the last time signature on the conductor
    bool sharedChanges;           // a mix table changes something for all tracks
    // [measure * trackCount + track]: 0 not looked at yet, 1 the pair holds no
    // tied note, 2 it holds one.
    std::uint8_t *pairTies;
};

void Appended(Performance *performance, int appended) {
    if (!appended) performance->failed = true;
}

// Brings the chunk's counter to tick; the rendering never goes back in time
// (a tick before the chunk's last event is taken as that event's).
// The planned effects due by then go out on the way; the counter keeps the
// ticks of a move that no event followed.
void MoveTo(TrackPlayer *player, std::uint32_t tick) {
    if (tick < player->lastTick) tick = player->lastTick;
    if (tick >= player->effects.nextTick) SendEffectsUntil(&player->effects, player->chunk, &player->lastTick, tick);
    player->chunk->pendingDelta += tick - player->lastTick;
    player->lastTick = tick;
}

// Appends count note events of one kind (0x80 or 0x90) at the chunk's tick.
[[gnu::always_inline]] inline void SendNotes(Performance *performance, TrackPlayer *player, std::uint8_t kind,
                                             const std::uint8_t *keys, const std::uint8_t *velocities,
                                             std::uint32_t count) {
    performance->events += count;
    Appended(performance, AddEventNotes(player->chunk, kind, player->noteChannel, keys, velocities, count));
}

// SendNotes for notes of which some (onEffects) play on the effects channel:
// those on the note channel first.
void SendVoiceNotes(Performance *performance, TrackPlayer *player, std::uint8_t kind, const std::uint8_t *keys,
                    const std::uint8_t *velocities, const bool *onEffects, std::uint32_t count) {
    std::uint8_t mainKeys[noteSlotCount];
    std::uint8_t mainVelocities[noteSlotCount];
    std::uint8_t effectKeys[noteSlotCount];
    std::uint8_t effectVelocities[noteSlotCount];
    std::uint32_t mainCount = 0;
    std::uint32_t effectCount = 0;
    bool anyEffects = false;
    for (std::uint32_t index = 0; index < count; ++index) anyEffects = anyEffects || onEffects[index];
    if (!anyEffects) {
        SendNotes(performance, player, kind, keys, velocities, count);
        return;
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        if (onEffects[index]) {
            effectKeys[effectCount] = keys[index];
            effectVelocities[effectCount++] = velocities[index];
        } else {
            mainKeys[mainCount] = keys[index];
            mainVelocities[mainCount++] = velocities[index];
        }
    }
    if (mainCount != 0) SendNotes(performance, player, kind, mainKeys, mainVelocities, mainCount);
    performance->events += effectCount;
    Appended(performance, AddEventNotes(player->chunk, kind, player->channels.effects, effectKeys, effectVelocities,
                                        effectCount));
}

const std::uint8_t offVelocities[noteSlotCount] = {80, 80, 80, 80, 80, 80, 80};

// Emits the ends (and the next segments) of every voice segment that ends
// at or before tick, in time order: at one instant all note-offs come before
// the note-ons of the segments that follow.

// Before the note-ons of the voices `strings` (bit s: voice s, set up and
// sounding) at tick, the track's chunk at tick or before: voices of one key on
// one channel become one, with the louder velocity and the longer length (a
// unison); a voice that still sounds the key of one of them on its channel
// ends here first (a let-ring note, an overlapping voice), so that no key is
// struck while it sounds. velocityOf[s] is voice s's velocity. Returns the
// voices whose note-ons go out.
std::uint32_t ClearSameKeys(Performance *performance, TrackPlayer *player, std::uint32_t strings,
                            std::uint8_t *velocityOf, std::uint32_t tick) {
    Voice *voices = player->voices;
    for (std::uint32_t bits = strings; bits != 0; bits &= bits - 1) {
        const std::uint32_t string = static_cast<std::uint32_t>(__builtin_ctz(bits));
        for (std::uint32_t later = bits & (bits - 1); later != 0; later &= later - 1) {
            const std::uint32_t other = static_cast<std::uint32_t>(__builtin_ctz(later));
            if (voices[other].key != voices[string].key || voices[other].onEffects != voices[string].onEffects)
                continue;
            const std::uint8_t louder = velocityOf[other] > velocityOf[string] ? velocityOf[other] : velocityOf[string];
            if (voices[other].endTick > voices[string].endTick) voices[string] = voices[other];
            velocityOf[string] = louder;
            strings &= ~(1u << other);
            bits &= ~(1u << other);
            player->sounding &= ~(1u << other);
        }
    }
    const std::uint32_t others = player->sounding & ~strings;
    if (others == 0) return strings;
    std::uint8_t offKeys[noteSlotCount];
    bool offEffects[noteSlotCount];
    std::uint32_t offCount = 0;
    for (std::uint32_t bits = others; bits != 0; bits &= bits - 1) {
        const std::uint32_t other = static_cast<std::uint32_t>(__builtin_ctz(bits));
        for (std::uint32_t starting = strings; starting != 0; starting &= starting - 1) {
            const Voice &voice = voices[__builtin_ctz(starting)];
            if (voice.key != voices[other].key || voice.onEffects != voices[other].onEffects) continue;
            offKeys[offCount] = voices[other].key;
            offEffects[offCount++] = voices[other].onEffects;
            player->sounding &= ~(1u << other);
            break;
        }
    }
    if (offCount != 0) {
        player->uniformVoices = 0;
        MoveTo(player, tick);
        SendVoiceNotes(performance, player, 0x80, offKeys, offVelocities, offEffects, offCount);
    }
    return strings;
}

// Whether a key repeats among the voices `strings`, or one of them is the
// key of a voice of `others`: the one check of ClearSameKeys that most onsets need.
bool HasSameKeys(const Voice *voices, std::uint32_t strings, std::uint32_t others) {
    std::uint64_t seen[2] = {0, 0};
    for (std::uint32_t bits = strings; bits != 0; bits &= bits - 1) {
        const std::uint32_t key = voices[__builtin_ctz(bits)].key & largestDataByte;
        const std::uint64_t bit = std::uint64_t{1} << (key & 63);
        if (seen[key >> 6] & bit) return true;
        seen[key >> 6] |= bit;
    }
    for (std::uint32_t bits = others; bits != 0; bits &= bits - 1) {
        const std::uint32_t key = voices[__builtin_ctz(bits)].key & largestDataByte;
        if (seen[key >> 6] & (std::uint64_t{1} << (key & 63))) return true;
    }
    return false;
}

// Whether a key comes twice among count keys (all MIDI keys). The keys of a
// chord, string by string, mostly fall from string to string: no key of
// those comes twice.
[[gnu::always_inline]] inline bool RepeatsKey(const std::uint8_t *keys, std::uint32_t count) {
    if (count > noteSlotCount) count = noteSlotCount;  // a beat's keys: the compiler then sees every read in bounds
    std::uint32_t rising = 0;
    for (std::uint32_t index = 1; index < count; ++index) rising |= keys[index] >= keys[index - 1];
    if (rising == 0) return false;
    std::uint64_t seen[2] = {0, 0};
    for (std::uint32_t index = 0; index < count; ++index) {
        const std::uint32_t key = keys[index] & largestDataByte;
        const std::uint64_t bit = std::uint64_t{1} << (key & 63);
        if (seen[key >> 6] & bit) return true;
        seen[key >> 6] |= bit;
    }
    return false;
}

// Sends the note-ons of the voices `strings` (set up and sounding) at tick,
// string by string, once ClearSameKeys has cleared their keys.
void SendVoiceOnsets(Performance *performance, TrackPlayer *player, std::uint32_t strings,
                     std::uint8_t *velocityOf, std::uint32_t tick) {
    const std::uint32_t others = player->sounding & ~strings;
    if (((strings & (strings - 1)) != 0 || others != 0) && HasSameKeys(player->voices, strings, others))
        strings = ClearSameKeys(performance, player, strings, velocityOf, tick);
    std::uint8_t keys[noteSlotCount];
    std::uint8_t velocities[noteSlotCount];
    bool onEffects[noteSlotCount];
    std::uint32_t count = 0;
    bool anyEffects = false;
    for (std::uint32_t bits = strings; bits != 0; bits &= bits - 1) {
        const Voice &voice = player->voices[__builtin_ctz(bits)];
        keys[count] = voice.key;
        velocities[count] = velocityOf[__builtin_ctz(bits)];
        anyEffects = anyEffects || voice.onEffects;
        onEffects[count++] = voice.onEffects;
    }
    MoveTo(player, tick);
    if (anyEffects) {
        SendVoiceNotes(performance, player, 0x90, keys, velocities, onEffects, count);
    } else {
        SendNotes(performance, player, 0x90, keys, velocities, count);
    }
}

// SoundUntil for voices that do not all end together.
void SoundVoicesUntil(Performance *performance, TrackPlayer *player, std::uint32_t tick) {
    player->uniformVoices = 0;
    while (player->sounding != 0 && !performance->failed) {
        std::uint32_t earliest = noTick;
        std::uint32_t due = 0;  // the voices whose segment ends at earliest
        for (std::uint32_t bits = player->sounding; bits != 0; bits &= bits - 1) {
            const std::uint32_t string = static_cast<std::uint32_t>(__builtin_ctz(bits));
            const std::uint32_t offTick = player->voices[string].offTick;
            if (offTick < earliest) {
                earliest = offTick;
                due = 1u << string;
            } else if (offTick == earliest) {
                due |= 1u << string;
            }
        }
        if (earliest > tick) return;
        std::uint8_t offKeys[noteSlotCount];
        bool offEffects[noteSlotCount];
        std::uint8_t onVelocities[noteSlotCount];  // by string
        std::uint32_t offCount = 0;
        std::uint32_t starting = 0;  // the voices whose next segment starts
        for (std::uint32_t bits = due; bits != 0; bits &= bits - 1) {
            const std::uint32_t string = static_cast<std::uint32_t>(__builtin_ctz(bits));
            Voice &voice = player->voices[string];
            offEffects[offCount] = voice.onEffects;
            offKeys[offCount++] = voice.key;
            if (voice.period != 0 && earliest < voice.repeatUntil && earliest < voice.endTick) {
                voice.key = voice.keys[voice.nextSegment];
                onVelocities[string] = voice.velocities[voice.nextSegment];
                starting |= 1u << string;
                voice.nextSegment = static_cast<std::uint8_t>(voice.nextSegment ^ 1);
                const std::uint32_t nextOnset = earliest + voice.period;
                voice.offTick = nextOnset < voice.repeatUntil && nextOnset < voice.endTick ? nextOnset : voice.endTick;
            } else {
                player->sounding &= ~(1u << string);
            }
        }
        MoveTo(player, earliest);
        SendVoiceNotes(performance, player, 0x80, offKeys, offVelocities, offEffects, offCount);
        if (starting != 0) SendVoiceOnsets(performance, player, starting, onVelocities, earliest);
    }
}

// The plain notes of the last beat end together, at once; other voices one
// segment end after another.
[[gnu::always_inline]] inline void SoundUntil(Performance *performance, TrackPlayer *player, std::uint32_t tick) {
    if (player->sounding == 0) return;
    if (player->sounding != player->uniformVoices || player->uniformTick > tick) {
        SoundVoicesUntil(performance, player, tick);
        return;
    }
    std::uint8_t offKeys[noteSlotCount];
    std::uint32_t offCount = 0;
    for (std::uint32_t bits = player->sounding; bits != 0; bits &= bits - 1)
        offKeys[offCount++] = player->voices[__builtin_ctz(bits)].key;
    player->sounding = 0;
    player->uniformVoices = 0;
    MoveTo(player, player->uniformTick);
    SendNotes(performance, player, 0x80, offKeys, offVelocities, offCount);
}

// Ends voice string's note at tick at the latest (its string is played again).
[[gnu::always_inline]] inline void CutVoice(TrackPlayer *player, std::uint32_t string, std::uint32_t tick) {
    if ((player->sounding & (1u << string)) == 0) return;
    Voice &voice = player->voices[string];
    if (voice.endTick > tick) voice.endTick = tick;
    if (voice.offTick > tick) voice.offTick = tick;
    if (voice.repeatUntil > tick) voice.repeatUntil = tick;
}

// ---------------------------------------------------------------------------
// Values of a note.

struct NoteSound {
    std::uint32_t endTick;   // noTick: rings on
    std::uint32_t period;    // tremolo picking or trill, else 0
    std::uint16_t key;       // above 127: not sent
    std::uint16_t otherKey;  // the trill's other key (the key itself for tremolo picking)
    std::uint8_t velocity;
    bool slurToNext;
};

// The key of fret on the string: the plain key (tuning + fret) with the capo
// added, or the fret itself on a percussion track.
std::uint16_t GetSoundingKey(const TrackPlayer &player, const Note &note, std::uint32_t string, std::uint8_t fret) {
    if (player.percussion) return fret;
    std::uint32_t key;
    if (fret == note.fret) {
        key = GetNoteKey(*player.track, note, string);
    } else {
        Note fretted = note;
        fretted.fret = fret;
        key = GetNoteKey(*player.track, fretted, string);
    }
    return static_cast<std::uint16_t>(key + player.capo);
}

std::uint16_t GetHarmonicKey(const TrackPlayer &player, const Note &note, std::uint32_t string, std::uint16_t key) {
    if (player.percussion || note.effect == nullptr || (note.effect->flags2 & NoteEffectHarmonic) == 0) return key;
    const HarmonicPitch pitch = GetHarmonicPitch(static_cast<std::uint8_t>(note.effect->harmonic), note.fret);
    const std::uint32_t base = pitch.fromOpenString ? GetSoundingKey(player, note, string, 0) : key;
    return static_cast<std::uint16_t>(base + pitch.semitones);
}

// The velocity of a dynamic, as GetNoteVelocity gives it: dynamic x 16 - 1
// within 1 to 127.
std::uint8_t GetDynamicVelocity(std::uint8_t dynamic) {
    const std::uint32_t velocity = dynamic * velocityStep;
    if (velocity <= 1) return 1;
    return velocity > largestDataByte + 1 ? largestDataByte : static_cast<std::uint8_t>(velocity - 1);
}

// The note's velocity from its dynamic, 95 without one.
std::uint8_t GetPlainVelocity(const Performance *, const Note &note) {
    return (note.flags & NoteHasDynamic) ? GetDynamicVelocity(note.dynamic) : defaultVelocity;
}

std::uint8_t GetAttackVelocity(const Performance *performance, const Note &note, bool slurred) {
    std::int32_t velocity = GetPlainVelocity(performance, note);
    if (note.flags & NoteGhost) velocity += ghostVelocityChange;
    if (note.flags & NoteAccent) velocity += accentVelocityChange;
    if (note.flags & NoteHeavyAccent) velocity += heavyAccentVelocityChange;
    if (slurred) velocity += slurredVelocityChange;
    return ClampedVelocity(velocity);
}

// Where a note that starts at start in a beat that ends at end stops sounding.
std::uint32_t GetNoteEnd(const Performance *performance, const Note &note, std::uint32_t start, std::uint32_t end) {
    const NoteEffect *effect = note.effect;
    const std::uint32_t length = end - start;
    if (note.noteType == 3) {
        const std::uint32_t dead = deadNoteSixtyFourths * performance->pulsesPerSixtyFourth;
        return start + (dead < length ? dead : length);
    }
    if (effect == nullptr) return end;
    if (effect->flags1 & NoteEffectLetRing) return noTick;
    if (effect->flags1 & NoteEffectHammer) return end;
    if (effect->flags2 & NoteEffectStaccato) return start + length / 2;
    if (effect->flags2 & NoteEffectPalmMute) return start + length - length / 4;
    return end;
}

NoteSound GetNoteSound(const Performance *performance, const TrackPlayer &player, const Note &note,
                       std::uint32_t string, std::uint32_t start, std::uint32_t end) {
    NoteSound sound = {};
    const NoteEffect *effect = note.effect;
    if (effect == nullptr && note.noteType == 1 && (note.flags & (NoteGhost | NoteAccent | NoteHeavyAccent)) == 0 &&
        (player.slurred & (1u << string)) == 0) {
        // A plain note, as most are.
        sound.key = GetSoundingKey(player, note, string, note.fret);
        sound.otherKey = sound.key;
        sound.velocity = GetPlainVelocity(performance, note);
        sound.endTick = end;
        return sound;
    }
    // A dead note on a fret the track does not have (a stored 255, say) is muted on the open string.
    const bool offTheNeck = note.noteType == 3 && note.fret > player.track->fretCount;
    sound.key = GetHarmonicKey(player, note, string, GetSoundingKey(player, note, string, offTheNeck ? 0 : note.fret));
    const bool hammeredFromGrace =
        effect != nullptr && (effect->flags1 & NoteEffectGrace) && effect->graceTransition == graceHammer;
    sound.velocity = GetAttackVelocity(performance, note, (player.slurred & (1u << string)) != 0 || hammeredFromGrace);
    sound.endTick = GetNoteEnd(performance, note, start, end);
    sound.otherKey = sound.key;
    if (effect != nullptr && note.noteType != 3) {
        const std::uint32_t pulses = performance->pulsesPerSixtyFourth;
        if (effect->flags2 & NoteEffectTremoloPicking) {
            sound.period = TremoloSixtyFourths(effect->tremoloPicking) * pulses;
        } else if (effect->flags2 & NoteEffectTrill) {
            sound.period = TrillSixtyFourths(effect->trillPeriod) * pulses;
            sound.otherKey = GetSoundingKey(player, note, string, effect->trillFret);
        }
        sound.slurToNext = (effect->flags1 & NoteEffectHammer) != 0;
    }
    return sound;
}

bool IsSendableKey(std::uint32_t key) { return key <= largestDataByte; }

// A grace note's velocity comes from its own dynamic.
std::uint8_t GetGraceVelocity(const Performance *, const Note &note) {
    return GetDynamicVelocity(note.effect->graceDynamic);
}

// Whether a note of the beat has a grace note, and where it sounds.
bool HasGrace(const Note &note) {
    return note.effect != nullptr && (note.effect->flags1 & NoteEffectGrace) != 0 && note.noteType != 2;
}


// ---------------------------------------------------------------------------
// Channel settings.

void SendProgram(Performance *performance, TrackPlayer *player, std::uint8_t program) {
    if (!player->channels.sends || program > largestDataByte) return;
    performance->events += 2;
    Appended(performance, AddEventProgramChange(player->chunk, player->channels.main, program));
    if (player->channels.hasEffects)
        Appended(performance, AddEventProgramChange(player->chunk, player->channels.effects, program));
}

void SendController(Performance *performance, TrackPlayer *player, MidiController controller, std::uint8_t value) {
    if (!player->channels.sends) return;
    const std::uint8_t sent = GetVolumeValue(value);
    performance->events += 2;
    Appended(performance, AddEventController(player->chunk, player->channels.main, controller, sent));
    if (player->channels.hasEffects)
        Appended(performance, AddEventController(player->chunk, player->channels.effects, controller, sent));
}

// The six controllers of a channel-table entry or of a mix-table change, in
// one order; a value of 0xFF is no change.
struct ControllerValues {
    std::uint8_t values[6];
};

void SendControllers(Performance *performance, TrackPlayer *player, const ControllerValues &settings,
                     bool skipUnchanged) {
    static const MidiController controllers[6] = {Volume,          controllerPan,     controllerChorus,
                                                  controllerReverb, controllerPhaser, controllerTremolo};
    for (std::uint32_t index = 0; index < 6; ++index) {
        if (skipUnchanged && settings.values[index] == 0xFF) continue;
        SendController(performance, player, controllers[index], settings.values[index]);
    }
}

// A percussion track sends everything on the tenth channel.
TrackChannels GetPlayerChannels(const Track &track, bool percussion) {
    TrackChannels channels = GetTrackChannels(track);
    if (percussion) channels = {true, percussionChannel, percussionChannel, false};
    return channels;
}

void StartTrack(Performance *performance, TrackPlayer *player) {
    const Track &track = *player->track;
    Appended(performance, AddMetaEventTrackName(player->chunk, TextOrEmpty(track.name)));
    const MidiChannelInfo *entry = GetTrackChannelEntry(performance->file, track);
    if (entry == nullptr) return;
    SendProgram(performance, player, static_cast<std::uint8_t>(entry->instrument));
    const ControllerValues settings = {
        {entry->volume, entry->balance, entry->chorus, entry->reverb, entry->phaser, entry->tremolo}};
    SendControllers(performance, player, settings, false);
}

void KeepTempoChange(Performance *performance, std::uint32_t tick, std::uint32_t track, std::uint32_t value) {
    if (performance->tempoChangeCount == performance->tempoChangeCapacity) {
        void *changes = performance->tempoChanges;
        if (!MemGrowArray(&changes, &performance->tempoChangeCapacity, sizeof(TempoChange), 8)) {
            performance->failed = true;
            return;
        }
        performance->tempoChanges = static_cast<TempoChange *>(changes);
    }
    performance->tempoChanges[performance->tempoChangeCount++] = {tick, track, value};
}

void ApplyMixTable(Performance *performance, TrackPlayer *player, std::uint32_t trackIndex, std::uint32_t tick,
                   const MixTableEvent &mix) {
    if (mix.tempo >= 0 && !StartTempoChange(&performance->song, mix, tick, trackIndex))
        KeepTempoChange(performance, tick, trackIndex, GetTempoValue(static_cast<std::uint32_t>(mix.tempo)));
    if (mix.instrument == 0xFF && mix.volume == 0xFF && mix.balance == 0xFF && mix.chorus == 0xFF &&
        mix.reverb == 0xFF && mix.phaser == 0xFF && mix.tremolo == 0xFF)
        return;
    MoveTo(player, tick);
    if (mix.instrument != 0xFF) SendProgram(performance, player, mix.instrument);
    ControllerValues settings = {{mix.volume, mix.balance, mix.chorus, mix.reverb, mix.phaser, mix.tremolo}};
    PlanControllerTransitions(&player->effects, mix, tick, performance->song.beatPulses, settings.values);
    SendControllers(performance, player, settings, true);
}

// ---------------------------------------------------------------------------
// Beats.

// Starts a voice's note at start: tremolo picking and trills add a segment
// every period until the beat's end.
void StartVoice(TrackPlayer *player, std::uint32_t string, std::uint32_t start, std::uint32_t beatEnd,
                const NoteSound &sound, bool onEffects) {
    Voice &voice = player->voices[string];
    voice.key = static_cast<std::uint8_t>(sound.key);
    voice.endTick = sound.endTick;
    voice.nextSegment = 0;
    voice.keys[0] = static_cast<std::uint8_t>(sound.otherKey);
    voice.keys[1] = static_cast<std::uint8_t>(sound.key);
    voice.velocities[0] = sound.velocity;
    voice.velocities[1] = sound.velocity;
    voice.period = sound.period;
    voice.repeatUntil = beatEnd;
    voice.onEffects = onEffects;
    const std::uint32_t firstEnd = start + voice.period;
    const bool repeats = voice.period != 0 && firstEnd < voice.repeatUntil && firstEnd < voice.endTick;
    voice.offTick = repeats ? firstEnd : voice.endTick;
    player->sounding |= 1u << string;
    if (sound.slurToNext) {
        player->slurred |= 1u << string;
    } else {
        player->slurred &= ~(1u << string);
    }
}

// Grace notes sounded before the beat at start, earliest first: each takes
// its time from what sounds before it, but never starts before the track's
// last event. Whatever its transition, a grace note leaves its note's onset
// alone.
void SoundGracesBefore(Performance *performance, TrackPlayer *player, const Beat &beat, std::uint32_t graceStrings,
                       std::uint32_t start) {
    std::uint32_t graceStarts[noteSlotCount] = {};
    for (std::uint32_t bits = graceStrings; bits != 0; bits &= bits - 1) {
        const std::uint32_t string = static_cast<std::uint32_t>(__builtin_ctz(bits));
        const Note &note = beat.notes[string];
        const std::uint32_t length = GraceSixtyFourths(note.effect->graceDuration) * performance->pulsesPerSixtyFourth;
        std::uint32_t graceStart = start > length ? start - length : 0;
        if (graceStart < player->lastTick) graceStart = player->lastTick;
        if (graceStart >= start) graceStrings &= ~(1u << string);
        graceStarts[string] = graceStart;
    }
    while (graceStrings != 0 && !performance->failed) {
        std::uint32_t first = 0;
        std::uint32_t firstStart = noTick;
        for (std::uint32_t bits = graceStrings; bits != 0; bits &= bits - 1) {
            const std::uint32_t string = static_cast<std::uint32_t>(__builtin_ctz(bits));
            if (graceStarts[string] < firstStart) {
                firstStart = graceStarts[string];
                first = string;
            }
        }
        graceStrings &= ~(1u << first);
        const Note &note = beat.notes[first];
        const std::uint32_t key = GetSoundingKey(*player, note, first, note.effect->graceFret);
        CutVoice(player, first, firstStart);
        SoundUntil(performance, player, firstStart);
        if (!IsSendableKey(key)) continue;
        std::uint8_t velocityOf[noteSlotCount];
        velocityOf[first] = GetGraceVelocity(performance, note);
        Voice &voice = player->voices[first];
        voice = {};
        voice.key = static_cast<std::uint8_t>(key);
        voice.offTick = start;
        voice.endTick = start;
        player->sounding |= 1u << first;
        SendVoiceOnsets(performance, player, 1u << first, velocityOf, firstStart);
    }
}

// Whether the next note that the track plays on the string, after the beat
// playing, is a tie with no rest before it: looked for in the rest of the
// measure, then in the measure played next.
bool IsTieAhead(const TrackPlayer &player, std::uint32_t string) {
    const std::uint32_t bit = StringBit(string) & player.trackStrings;
    const MeasureTrackPair *pair = player.pair;
    std::uint32_t beatIndex = player.beatIndex + 1;
    for (std::uint32_t measure = 0; measure < 2 && pair != nullptr; ++measure) {
        for (; beatIndex < pair->beatCount; ++beatIndex) {
            const Beat &beat = pair->beats[beatIndex];
            if ((beat.flags & BeatHasStatus) && IsBeatSilent(beat)) return false;
            if (beat.stringFlags & bit) {
                const Note &note = beat.notes[string];
                return (note.flags & NoteHasTypeAndFret) && note.noteType == 2;
            }
        }
        pair = player.upcomingPair;
        beatIndex = 0;
    }
    return false;
}

// A note that has ended by the beat's start (cut short by palm mute,
// staccato or a dead note's length, or ended with its beat) on a string the
// beat does not play is held on when the next note on its string is a tie:
// a tie never strikes, it continues the string's last note.
void HoldNotesTiedLater(TrackPlayer *player, const Beat &beat, std::uint32_t start) {
    if (!player->tiesNear) return;
    const std::uint32_t played = beat.stringFlags & player->trackStrings;
    for (std::uint32_t bits = player->sounding; bits != 0; bits &= bits - 1) {
        const std::uint32_t string = static_cast<std::uint32_t>(__builtin_ctz(bits));
        Voice &voice = player->voices[string];
        if (voice.endTick > start || (played & StringBit(string)) || !IsTieAhead(*player, string)) continue;
        if (voice.period == 0 || voice.offTick == voice.endTick) voice.offTick = noTick;
        voice.endTick = noTick;
        player->uniformVoices = 0;
    }
}

// A tie continues the note its string sounds, which then lasts to the tie's end.
void ContinueTie(Performance *performance, TrackPlayer *player, const Beat &beat, std::uint32_t string,
                 std::uint32_t start, std::uint32_t end) {
    const Note &note = beat.notes[string];
    Voice &voice = player->voices[string];
    const std::uint32_t tieEnd = GetNoteEnd(performance, note, start, end);
    const bool lastSegment = voice.period == 0 || voice.offTick == voice.endTick || voice.offTick >= voice.repeatUntil;
    voice.endTick = tieEnd;
    if (lastSegment || voice.offTick > tieEnd) voice.offTick = tieEnd;
    player->uniformVoices = 0;
    // A tie with a curve of its own (a bend's release, say) moves the wheel of the note it continues.
    if (player->effects.bends && HasPitchEffects(note, beat)) {
        const PitchNote pitch = {&note, string, start, tieEnd < end ? tieEnd : end, 0, voice.onEffects,
                                 IsTiedOn(string, player->nextBeat)};
        PlanPitch(&player->effects, beat, &pitch, 1, performance->pulsesPerSixtyFourth);
    }
}

// A note of the beat that starts sounding: its slot and how it sounds.
struct Attack {
    std::uint32_t string;
    NoteSound sound;
    std::uint32_t onset;  // a strum delays it
    bool onEffects;       // it moves the pitch and plays on the effects channel
};

// What a beat starts: its plain notes (no effect, no accent, not slurred
// into: most are), each with its key and velocity, and its other notes as
// attacks.
struct BeatNotes {
    std::uint32_t plainStrings;  // slot bits of the plain notes
    std::uint32_t plainCount;
    std::uint8_t keys[noteSlotCount];        // of the plain notes, in string order
    std::uint8_t velocities[noteSlotCount];
    std::uint8_t velocityOf[noteSlotCount];  // by slot, of every note that starts
    Attack attacks[noteSlotCount];
    std::uint32_t attackCount;
    std::uint32_t graceStrings;  // slot bits of the attacks with a grace note
};

bool IsPlainNote(const TrackPlayer &player, const Note &note, std::uint32_t string, bool plainBeat) {
    return note.effect == nullptr && note.noteType == 1 && plainBeat &&
           (note.flags & (NoteHasTypeAndFret | NoteGhost | NoteAccent | NoteHeavyAccent)) == NoteHasTypeAndFret &&
           (player.slurred & (1u << string)) == 0;
}

// Reads the notes of a beat that sounds: ties continue their notes, strings
// played again are cut at the beat's start, and the notes that start are
// sorted into plain notes and attacks.
void ReadBeatNotes(Performance *performance, TrackPlayer *player, const Beat &beat, std::uint32_t start,
                   std::uint32_t end, bool plainBeat, BeatNotes *notes) {
    // The sounding voices that may ring past the beat's start, and are cut
    // there when their string plays again.
    const std::uint32_t ringing = player->sounding & ~(player->uniformTick <= start ? player->uniformVoices : 0u);
    for (std::uint32_t bits = beat.stringFlags & player->trackStrings; bits != 0;) {
        const std::uint32_t string = TakeFirstString(&bits);
        const std::uint32_t bit = 1u << string;
        const Note &note = beat.notes[string];
        if (IsPlainNote(*player, note, string, plainBeat)) {
            if (ringing & bit) CutVoice(player, string, start);
            const std::uint16_t key = GetSoundingKey(*player, note, string, note.fret);
            if (!IsSendableKey(key)) continue;
            const std::uint8_t velocity = GetPlainVelocity(performance, note);
            notes->keys[notes->plainCount] = static_cast<std::uint8_t>(key);
            notes->velocities[notes->plainCount++] = velocity;
            notes->velocityOf[string] = velocity;
            notes->plainStrings |= bit;
            continue;
        }
        if ((note.flags & NoteHasTypeAndFret) == 0 || note.noteType < 1 || note.noteType > 3) continue;
        if (note.noteType == 2 && (player->sounding & bit)) {
            ContinueTie(performance, player, beat, string, start, end);
            continue;
        }
        if (ringing & bit) CutVoice(player, string, start);
        Attack &attack = notes->attacks[notes->attackCount++];
        attack.string = string;
        attack.sound = GetNoteSound(performance, *player, note, string, start, end);
        if (HasGrace(note)) notes->graceStrings |= bit;
    }
}

// The plain notes' voices: one segment each, to the beat's end.
void StartPlainVoices(TrackPlayer *player, const BeatNotes &notes, std::uint32_t end) {
    std::uint32_t index = 0;
    for (std::uint32_t bits = notes.plainStrings; bits != 0; bits &= bits - 1) {
        const std::uint32_t string = static_cast<std::uint32_t>(__builtin_ctz(bits));
        Voice &voice = player->voices[string];
        voice.key = notes.keys[index++];
        voice.offTick = end;
        voice.endTick = end;
        voice.period = 0;
        voice.onEffects = false;
    }
    player->sounding |= notes.plainStrings;
}

// Each sendable attack's onset (a strum delays it, never past half of what it
// sounds) and channel; drops the attacks whose keys are no MIDI keys. Returns
// whether the beat's pitch is planned: a note moves it, or the wheel is off centre.
bool PrepareAttacks(Performance *performance, TrackPlayer *player, const Beat &beat, std::uint32_t start,
                    std::uint32_t end, bool plainBeat, BeatNotes *notes, bool *delayed) {
    std::uint32_t delays[noteSlotCount] = {};
    if (!plainBeat && notes->attackCount != 0) {
        std::uint32_t attackedStrings = 0;
        for (std::uint32_t index = 0; index < notes->attackCount; ++index)
            attackedStrings |= 1u << notes->attacks[index].string;
        GetStrumDelays(beat, attackedStrings, end - start, performance->pulsesPerSixtyFourth, delays);
        PlanFadeIn(&player->effects, beat, start, end, performance->pulsesPerSixtyFourth);
    }
    bool planPitch = player->effects.bends && IsWheelBusy(&player->effects);
    *delayed = false;
    std::uint32_t kept = 0;
    for (std::uint32_t index = 0; index < notes->attackCount; ++index) {
        Attack attack = notes->attacks[index];
        const std::uint32_t string = attack.string;
        if (!IsSendableKey(attack.sound.key) || !IsSendableKey(attack.sound.otherKey)) {
            player->slurred &= ~(1u << string);
            continue;
        }
        const std::uint32_t noteEnd = attack.sound.endTick < end ? attack.sound.endTick : end;
        const std::uint32_t delay = delays[string] < (noteEnd - start) / 2 ? delays[string] : (noteEnd - start) / 2;
        attack.onset = start + delay;
        *delayed = *delayed || delay != 0;
        const bool moves = player->effects.bends && HasPitchEffects(beat.notes[string], beat);
        attack.onEffects = moves && player->channels.hasEffects;
        planPitch = planPitch || moves;
        notes->attacks[kept++] = attack;
    }
    notes->attackCount = kept;
    return planPitch;
}

// Starts the beat's notes (plain ones at start, the attacks at their onsets)
// in onset order, each onset's wheels planned before its note-ons.
void PlayOnsets(Performance *performance, TrackPlayer *player, const Beat &beat, std::uint32_t start,
                std::uint32_t end, BeatNotes *notes, bool planPitch) {
    struct Onset {
        std::uint32_t string;
        std::uint32_t onset;
        const Attack *attack;  // null for a plain note
    };
    Onset onsets[noteSlotCount];
    std::uint32_t onsetCount = 0;
    for (std::uint32_t bits = notes->plainStrings; bits != 0; bits &= bits - 1)
        onsets[onsetCount++] = {static_cast<std::uint32_t>(__builtin_ctz(bits)), start, nullptr};
    for (std::uint32_t index = 0; index < notes->attackCount; ++index)
        onsets[onsetCount++] = {notes->attacks[index].string, notes->attacks[index].onset, &notes->attacks[index]};
    for (std::uint32_t index = 1; index < onsetCount; ++index) {
        const Onset moved = onsets[index];
        std::uint32_t place = index;
        for (; place > 0 && onsets[place - 1].onset > moved.onset; --place) onsets[place] = onsets[place - 1];
        onsets[place] = moved;
    }
    for (std::uint32_t first = 0, last = 0; first < onsetCount && !performance->failed; first = last) {
        const std::uint32_t onset = onsets[first].onset;
        for (last = first; last < onsetCount && onsets[last].onset == onset;) ++last;
        if (onset != start) SoundUntil(performance, player, onset);
        PitchNote pitches[noteSlotCount];
        std::uint32_t strings = 0;
        for (std::uint32_t index = first; index < last; ++index) {
            const Onset &note = onsets[index];
            std::uint32_t curveEnd = end;
            bool onEffects = false;
            if (note.attack != nullptr) {
                StartVoice(player, note.string, onset, end, note.attack->sound, note.attack->onEffects);
                notes->velocityOf[note.string] = note.attack->sound.velocity;
                onEffects = note.attack->onEffects;
                if (note.attack->sound.endTick < end) curveEnd = note.attack->sound.endTick;
            }
            if (planPitch) {
                const Note &played = beat.notes[note.string];
                pitches[index - first] = {&played,  note.string, onset, curveEnd,
                                          GetSlideTarget(played, note.string, player->nextBeat), onEffects,
                                          IsTiedOn(note.string, player->nextBeat)};
            }
            strings |= 1u << note.string;
        }
        if (planPitch) PlanPitch(&player->effects, beat, pitches, last - first, performance->pulsesPerSixtyFourth);
        SendVoiceOnsets(performance, player, strings, notes->velocityOf, onset);
    }
}

// A beat of plain notes only (no beat effect, mix table or status, no note
// with an effect, accent or slur) on a track whose wheel is at centre, as
// most beats are: PlayBeat's steps that such a beat takes, at once. False,
// with nothing done, for any other beat.
bool PlayPlainBeat(Performance *performance, TrackPlayer *player, const Beat &beat, std::uint32_t start,
                   std::uint32_t end) {
    if ((beat.flags & (BeatHasEffects | BeatHasMixTable | BeatHasStatus)) != 0 || !player->channels.sends ||
        (player->effects.bends && IsWheelBusy(&player->effects)))
        return false;
    std::uint8_t keys[noteSlotCount];
    std::uint8_t velocities[noteSlotCount];
    std::uint32_t count = 0;
    std::uint32_t plainStrings = 0;
    std::uint32_t unsendable = 0;  // slot bits of the notes whose keys are no MIDI keys
    for (std::uint32_t bits = beat.stringFlags & player->trackStrings; bits != 0;) {
        const std::uint32_t string = TakeFirstString(&bits);
        const Note &note = beat.notes[string];
        if (!IsPlainNote(*player, note, string, true)) return false;
        const std::uint16_t key = GetSoundingKey(*player, note, string, note.fret);
        if (!IsSendableKey(key)) {
            unsendable |= 1u << string;
            continue;
        }
        keys[count] = static_cast<std::uint8_t>(key);
        velocities[count++] = GetPlainVelocity(performance, note);
        plainStrings |= 1u << string;
    }
    const std::uint32_t played = plainStrings | unsendable;
    HoldNotesTiedLater(player, beat, start);
    // The strings played again cut what still rings on them.
    const std::uint32_t ringing = player->sounding & ~(player->uniformTick <= start ? player->uniformVoices : 0u);
    for (std::uint32_t bits = ringing & played; bits != 0; bits &= bits - 1)
        CutVoice(player, static_cast<std::uint32_t>(__builtin_ctz(bits)), start);
    SoundUntil(performance, player, start);
    if (count == 0) return true;
    std::uint32_t index = 0;
    for (std::uint32_t bits = plainStrings; bits != 0; bits &= bits - 1) {
        Voice &voice = player->voices[__builtin_ctz(bits)];
        voice.key = keys[index++];
        voice.offTick = end;
        voice.endTick = end;
        voice.period = 0;
        voice.onEffects = false;
    }
    player->sounding |= plainStrings;
    if ((player->sounding & ~plainStrings) == 0 && !RepeatsKey(keys, count)) {
        MoveTo(player, start);
        SendNotes(performance, player, 0x90, keys, velocities, count);
    } else {
        std::uint8_t velocityOf[noteSlotCount];
        index = 0;
        for (std::uint32_t bits = plainStrings; bits != 0; bits &= bits - 1)
            velocityOf[__builtin_ctz(bits)] = velocities[index++];
        SendVoiceOnsets(performance, player, plainStrings, velocityOf, start);
    }
    if (player->sounding == plainStrings) {
        player->uniformVoices = plainStrings;
        player->uniformTick = end;
    }
    return true;
}

// One beat of the track from start to end (end >= start), in steps: notes
// that a later tie continues are held, the beat's notes are read (ties
// continue, strings played again are cut), grace notes sound before the
// beat, the notes that end by the beat's start end, the mix-table change
// applies, and the beat's notes start.
void PlayBeat(Performance *performance, TrackPlayer *player, std::uint32_t trackIndex, const Beat &beat,
              std::uint32_t start, std::uint32_t end) {
    const bool sounds = player->channels.sends && !((beat.flags & BeatHasStatus) && IsBeatSilent(beat));
    // A beat with beat effects (strums, the tremolo bar, vibrato, fade-in) plays each note as an attack.
    const bool plainBeat = (beat.flags & BeatHasEffects) == 0 || beat.beatEffect == nullptr;
    BeatNotes notes;
    notes.plainStrings = 0;
    notes.plainCount = 0;
    notes.attackCount = 0;
    notes.graceStrings = 0;
    if (sounds) {
        HoldNotesTiedLater(player, beat, start);
        ReadBeatNotes(performance, player, beat, start, end, plainBeat, &notes);
    } else {
        player->slurred = 0;  // a rest ends every slur
    }
    if (notes.graceStrings != 0) {
        player->uniformVoices = 0;
        SoundGracesBefore(performance, player, beat, notes.graceStrings, start);
    }
    SoundUntil(performance, player, start);
    if ((beat.flags & BeatHasMixTable) && beat.mixTableEvent != nullptr)
        ApplyMixTable(performance, player, trackIndex, start, *beat.mixTableEvent);
    if (notes.attackCount == 0 && notes.plainStrings == 0) return;

    StartPlainVoices(player, notes, end);
    bool delayed = false;
    const bool planPitch = PrepareAttacks(performance, player, beat, start, end, plainBeat, &notes, &delayed);
    if (!planPitch && !delayed && notes.attackCount == 0 && (player->sounding & ~notes.plainStrings) == 0 &&
        !RepeatsKey(notes.keys, notes.plainCount)) {
        // Plain notes of distinct keys at the beat's start, nothing else sounding: most beats.
        MoveTo(player, start);
        SendNotes(performance, player, 0x90, notes.keys, notes.velocities, notes.plainCount);
    } else if (!planPitch && !delayed) {
        // Every note at the beat's start on the note channel.
        std::uint32_t strings = notes.plainStrings;
        for (std::uint32_t index = 0; index < notes.attackCount; ++index) {
            const Attack &attack = notes.attacks[index];
            StartVoice(player, attack.string, start, end, attack.sound, false);
            notes.velocityOf[attack.string] = attack.sound.velocity;
            strings |= 1u << attack.string;
        }
        SendVoiceOnsets(performance, player, strings, notes.velocityOf, start);
    } else {
        PlayOnsets(performance, player, beat, start, end, &notes, planPitch);
    }
    if (player->sounding == notes.plainStrings) {
        player->uniformVoices = notes.plainStrings;
        player->uniformTick = end;
    }
}

// Finds the run's next beat, if one plays, and its span in ticks.
[[gnu::always_inline]] inline bool PeekBeat(BeatRun *run) {
    if (run->pending) return true;
    if (run->pair == nullptr || run->beatIndex >= run->pair->beatCount) return false;
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    if (!NextBeatSpan(&run->clock, run->pair->beats[run->beatIndex], &start, &end)) {
        run->pair = nullptr;
        return false;
    }
    run->start = run->measureStart + start;
    run->end = run->measureStart + end;
    run->pending = true;
    return true;
}

// Plays the run's beat that PeekBeat found.
void PlayRunBeat(Performance *performance, TrackPlayer *player, std::uint32_t trackIndex, BeatRun *run) {
    const MeasureTrackPair &pair = *run->pair;
    const std::uint32_t beatIndex = run->beatIndex;
    if (beatIndex + 1 < pair.beatCount) {
        player->nextBeat = &pair.beats[beatIndex + 1];
    } else {
        player->nextBeat =
            run->nextPair != nullptr && run->nextPair->beatCount != 0 ? &run->nextPair->beats[0] : nullptr;
    }
    player->pair = &pair;
    player->beatIndex = beatIndex;
    if (!PlayPlainBeat(performance, player, pair.beats[beatIndex], run->start, run->end))
        PlayBeat(performance, player, trackIndex, pair.beats[beatIndex], run->start, run->end);
    if (run->end > player->lastBeatEnd) player->lastBeatEnd = run->end;
    run->pending = false;
    ++run->beatIndex;
}

// One track through one measure of pulseCount pulses starting at tick
// measureStart: its beats in time order, each for its own length, together
// with the beats of the measure before that lay past its bar line. Beats of
// this measure that start past its bar line wait for the next measure; a
// measure of no pulses plays nothing. nextPair is the track's pair in the
// next measure of the file (for slides), upcomingPair the one in the measure
// played next (for ties), either null.
void PlayTrackMeasure(Performance *performance, TrackPlayer *player, std::uint32_t trackIndex,
                      const MeasureTrackPair &pair, const MeasureTrackPair *nextPair,
                      const MeasureTrackPair *upcomingPair, std::uint32_t measureStart, std::uint32_t pulseCount) {
    BeatRun *overflow = &player->overflow;
    if (pulseCount == 0) {
        overflow->pair = nullptr;
        return;
    }
    BeatRun run = {};
    run.pair = &pair;
    run.nextPair = nextPair;
    run.measureStart = measureStart;
    run.clock = StartBeatClock(performance->file, performance->pulsesPerSixtyFourth, pulseCount);
    const std::uint32_t measureEnd = measureStart + pulseCount;
    player->upcomingPair = upcomingPair;
    player->pair = &pair;
    if (overflow->pair == nullptr) {
        // Nothing lies over the bar line from the measure before, as in most measures.
        for (; run.beatIndex < pair.beatCount && !performance->failed; ++run.beatIndex) {
            std::uint32_t start = 0;
            std::uint32_t end = 0;
            if (!NextBeatSpan(&run.clock, pair.beats[run.beatIndex], &start, &end)) {
                run.pair = nullptr;
                break;
            }
            if (start >= pulseCount) {  // past the bar line: waits for the next measure
                run.start = measureStart + start;
                run.end = measureStart + end;
                run.pending = true;
                break;
            }
            const std::uint32_t beatIndex = run.beatIndex;
            if (beatIndex + 1 < pair.beatCount) {
                player->nextBeat = &pair.beats[beatIndex + 1];
            } else {
                player->nextBeat = nextPair != nullptr && nextPair->beatCount != 0 ? &nextPair->beats[0] : nullptr;
            }
            player->beatIndex = beatIndex;
            if (!PlayPlainBeat(performance, player, pair.beats[beatIndex], measureStart + start, measureStart + end))
                PlayBeat(performance, player, trackIndex, pair.beats[beatIndex], measureStart + start,
                         measureStart + end);
            if (measureStart + end > player->lastBeatEnd) player->lastBeatEnd = measureStart + end;
        }
        if (!run.pending) run.pair = nullptr;
        *overflow = run;
        return;
    }
    while (!performance->failed) {
        const bool own = PeekBeat(&run) && run.start < measureEnd;
        const bool carried = overflow->pair != nullptr && PeekBeat(overflow) && overflow->start < measureEnd;
        if (!own && !carried) break;
        BeatRun *chosen = carried && (!own || overflow->start <= run.start) ? overflow : &run;
        PlayRunBeat(performance, player, trackIndex, chosen);
    }
    if (!PeekBeat(&run)) run.pair = nullptr;
    *overflow = run;
}

// Changes flagged for all tracks, planned on every other track before any
// track plays the measure, so that each lands at its own tick everywhere.
void PlanSharedChanges(Performance *performance, const MeasureTrackPair *row, std::uint32_t measureStart,
                       std::uint32_t pulseCount) {
    const std::uint32_t trackCount = performance->file->headers.pieceInfo.trackCount;
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
        const MeasureTrackPair &pair = row[trackIndex];
        if (pair.owners == 0) continue;  // no beat of the pair carries a mix table
        BeatClock clock = StartBeatClock(performance->file, performance->pulsesPerSixtyFourth, pulseCount);
        std::uint32_t start = 0;
        std::uint32_t end = 0;
        for (std::uint32_t beatIndex = 0; beatIndex < pair.beatCount; ++beatIndex) {
            const Beat &beat = pair.beats[beatIndex];
            if (!NextBeatSpan(&clock, beat, &start, &end)) break;
            if ((beat.flags & BeatHasMixTable) == 0 || beat.mixTableEvent == nullptr ||
                !HasSharedChanges(*beat.mixTableEvent))
                continue;
            for (std::uint32_t other = 0; other < trackCount; ++other)
                if (other != trackIndex)
                    PlanSharedControllerChanges(&performance->players[other].effects, *beat.mixTableEvent,
                                                measureStart + start, performance->song.beatPulses);
        }
    }
}

// The conductor never goes back in time either.
void MoveConductorTo(Performance *performance, std::uint32_t tick) {
    if (tick < performance->conductorTick) tick = performance->conductorTick;
    performance->conductor->pendingDelta = tick - performance->conductorTick;
    performance->conductorTick = tick;
}

bool IsEarlierTempoChange(const TempoChange &first, const TempoChange &second) {
    if (first.tick != second.tick) return first.tick < second.tick;
    return first.track < second.track;
}

// The measure's tempo changes on the conductor, by time and within an instant by track.
void SendTempoChanges(Performance *performance) {
    TempoChange *changes = performance->tempoChanges;
    const std::uint32_t count = performance->tempoChangeCount;
    for (std::uint32_t index = 1; index < count; ++index) {
        const TempoChange change = changes[index];
        std::uint32_t place = index;
        while (place > 0 && IsEarlierTempoChange(change, changes[place - 1])) {
            changes[place] = changes[place - 1];
            --place;
        }
        changes[place] = change;
    }
    for (std::uint32_t index = 0; index < count && !performance->failed; ++index) {
        MoveConductorTo(performance, changes[index].tick);
        Appended(performance, AddMetaEventSetTempo(performance->conductor, changes[index].value));
    }
    performance->tempoChangeCount = 0;
}

// ---------------------------------------------------------------------------
// Bounds.

// An upper bound of the events one play of the beat appends: each note its
// attack and release, a grace note's, and those of every repeat of tremolo
// picking or a trill over the beat's longest length (triplet feel lengthens
// it by half); a mix-table change its settings.
std::uint64_t GetBeatEventBound(const Beat &beat, std::uint8_t pulsesPerSixtyFourth, std::uint32_t trackCount) {
    std::uint64_t events = (beat.flags & BeatHasMixTable) ? mixTableEvents : 0;
    const std::uint64_t longest = std::uint64_t{GetUnswungBeatPulseCount(beat, pulsesPerSixtyFourth)} * 3 / 2 + 1;
    events += GetBeatEffectsEventBound(beat, longest, pulsesPerSixtyFourth, trackCount);
    for (std::uint32_t bits = beat.stringFlags & 0x7Fu; bits != 0;) {
        const Note &note = beat.notes[TakeFirstString(&bits)];
        events += 2;
        const NoteEffect *effect = note.effect;
        if (effect == nullptr) continue;
        if (effect->flags1 & NoteEffectGrace) events += 2;
        std::uint64_t period = 0;
        if (effect->flags2 & NoteEffectTremoloPicking) period = TremoloSixtyFourths(effect->tremoloPicking);
        if (effect->flags2 & NoteEffectTrill) {
            const std::uint64_t trill = TrillSixtyFourths(effect->trillPeriod);
            if (period == 0 || trill < period) period = trill;
        }
        if (period != 0) {
            const std::uint64_t pulses = period * pulsesPerSixtyFourth;
            events += 2 * (pulses == 0 ? longest : longest / pulses + 1);
        }
    }
    return events;
}

// What walking the playing order finds: the measures played and an upper
// bound of the events that are not notes.
struct WalkCost {
    std::uint64_t measuresPlayed;
    std::uint64_t conductorEvents;
};

// Walks the playing order, adding up ticks, measure visits and text bytes;
// false as soon as a limit is passed, saying which in *refusal when it is not
// null. The channel events are counted while the song plays.
bool IsWithinLimits(const FileStruct *file, PlayingOrder *order, std::uint8_t pulsesPerSixtyFourth, WalkCost *cost,
                    RenderRefusal *refusal = nullptr) {
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    const std::uint64_t chunkCount = std::uint64_t{trackCount} + 1;
    std::uint64_t textBytes = std::strlen(TextOrEmpty(file->headers.tabInfo.title));
    for (std::uint32_t track = 0; track < trackCount; ++track)
        textBytes += std::strlen(TextOrEmpty(file->body.tracks[track].name));
    std::uint64_t ticks = 0;
    std::uint64_t visits = 0;
    std::uint64_t events = 2 + chunkCount * (trackStartEvents + trackStartEffectEvents + 2);
    TimeSignature sent = {0, 0};
    RestartPlayingOrder(order);
    for (std::uint32_t index = NextPlayedMeasure(order); index < measureCount; index = NextPlayedMeasure(order)) {
        const Measure *measure = &file->body.measures[index];
        const TimeSignature signature = GetSignatureInForce(order, index);
        if (!IsSameSignature(signature, sent)) events += 1;
        sent = signature;
        const std::uint32_t pulseCount = GetPlayedMeasurePulses(order, index, pulsesPerSixtyFourth);
        ticks += pulseCount;
        visits += chunkCount;
        if ((measure->flags & MeasureHasMarker) && measure->marker != nullptr) {
            events += 1;
            textBytes += std::strlen(TextOrEmpty(measure->marker->text));
        }
        // Beats past the bar line sound up to a measure's length (and their last beat) after it.
        const std::uint64_t lastSound = ticks + pulseCount + LongestBeatPulses(pulsesPerSixtyFourth);
        if (lastSound > largestSongTicks || visits > largestMeasureVisits || textBytes > largestTextBytes) {
            if (refusal != nullptr)
                *refusal = lastSound > largestSongTicks    ? RenderRefusal::Ticks
                           : visits > largestMeasureVisits ? RenderRefusal::MeasureVisits
                                                           : RenderRefusal::Text;
            return false;
        }
    }
    cost->measuresPlayed = visits / chunkCount;
    cost->conductorEvents = events;
    return true;
}

std::uint64_t GetEventBound(const FileStruct *file, std::uint32_t pulsesPerSixtyFourth) {
    if (file == nullptr || !IsSongComplete(file)) return 0;
    PlayingOrder order = {};
    if (!InitPlayingOrder(&order, file)) return 0;
    const std::uint8_t pulses = static_cast<std::uint8_t>(pulsesPerSixtyFourth);
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    WalkCost cost = {};
    std::uint64_t bound = largestEvents + 1;
    if (IsWithinLimits(file, &order, pulses, &cost)) {
        bound = cost.conductorEvents;
        RestartPlayingOrder(&order);
        for (std::uint32_t index = NextPlayedMeasure(&order); index < measureCount && bound <= largestEvents;
             index = NextPlayedMeasure(&order)) {
            for (std::uint32_t track = 0; track < trackCount; ++track) {
                const MeasureTrackPair &pair = file->body.measureTrackPairs[index][track];
                for (std::uint32_t beat = 0; beat < pair.beatCount; ++beat)
                    bound += GetBeatEventBound(pair.beats[beat], pulses, trackCount);
            }
        }
    }
    FreePlayingOrder(&order);
    return bound;
}

// ---------------------------------------------------------------------------
// The rendering, step by step.

// Fills each track's player: its chunk, channels, capo and strings.
void SetUpPlayers(Performance *performance, MidiFileStruct *midi) {
    const FileStruct *file = performance->file;
    for (std::uint32_t trackIndex = 0; trackIndex < performance->trackCount; ++trackIndex) {
        TrackPlayer *player = &performance->players[trackIndex];
        const Track &track = file->body.tracks[trackIndex];
        player->track = &track;
        player->chunk = &midi->tracks[trackIndex + 1];
        player->percussion = (track.flags & trackPercussion) != 0 || track.midiChannel == percussionChannel + 1u;
        player->channels = GetPlayerChannels(track, player->percussion);
        player->noteChannel = player->channels.main;
        // Any capo above 256 frets makes every key unsendable, as 256 does.
        player->capo = track.capoHeight < 0x100 ? track.capoHeight : 0x100;
        player->trackStrings = (0x7Fu << (noteSlotCount - GetSoundingStringCount(track))) & 0x7Fu;
    }
}

// Whether a beat of the pair holds a tied note. Every slot is looked at,
// present or not (a slot without a note is cleared), so that the look takes
// no branch per note.
bool HasTies(const MeasureTrackPair &pair) {
    std::uint32_t ties = 0;
    for (std::uint32_t beatIndex = 0; beatIndex < pair.beatCount; ++beatIndex) {
        const Note *notes = pair.beats[beatIndex].notes;
        for (std::uint32_t string = 0; string < noteSlotCount; ++string) ties |= notes[string].noteType == 2;
    }
    return ties != 0;
}

// One pass over the beats that carry effects, in the order they lie in
// memory: what each track's notes ask of the wheel, and whether a mix table
// changes something for all tracks.
void GatherEffectNeeds(Performance *performance) {
    const FileStruct *file = performance->file;
    const std::uint32_t trackCount = performance->trackCount;
    for (std::uint32_t measure = 0; measure < file->headers.pieceInfo.measureCount && trackCount != 0; ++measure) {
        const MeasureTrackPair *row = file->body.measureTrackPairs[measure];
        for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
            TrackPlayer *player = &performance->players[trackIndex];
            if (!player->percussion && player->channels.sends)
                AddPairPitchNeeds(row[trackIndex], &player->effects.needs, &performance->sharedChanges);
        }
    }
}

// Whether the track's pair in the measure holds a tied note, found once per
// pair when the playing order first comes near it (just before its beats are
// played, so that they are read while they are at hand).
bool PairHasTies(Performance *performance, std::uint32_t measureIndex, std::uint32_t trackIndex) {
    std::uint8_t &known = performance->pairTies[std::size_t{measureIndex} * performance->trackCount + trackIndex];
    if (known == 0) known = HasTies(performance->file->body.measureTrackPairs[measureIndex][trackIndex]) ? 2 : 1;
    return known == 2;
}

// Each track's effects state, with the wheel's range of each channel covering
// the largest offset any track asks for on it, then the track's start: its
// name, channel settings and pitch-bend range.
void StartTracks(Performance *performance) {
    const std::uint32_t trackCount = performance->trackCount;
    std::uint32_t channelCents[midiChannelCount] = {};
    std::uint32_t channelBenders[midiChannelCount] = {};
    std::uint32_t channelPlayers[midiChannelCount] = {};  // tracks whose notes play on the channel
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
        TrackPlayer *player = &performance->players[trackIndex];
        if (player->channels.sends) ++channelPlayers[player->channels.main];
        player->effects.pitchCents = GetPitchCents(player->effects.needs);
        if (player->effects.pitchCents == 0) continue;
        const std::uint8_t channel = GetPitchChannel(player->channels);
        if (player->effects.pitchCents > channelCents[channel]) channelCents[channel] = player->effects.pitchCents;
        ++channelBenders[channel];
    }
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
        TrackPlayer *player = &performance->players[trackIndex];
        const std::uint8_t pitchChannel = GetPitchChannel(player->channels);
        // Another track plays or bends on the channel this one bends on.
        const bool sharedWheel = channelBenders[pitchChannel] > 1 ||
                                 channelPlayers[pitchChannel] > (player->channels.main == pitchChannel ? 1u : 0u);
        std::uint8_t levels[6] = {};
        if (const MidiChannelInfo *entry = GetTrackChannelEntry(performance->file, *player->track)) {
            const std::uint8_t values[6] = {entry->volume, entry->balance, entry->chorus,
                                            entry->reverb, entry->phaser,  entry->tremolo};
            for (std::uint32_t index = 0; index < 6; ++index) levels[index] = GetVolumeValue(values[index]);
        }
        StartPlayerEffects(&player->effects, player->channels, player->percussion,
                           GetBendRange(channelCents[pitchChannel]), sharedWheel, levels, &performance->events);
        StartTrack(performance, player);
        Appended(performance, SendBendRange(&player->effects, player->chunk));
    }
}

// The conductor's events at a measure's start: its time signature when the
// one in force changes, then its marker.
void StartConductorMeasure(Performance *performance, std::uint32_t measureIndex, std::uint32_t tick) {
    const Measure *measure = &performance->file->body.measures[measureIndex];
    const TimeSignature signature = GetSignatureInForce(&performance->order, measureIndex);
    if (!IsSameSignature(signature, performance->signatureSent)) {
        performance->signatureSent = signature;
        const std::uint8_t denominator = UsableDenominator(signature.denominator);
        MoveConductorTo(performance, tick);
        Appended(performance,
                 AddMetaEventTimeSignature(performance->conductor, signature.numerator,
                                           GetDenominatorPower(denominator),
                                           static_cast<std::uint8_t>(96 / denominator), 8));
    }
    if ((measure->flags & MeasureHasMarker) && measure->marker != nullptr) {
        MoveConductorTo(performance, tick);
        Appended(performance, AddMetaEventMarker(performance->conductor, TextOrEmpty(measure->marker->text)));
    }
}

// One measure of the playing order, from tick: the conductor's events, every
// track's beats, then the measure's tempo changes and tempo steps.
void PlayMeasure(Performance *performance, std::uint32_t measureIndex, std::uint32_t upcoming, std::uint32_t tick,
                 std::uint32_t pulseCount) {
    const FileStruct *file = performance->file;
    const std::uint32_t trackCount = performance->trackCount;
    StartConductorMeasure(performance, measureIndex, tick);
    if (trackCount != 0) {
        const MeasureTrackPair *row = file->body.measureTrackPairs[measureIndex];
        const MeasureTrackPair *upcomingRow =
            upcoming < file->headers.pieceInfo.measureCount ? file->body.measureTrackPairs[upcoming] : nullptr;
        const MeasureTrackPair *nextRow = measureIndex + 1 < file->headers.pieceInfo.measureCount
                                              ? file->body.measureTrackPairs[measureIndex + 1]
                                              : nullptr;
        if (performance->sharedChanges && trackCount > 1 && pulseCount != 0)
            PlanSharedChanges(performance, row, tick, pulseCount);
        for (std::uint32_t trackIndex = 0; trackIndex < trackCount && !performance->failed; ++trackIndex) {
            TrackPlayer *player = &performance->players[trackIndex];
            const bool pairTies = PairHasTies(performance, measureIndex, trackIndex);
            const bool upcomingTies = upcomingRow != nullptr && PairHasTies(performance, upcoming, trackIndex);
            player->tiesNear = player->lastPairTies || pairTies || upcomingTies;
            player->lastPairTies = pairTies;
            PlayTrackMeasure(performance, &performance->players[trackIndex], trackIndex, row[trackIndex],
                             nextRow == nullptr ? nullptr : &nextRow[trackIndex],
                             upcomingRow == nullptr ? nullptr : &upcomingRow[trackIndex], tick, pulseCount);
        }
    }
    std::uint32_t stepTick = 0;
    std::uint32_t stepTrack = 0;
    std::uint32_t stepTempo = 0;
    while (TakeTempoStep(&performance->song, tick + pulseCount, &stepTick, &stepTrack, &stepTempo))
        KeepTempoChange(performance, stepTick, stepTrack, GetTempoValue(stepTempo));
    SendTempoChanges(performance);
}

// The end of the song at tick cuts every ring; every chunk ends.
void EndSong(Performance *performance, MidiFileStruct *midi, std::uint32_t tick) {
    const std::uint32_t trackCount = performance->trackCount;
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount && !performance->failed; ++trackIndex) {
        TrackPlayer *player = &performance->players[trackIndex];
        // The beats of the last measure past its bar line still sound.
        player->upcomingPair = nullptr;
        while (!performance->failed && PeekBeat(&player->overflow))
            PlayRunBeat(performance, player, trackIndex, &player->overflow);
        const std::uint32_t end = player->lastBeatEnd > tick ? player->lastBeatEnd : tick;
        for (std::uint32_t string = 0; string < noteSlotCount; ++string) CutVoice(player, string, end);
        SoundUntil(performance, player, end);
        SendEffectsUntil(&player->effects, player->chunk, &player->lastTick, end);
    }
    SendTempoChanges(performance);  // of the beats past the last bar line
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex)
        if (performance->players[trackIndex].effects.failed) performance->failed = true;
    for (std::uint32_t chunk = 0; chunk <= trackCount && !performance->failed; ++chunk) {
        midi->tracks[chunk].pendingDelta = 0;
        Appended(performance, AddMetaEventEndOfTrack(&midi->tracks[chunk]));
    }
    if (performance->events > largestEvents) performance->failed = true;
}

void FreePerformance(Performance *performance) {
    for (std::uint32_t trackIndex = 0; trackIndex < performance->trackCount && performance->players != nullptr;
         ++trackIndex)
        ReleasePlayerEffects(&performance->players[trackIndex].effects);
    MemFree(performance->tempoChanges);
    MemFree(performance->players);
    MemFree(performance->pairTies);
    FreePlayingOrder(&performance->order);
}

// Returns 0, with nothing appended, when the model does not hold one chunk
// more than the song has tracks or when the walk passes the render limits
// (ticks, measures played, text); returns 0 as well, with the chunks keeping
// what was appended, when the working memory cannot be had, an event cannot
// be appended, or the events played pass their limit.
//
// With a budget, the file's bytes are kept up to date as each track plays
// each measure, and the rendering stops as soon as they pass it.
int Render(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth, RenderBudget *budget) {
    budget->refusal = RenderRefusal::None;
    if (file == nullptr || midi == nullptr || midi->tracks == nullptr || !IsSongComplete(file)) return 0;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    if (trackCount >= 0xFFFF || WordValue(midi->header.trackCount) != trackCount + 1) return 0;
    Performance performance = {};
    performance.file = file;
    performance.trackCount = trackCount;
    performance.pulsesPerSixtyFourth = static_cast<std::uint8_t>(pulsesPerSixtyFourth);
    performance.conductor = &midi->tracks[0];
    WalkCost cost = {};
    budget->refusal = RenderRefusal::Memory;
    const bool ordered = InitPlayingOrder(&performance.order, file);
    const bool within =
        ordered && IsWithinLimits(file, &performance.order, performance.pulsesPerSixtyFourth, &cost, &budget->refusal);
    if (within) budget->refusal = RenderRefusal::Memory;
    if (!within || !ReserveTrackChunks(file, midi, cost.measuresPlayed) ||
        (performance.players = static_cast<TrackPlayer *>(MemCalloc(trackCount + 1u, sizeof(TrackPlayer)))) ==
            nullptr ||
        (performance.pairTies = static_cast<std::uint8_t *>(
             MemCalloc(std::uint64_t{performance.order.measureCount} * trackCount + 1u, 1))) == nullptr) {
        FreePerformance(&performance);
        return 0;
    }
    SetUpPlayers(&performance, midi);
    GatherEffectNeeds(&performance);
    Appended(&performance, AddMetaEventSetTempo(performance.conductor, GetTempoValue(file->headers.pieceInfo.tempo)));
    Appended(&performance, AddMetaEventTrackName(performance.conductor, TextOrEmpty(file->headers.tabInfo.title)));
    performance.song.tempo = file->headers.pieceInfo.tempo;
    performance.song.beatPulses = 16u * performance.pulsesPerSixtyFourth;
    StartTracks(&performance);

    std::uint32_t tick = 0;
    bool overBudget = false;
    PlayingOrder *order = &performance.order;
    RestartPlayingOrder(order);
    std::uint32_t upcoming = NextPlayedMeasure(order);
    while (upcoming < order->measureCount && !performance.failed) {
        const std::uint32_t index = upcoming;
        upcoming = NextPlayedMeasure(order);
        if (performance.events > largestEvents) performance.failed = true;
        const std::uint32_t pulseCount = GetPlayedMeasurePulses(order, index, performance.pulsesPerSixtyFourth);
        PlayMeasure(&performance, index, upcoming, tick, pulseCount);
        // With a budget, the file's bytes after each measure: the rendering stops
        // as soon as they pass it.
        if (budget->largestFileBytes != 0 && GetMidiFileBytes(midi) > budget->largestFileBytes)
            overBudget = performance.failed = true;
        tick += pulseCount;
    }
    EndSong(&performance, midi, tick);
    if (budget->largestFileBytes != 0 && GetMidiFileBytes(midi) > budget->largestFileBytes)
        overBudget = performance.failed = true;
    budget->refusal = !performance.failed                 ? RenderRefusal::None
                      : overBudget                         ? RenderRefusal::Size
                      : performance.events > largestEvents ? RenderRefusal::Events
                                                           : RenderRefusal::Memory;
    FreePerformance(&performance);
    return performance.failed ? 0 : 1;
}

}  // namespace Performed
}  // namespace

std::uint64_t GetPerformedEventBound(const FileStruct *file, std::uint32_t pulsesPerSixtyFourth) {
    return Performed::GetEventBound(file, pulsesPerSixtyFourth);
}

int ToPerformedMidi(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth) {
    RenderBudget noBudget = {0, RenderRefusal::None};
    return Performed::Render(file, midi, pulsesPerSixtyFourth, &noBudget);
}

int ToPerformedMidiWithin(FileStruct *file, MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth,
                          RenderBudget *budget) {
    RenderBudget noBudget = {0, RenderRefusal::None};
    return Performed::Render(file, midi, pulsesPerSixtyFourth, budget != nullptr ? budget : &noBudget);
}

}  // namespace Talvoren
