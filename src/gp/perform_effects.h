// perform_effects.h - what the performed rendering does with a note's pitch
// and attack and with a mix-table change over time: pitch-wheel curves for
// bends, the tremolo bar, slides and vibrato (with the pitch-bend range set
// by RPN 0), strummed onsets, fade-ins, and controller and tempo transitions.
// perform.cpp calls these at its hook points; the events they plan wait in
// per-track lanes and go into the chunk, in time order, whenever the track
// moves its clock (SendEffectsUntil).
#ifndef TALVOREN_GP_PERFORM_EFFECTS_H
#define TALVOREN_GP_PERFORM_EFFECTS_H

#include <cstdint>

#include "gp/convert.h"
#include "gp/song.h"

namespace Talvoren {

struct MidiTrackChunk;

// --- Lanes of planned events ----------------------------------------------

struct EffectEvent {
    std::uint32_t tick;
    std::uint16_t value;  // a wheel position (0 to 0x3FFF) or a controller value
};

// Events of one kind in time order, waiting for their tick. A new plan that
// starts at a tick replaces whatever the lane held from that tick on.
struct EffectLane {
    EffectEvent *events;
    std::uint32_t head;  // the next event to send
    std::uint32_t count;
    std::uint32_t capacity;
};

// The lanes of a track: the wheel of its note channel and of its effects
// channel, the expression controller, and the six mix-table controllers.
enum EffectLaneIndex : std::uint32_t {
    WheelLaneMain = 0,
    WheelLaneEffects = 1,
    ExpressionLane = 2,
    FirstControllerLane = 3,  // volume, balance, chorus, reverb, phaser, tremolo
    effectLaneCount = 9,
};

constexpr std::uint16_t wheelCentre = 0x2000;

// The largest pitch offsets, in cents, that a track's notes and beats ask for, by kind.
struct PitchNeeds {
    std::uint32_t bend;
    std::uint32_t bar;
    std::uint32_t vibrato;
    std::uint32_t slide;
};

struct PlayerEffects {
    EffectLane lanes[effectLaneCount];
    std::uint32_t waiting;           // bit l: lane l holds planned events
    std::uint32_t nextTick;          // no planned event is due before this tick
    std::uint64_t *eventCounter;     // the rendering's count of channel events, raised by each sent
    PitchNeeds needs;                // what the track's own notes ask for
    std::uint32_t pitchCents;        // the largest pitch offset they add up to
    std::uint8_t channels[2];        // 0-based note channel and effects channel
    std::uint8_t channelCount;       // 2 when the effects channel differs
    bool sends;                      // the track sends channel events
    bool bends;                      // the track moves a wheel somewhere in the song
    bool sharedWheel;                // another track plays or bends on the channel this track bends on
    std::uint8_t bendRange;          // semitones of the full wheel on the track's pitch channel
    std::uint16_t wheel[2];          // the wheel each pitch lane last planned
    std::uint8_t levels[6];          // the six controllers' values last planned or sent
    bool failed;                     // a planned event could not be kept or sent
};

// The song-wide part: the tempo ramp under way and the tempo it starts from.
struct SongEffects {
    std::uint32_t tempo;  // beats per minute last set
    bool ramping;
    std::uint32_t rampTrack;
    std::uint32_t rampStart;
    std::uint32_t rampFrom;
    std::uint32_t rampTo;
    std::uint32_t rampSteps;
    std::uint32_t rampNextStep;  // 1-based
    std::uint32_t beatPulses;    // one beat of a transition: a quarter note
};

// Sends every planned event due at or before tick, in time order (lanes in
// index order at one instant), advancing the chunk's clock at *lastTick.
void SendEffectsUntil(PlayerEffects *effects, MidiTrackChunk *chunk, std::uint32_t *lastTick, std::uint32_t tick);
void ReleasePlayerEffects(PlayerEffects *effects);

// --- Set-up ---------------------------------------------------------------

// Adds what the pair's beats ask for; *sharedChanges set when one of its mix
// tables changes something for all tracks.
void AddPairPitchNeeds(const MeasureTrackPair &pair, PitchNeeds *needs, bool *sharedChanges);
// Cents of the largest offset the needs add up to, 0 when nothing moves the pitch.
std::uint32_t GetPitchCents(const PitchNeeds &needs);
// The wheel's range in semitones that covers an offset of cents: at least 2, at most 24.
std::uint8_t GetBendRange(std::uint32_t cents);
// Fills the track's channels and wheel state (pitchCents already set): range
// is the one its pitch channel is set to, initialLevels the controllers'
// values at the start (in table order).
void StartPlayerEffects(PlayerEffects *effects, const TrackChannels &channels, bool percussion, std::uint8_t range,
                        bool sharedWheel, const std::uint8_t initialLevels[6], std::uint64_t *eventCounter);
// The 0-based channel the track bends on (its effects channel when it has one).
std::uint8_t GetPitchChannel(const TrackChannels &channels);
// Sends the pitch-bend range (RPN 0) on the track's pitch channel when it bends.
int SendBendRange(const PlayerEffects *effects, MidiTrackChunk *chunk);

// --- Notes ----------------------------------------------------------------

// Whether the note (in that beat) moves its pitch: a bend, a slide, vibrato,
// or the beat's tremolo bar or vibrato. Such notes play on the effects channel.
bool HasPitchEffects(const Note &note, const Beat &beat);

// Onset delays, in pulses, of the notes of a strummed beat (bit s of strings:
// slot s is attacked); all 0 when the beat is not strummed.
void GetStrumDelays(const Beat &beat, std::uint32_t strings, std::uint32_t beatPulses,
                    std::uint8_t pulsesPerSixtyFourth, std::uint32_t delays[noteSlotCount]);

// One note whose pitch curve the beat plans.
struct PitchNote {
    const Note *note;
    std::uint32_t string;      // slot
    std::uint32_t onset;
    std::uint32_t end;         // where the curve stops (the note's sounding end within its beat)
    std::int32_t slideTarget;  // semitones to the next note on the string, for shift and legato slides
    bool onEffects;            // plays on the effects channel
    bool tiedOn;               // the next beat ties on to it on its string
};

// Whether notes that do not move their pitch still need their wheel planned:
// the note channel's wheel is off centre.
bool IsWheelBusy(const PlayerEffects *effects);
// Whether the next beat holds a tie on the string (slot).
bool IsTiedOn(std::uint32_t string, const Beat *nextBeat);

// Plans the wheels of notes that start together: on each wheel the first
// note that moves its pitch sets the curve; a wheel that only unbent notes
// start on goes back to centre first. On a wheel that another track shares,
// a curve goes back to centre where its note ends (unless a tie holds it).
void PlanPitch(PlayerEffects *effects, const Beat &beat, const PitchNote *notes, std::uint32_t count,
               std::uint8_t pulsesPerSixtyFourth);
// Semitones from fret to the note that the next beat plays on the same string
// (0 when it plays none there).
std::int32_t GetSlideTarget(const Note &note, std::uint32_t string, const Beat *nextBeat);

// A fade-in beat: the expression controller swells from silence at start to full at end.
void PlanFadeIn(PlayerEffects *effects, const Beat &beat, std::uint32_t start, std::uint32_t end,
                std::uint8_t pulsesPerSixtyFourth);

// --- Mix-table changes ------------------------------------------------------

// Plans the mix table's controller changes that have a duration of more than
// one beat as steps over that many beats, and takes them out of values (set
// to 0xFF) so that the caller sends only the immediate ones; an immediate
// change ends any transition of its controller. values are in table order.
void PlanControllerTransitions(PlayerEffects *effects, const MixTableEvent &mix, std::uint32_t tick,
                               std::uint32_t beatPulses, std::uint8_t values[6]);
// Plans a change of another track that applies to all tracks on this one.
void PlanSharedControllerChanges(PlayerEffects *effects, const MixTableEvent &mix, std::uint32_t tick,
                                 std::uint32_t beatPulses);
// Whether the mix table holds a change flagged for all tracks.
bool HasSharedChanges(const MixTableEvent &mix);

// A tempo change: true when it ramps (duration above one beat), its steps then
// coming from TakeTempoStep; false when it is immediate (the caller sends it).
bool StartTempoChange(SongEffects *song, const MixTableEvent &mix, std::uint32_t tick, std::uint32_t track);
// The ramp's next step before tick limit: its tick, its track and its tempo.
bool TakeTempoStep(SongEffects *song, std::uint32_t limit, std::uint32_t *tick, std::uint32_t *track,
                   std::uint32_t *tempo);

// --- Bounds -----------------------------------------------------------------

// Events the beat's effects may add on top of its notes in one play, with
// longest its longest length in pulses and trackCount the tracks a change for
// all tracks reaches.
std::uint64_t GetBeatEffectsEventBound(const Beat &beat, std::uint64_t longest, std::uint8_t pulsesPerSixtyFourth,
                                       std::uint32_t trackCount);
// Events of a track's start: the pitch-bend range.
constexpr std::uint64_t trackStartEffectEvents = 6;

}  // namespace Talvoren

#endif  // TALVOREN_GP_PERFORM_EFFECTS_H
