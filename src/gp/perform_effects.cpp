// perform_effects.cpp - pitch-wheel curves (bends, tremolo bar, slides,
// vibrato), strummed onsets, fade-ins and mix-table transitions of the
// performed rendering, planned into per-track lanes that perform.cpp drains
// in time order.
//
// The amounts, in sixty-fourth notes (a quarter is 16; 30 pulses each):
//
// | What                       | Pitch                                   | Time                                      |
// |----------------------------|-----------------------------------------|-------------------------------------------|
// | bend, tremolo bar          | the curve's values: 100 a tone (50 a    | the curve's positions: 0 to 60 across the |
// |                            | semitone), straight lines between points| note's sounding length                    |
// | vibrato (note or beat)     | up to a quarter tone above the note and | a cycle every 16/3 (an eighth triplet)    |
// |                            | back                                    |                                           |
// | wide vibrato (beat)        | up to a semitone above and back         | a cycle every 8 (an eighth)               |
// | shift and legato slides    | glide to the next note on the string    | over the note's last 8, at most its half  |
// | slide in from below/above  | from 4 semitones below/above            | over the note's first 4, at most its half |
// | slide out down/up          | to 7 semitones below/above              | over the note's last 8, at most its half  |
// | stroke of speed 1 to 6     |                                         | onsets spread over 1/2, 1, 2, 4, 8, 16,   |
// |                            |                                         | at most half the beat; down: lowest string|
// |                            |                                         | first, up: highest first                  |
// | rasgueado without a stroke |                                         | a down stroke of speed 3                  |
// | fade-in                    | expression 0 to 127                     | over the beat, a step every 1             |
// | mix-table transition of n  | volume ... tremolo: k/n of the way on   | a beat is a quarter (16)                  |
// | beats                      | beat k; tempo likewise                  |                                           |
//
// The wheel is sampled every third of a sixty-fourth (10 ticks) and at every
// point of a curve, and sent only when it moves. Its range (RPN 0) is set
// once per channel to the semitones of the largest offset the song asks for
// on that channel (at least 2, at most 24; offsets beyond are held at the
// wheel's end).
#include "gp/perform_effects.h"

#include <cstdint>

#include "heap.h"
#include "mid/midi.h"

namespace Talvoren {

namespace {

// Slide kinds, as the file's signed byte.
constexpr std::int8_t slideShift = 1;
constexpr std::int8_t slideLegato = 2;
constexpr std::int8_t slideOutDown = 3;
constexpr std::int8_t slideOutUp = 4;
constexpr std::int8_t slideInFromBelow = -1;
constexpr std::int8_t slideInFromAbove = -2;

// Curve units: positions 0 to 60 across the note, values 100 a tone.
constexpr std::int64_t curveLastPosition = 60;
constexpr std::int64_t centsPerCurveUnit = 2;
constexpr std::int64_t largestCurveValue = 1200;  // 24 semitones; beyond is held there

constexpr std::int64_t slideInCents = 400;
constexpr std::int64_t slideOutCents = 700;
constexpr std::int64_t slideAnyCents = 1200;  // the range a track with slides asks for
constexpr std::uint32_t slideInSixtyFourths = 4;
constexpr std::uint32_t slideOutSixtyFourths = 8;
constexpr std::int64_t vibratoCents = 50;
constexpr std::int64_t wideVibratoCents = 100;
constexpr std::uint8_t smallestBendRange = 2;
constexpr std::uint8_t largestBendRange = 24;

constexpr std::uint8_t rasgueadoSpeed = 3;
// The stroke bytes in file order: down stroke, then up stroke.
constexpr std::uint32_t downStrokeByte = 0;
constexpr std::uint32_t upStrokeByte = 1;

constexpr std::uint8_t expressionController = 11;
// The mix table's controllers, in table order.
constexpr std::uint8_t tableControllers[6] = {7, 10, 93, 91, 95, 92};

constexpr std::uint16_t fullExpression = 127;

// One cycle of vibrato from the note to its peak and back, 16 steps (of 1000).
constexpr std::int64_t vibratoShape[17] = {0, 38, 146, 309, 500, 691, 854, 962, 1000,
                                           962, 854, 691, 500, 309, 146, 38, 0};

std::uint32_t WheelStep(std::uint8_t pulsesPerSixtyFourth) {
    return pulsesPerSixtyFourth >= 3 ? pulsesPerSixtyFourth / 3u : 1u;
}

std::int64_t ClampedCurveValue(std::int32_t value) {
    if (value > largestCurveValue) return largestCurveValue;
    if (value < -largestCurveValue) return -largestCurveValue;
    return value;
}

const Bend *GetTremoloBar(const Beat &beat) {
    if ((beat.flags & BeatHasEffects) == 0 || beat.beatEffect == nullptr) return nullptr;
    if ((beat.beatEffect->flags2 & BeatEffectTremoloBar) == 0) return nullptr;
    return beat.beatEffect->tremoloBar;
}

const Bend *GetBend(const Note &note) {
    if ((note.flags & NoteHasEffects) == 0 || note.effect == nullptr) return nullptr;
    if ((note.effect->flags1 & NoteEffectBend) == 0) return nullptr;
    return note.effect->bend;
}

std::int8_t GetSlide(const Note &note) {
    if ((note.flags & NoteHasEffects) == 0 || note.effect == nullptr) return 0;
    if ((note.effect->flags2 & NoteEffectSlide) == 0) return 0;
    return static_cast<std::int8_t>(note.effect->slide);
}

std::uint8_t GetBeatEffectFlags(const Beat &beat) {
    if ((beat.flags & BeatHasEffects) == 0 || beat.beatEffect == nullptr) return 0;
    return beat.beatEffect->flags1;
}

// Cents of vibrato the note carries: 0, a normal or a wide one.
std::int64_t GetVibratoCents(const Note &note, const Beat &beat) {
    const std::uint8_t beatFlags = GetBeatEffectFlags(beat);
    if (beatFlags & BeatEffectWideVibrato) return wideVibratoCents;
    if (beatFlags & BeatEffectVibrato) return vibratoCents;
    if ((note.flags & NoteHasEffects) && note.effect != nullptr && (note.effect->flags2 & NoteEffectVibrato))
        return vibratoCents;
    return 0;
}

std::int64_t GetLargestCurveCents(const Bend *curve) {
    if (curve == nullptr) return 0;
    std::int64_t largest = 0;
    for (std::uint32_t index = 0; index < curve->pointCount; ++index) {
        std::int64_t value = ClampedCurveValue(curve->points[index].value);
        if (value < 0) value = -value;
        if (value > largest) largest = value;
    }
    return largest * centsPerCurveUnit;
}

// ---------------------------------------------------------------------------
// Curves.

// Reads a curve at rising ticks of a note length ticks long: each point's
// tick is its position's share of the length, never before the point before it.
struct CurveCursor {
    const BendPoint *points;
    std::uint32_t count;
    std::uint32_t index;     // the point at or before the tick last read
    std::uint32_t indexTick;
    std::uint32_t length;
};

std::uint32_t RawPointTick(const CurveCursor &cursor, std::uint32_t index) {
    std::int64_t position = cursor.points[index].position;
    if (position < 0) position = 0;
    if (position > curveLastPosition) position = curveLastPosition;
    return static_cast<std::uint32_t>(position * cursor.length / curveLastPosition);
}

CurveCursor StartCurve(const Bend *curve, std::uint32_t length) {
    CurveCursor cursor = {nullptr, 0, 0, 0, length};
    if (curve == nullptr || curve->pointCount == 0 || curve->points == nullptr) return cursor;
    cursor.points = curve->points;
    cursor.count = curve->pointCount;
    cursor.indexTick = RawPointTick(cursor, 0);
    return cursor;
}

std::uint32_t NextPointTick(const CurveCursor &cursor) {
    if (cursor.index + 1 >= cursor.count) return 0xFFFFFFFFu;
    const std::uint32_t tick = RawPointTick(cursor, cursor.index + 1);
    return tick < cursor.indexTick ? cursor.indexTick : tick;
}

// The curve's value in cents at tick (ticks read in rising order).
std::int64_t ReadCurve(CurveCursor *cursor, std::uint32_t tick) {
    if (cursor->count == 0) return 0;
    for (std::uint32_t next = NextPointTick(*cursor); next <= tick; next = NextPointTick(*cursor)) {
        ++cursor->index;
        cursor->indexTick = next;
    }
    const std::int64_t from = ClampedCurveValue(cursor->points[cursor->index].value);
    const std::uint32_t nextTick = NextPointTick(*cursor);
    if (tick <= cursor->indexTick || nextTick == 0xFFFFFFFFu) return from * centsPerCurveUnit;
    const std::int64_t to = ClampedCurveValue(cursor->points[cursor->index + 1].value);
    const std::int64_t into = tick - cursor->indexTick;
    const std::int64_t span = nextTick - cursor->indexTick;
    return (from * span + (to - from) * into) * centsPerCurveUnit / span;
}

// Cents at tick of a straight move of cents over [from, to) (0 before, cents after).
std::int64_t Ramp(std::int64_t cents, std::uint32_t tick, std::uint32_t from, std::uint32_t to) {
    if (tick <= from) return 0;
    if (tick >= to) return cents;
    return cents * static_cast<std::int64_t>(tick - from) / static_cast<std::int64_t>(to - from);
}

std::uint32_t SmallerOf(std::uint32_t first, std::uint32_t second) { return first < second ? first : second; }

// The stretches of a note length ticks long over which a slide glides: in
// from its start over inLength, or out over [outStart, outEnd). Glides out
// end one wheel step before the note does, so that their last value is heard.
struct SlideSpans {
    std::uint32_t inLength;
    std::uint32_t outStart;
    std::uint32_t outEnd;
};

SlideSpans GetSlideSpans(std::uint32_t length, std::uint32_t wheelStep, std::uint8_t pulsesPerSixtyFourth) {
    const std::uint32_t inLength = SmallerOf(slideInSixtyFourths * pulsesPerSixtyFourth, length / 2);
    const std::uint32_t outLength = SmallerOf(slideOutSixtyFourths * pulsesPerSixtyFourth, length / 2);
    const std::uint32_t outEnd = length > 2 * wheelStep ? length - wheelStep : length;
    return {inLength, outEnd > outLength ? outEnd - outLength : 0, outEnd};
}

// Where the slide moves the wheel, [*movesFrom, *holdsFrom); elsewhere it holds still.
void GetSlideSpan(std::int8_t slide, std::uint32_t length, std::uint32_t wheelStep,
                  std::uint8_t pulsesPerSixtyFourth, std::uint32_t *movesFrom, std::uint32_t *holdsFrom) {
    const SlideSpans spans = GetSlideSpans(length, wheelStep, pulsesPerSixtyFourth);
    if (slide == slideInFromBelow || slide == slideInFromAbove) {
        *movesFrom = 0;
        *holdsFrom = spans.inLength;
    } else if (slide != 0) {
        *movesFrom = spans.outStart;
        *holdsFrom = spans.outEnd;
    }
}

// The slide's offset in cents at tick of a note length ticks long.
std::int64_t ReadSlide(std::int8_t slide, std::int32_t target, std::uint32_t tick, std::uint32_t length,
                       std::uint32_t wheelStep, std::uint8_t pulsesPerSixtyFourth) {
    if (slide == 0) return 0;
    const SlideSpans spans = GetSlideSpans(length, wheelStep, pulsesPerSixtyFourth);
    const std::uint32_t inLength = spans.inLength;
    const std::uint32_t outStart = spans.outStart;
    const std::uint32_t outEnd = spans.outEnd;
    switch (slide) {
        case slideShift:
        case slideLegato:
            return Ramp(std::int64_t{target} * 100, tick, outStart, outEnd);
        case slideOutDown: return Ramp(-slideOutCents, tick, outStart, outEnd);
        case slideOutUp: return Ramp(slideOutCents, tick, outStart, outEnd);
        case slideInFromBelow: return -slideInCents + Ramp(slideInCents, tick, 0, inLength);
        case slideInFromAbove: return slideInCents - Ramp(slideInCents, tick, 0, inLength);
        default: return 0;
    }
}

std::int64_t ReadVibrato(std::int64_t cents, std::uint32_t tick, std::uint32_t period) {
    if (cents == 0 || period == 0) return 0;
    const std::uint64_t phase = std::uint64_t{tick % period} * 16;
    const std::uint64_t step = phase / period;
    const std::int64_t into = static_cast<std::int64_t>(phase % period);
    const std::int64_t shape = vibratoShape[step] * static_cast<std::int64_t>(period) +
                               (vibratoShape[step + 1] - vibratoShape[step]) * into;
    return cents * shape / (1000 * static_cast<std::int64_t>(period));
}

std::uint16_t ToWheel(std::int64_t cents, std::uint8_t range) {
    const std::int64_t full = std::int64_t{range} * 100;
    std::int64_t wheel;
    if (cents >= 0) {
        wheel = wheelCentre + (cents * 0x1FFF * 2 + full) / (2 * full);
    } else {
        wheel = wheelCentre - (-cents * 0x2000 * 2 + full) / (2 * full);
    }
    if (wheel < 0) wheel = 0;
    if (wheel > 0x3FFF) wheel = 0x3FFF;
    return static_cast<std::uint16_t>(wheel);
}

// ---------------------------------------------------------------------------
// Lanes.

std::uint16_t PlannedValue(const PlayerEffects *effects, std::uint32_t laneIndex, std::uint16_t sent) {
    const EffectLane &lane = effects->lanes[laneIndex];
    return lane.count > lane.head ? lane.events[lane.count - 1].value : sent;
}

// Drops what the lane planned from tick on.
void CutLane(PlayerEffects *effects, std::uint32_t laneIndex, std::uint32_t tick) {
    EffectLane *lane = &effects->lanes[laneIndex];
    while (lane->count > lane->head && lane->events[lane->count - 1].tick >= tick) --lane->count;
    if (lane->count == lane->head) {
        lane->count = lane->head = 0;
        effects->waiting &= ~(1u << laneIndex);
    }
}

void Plan(PlayerEffects *effects, std::uint32_t laneIndex, std::uint32_t tick, std::uint16_t value) {
    EffectLane *lane = &effects->lanes[laneIndex];
    if (lane->count == lane->capacity) {
        if (lane->head > 0) {
            for (std::uint32_t index = lane->head; index < lane->count; ++index)
                lane->events[index - lane->head] = lane->events[index];
            lane->count -= lane->head;
            lane->head = 0;
        } else {
            void *events = lane->events;
            if (!MemGrowArray(&events, &lane->capacity, sizeof(EffectEvent), 32)) {
                effects->failed = true;
                return;
            }
            lane->events = static_cast<EffectEvent *>(events);
        }
    }
    lane->events[lane->count++] = {tick, value};
    effects->waiting |= 1u << laneIndex;
    if (tick < effects->nextTick) effects->nextTick = tick;
}

int SendLaneEvent(PlayerEffects *effects, std::uint32_t laneIndex, MidiTrackChunk *chunk, std::uint16_t value) {
    if (effects->eventCounter != nullptr) *effects->eventCounter += laneIndex <= WheelLaneEffects ? 1 : effects->channelCount;
    if (laneIndex <= WheelLaneEffects) {
        const std::uint8_t channel = effects->channels[laneIndex < effects->channelCount ? laneIndex : 0];
        effects->wheel[laneIndex] = value;
        return AddEventPitchWheel(chunk, channel, value);
    }
    const std::uint8_t controller =
        laneIndex == ExpressionLane ? expressionController : tableControllers[laneIndex - FirstControllerLane];
    if (laneIndex >= FirstControllerLane) effects->levels[laneIndex - FirstControllerLane] = static_cast<std::uint8_t>(value);
    for (std::uint32_t channel = 0; channel < effects->channelCount; ++channel) {
        if (!AddEventController(chunk, effects->channels[channel], static_cast<MidiController>(controller),
                                static_cast<std::uint8_t>(value)))
            return 0;
    }
    return 1;
}

// A controller's steps from its planned value to target over steps beats from tick.
void PlanControllerSteps(PlayerEffects *effects, std::uint32_t controller, std::uint32_t tick, std::uint32_t beatPulses,
                         std::uint8_t target, std::uint32_t steps) {
    const std::uint32_t laneIndex = FirstControllerLane + controller;
    CutLane(effects, laneIndex, tick);
    const std::int64_t from = PlannedValue(effects, laneIndex, effects->levels[controller]);
    for (std::uint32_t step = 1; step <= steps; ++step) {
        const std::int64_t value = from + (std::int64_t{target} - from) * step / steps;
        Plan(effects, laneIndex, tick + (step - 1) * beatPulses, static_cast<std::uint16_t>(value));
    }
}

void MixValues(const MixTableEvent &mix, std::uint8_t values[6], std::uint8_t durations[6]) {
    const std::uint8_t tableValues[6] = {mix.volume, mix.balance, mix.chorus, mix.reverb, mix.phaser, mix.tremolo};
    const std::uint8_t tableDurations[6] = {mix.volumeDuration, mix.balanceDuration, mix.chorusDuration,
                                            mix.reverbDuration, mix.phaserDuration,  mix.tremoloDuration};
    for (std::uint32_t index = 0; index < 6; ++index) {
        values[index] = tableValues[index];
        durations[index] = tableDurations[index];
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// Lanes.

void SendEffectsUntil(PlayerEffects *effects, MidiTrackChunk *chunk, std::uint32_t *lastTick, std::uint32_t tick) {
    for (;;) {
        std::uint32_t chosen = effectLaneCount;
        std::uint32_t chosenTick = 0;
        for (std::uint32_t bits = effects->waiting; bits != 0; bits &= bits - 1) {
            const std::uint32_t laneIndex = static_cast<std::uint32_t>(__builtin_ctz(bits));
            const EffectLane &lane = effects->lanes[laneIndex];
            if (lane.head == lane.count) continue;
            const std::uint32_t eventTick = lane.events[lane.head].tick;
            if (eventTick <= tick && (chosen == effectLaneCount || eventTick < chosenTick)) {
                chosen = laneIndex;
                chosenTick = eventTick;
            }
        }
        if (chosen == effectLaneCount) break;
        EffectLane &lane = effects->lanes[chosen];
        const std::uint16_t value = lane.events[lane.head].value;
        if (++lane.head == lane.count) {
            lane.head = lane.count = 0;
            effects->waiting &= ~(1u << chosen);
        }
        if (chosenTick < *lastTick) chosenTick = *lastTick;
        chunk->pendingDelta += chosenTick - *lastTick;
        *lastTick = chosenTick;
        if (!effects->failed && !SendLaneEvent(effects, chosen, chunk, value)) effects->failed = true;
    }
    effects->nextTick = 0xFFFFFFFFu;
    for (std::uint32_t bits = effects->waiting; bits != 0; bits &= bits - 1) {
        const EffectLane &lane = effects->lanes[__builtin_ctz(bits)];
        if (lane.events[lane.head].tick < effects->nextTick) effects->nextTick = lane.events[lane.head].tick;
    }
}

void ReleasePlayerEffects(PlayerEffects *effects) {
    for (EffectLane &lane : effects->lanes) {
        MemFree(lane.events);
        lane = {};
    }
    effects->waiting = 0;
}

// ---------------------------------------------------------------------------
// Set-up.

void AddPairPitchNeeds(const MeasureTrackPair &pair, PitchNeeds *needs, bool *sharedChanges) {
    if (pair.owners == 0) return;  // no beat of the pair carries an effect
    for (std::uint32_t beatIndex = 0; beatIndex < pair.beatCount; ++beatIndex) {
        if (beatIndex < 31 && (pair.owners & (1u << beatIndex)) == 0) continue;
        const Beat &beat = pair.beats[beatIndex];
        if ((beat.flags & BeatHasMixTable) && beat.mixTableEvent != nullptr && HasSharedChanges(*beat.mixTableEvent))
            *sharedChanges = true;
        const std::int64_t bar = GetLargestCurveCents(GetTremoloBar(beat));
        if (bar > needs->bar) needs->bar = static_cast<std::uint32_t>(bar);
        const std::uint8_t beatFlags = GetBeatEffectFlags(beat);
        if (beatFlags & BeatEffectWideVibrato) needs->vibrato = wideVibratoCents;
        if ((beatFlags & BeatEffectVibrato) && needs->vibrato < vibratoCents) needs->vibrato = vibratoCents;
        for (std::uint32_t string = 0; string < noteSlotCount; ++string) {
            if ((beat.stringFlags & (0x40u >> string)) == 0) continue;
            const Note &note = beat.notes[string];
            if ((note.flags & NoteHasEffects) == 0 || note.effect == nullptr) continue;
            const std::int64_t bend = GetLargestCurveCents(GetBend(note));
            if (bend > needs->bend) needs->bend = static_cast<std::uint32_t>(bend);
            if ((note.effect->flags2 & NoteEffectVibrato) && needs->vibrato < vibratoCents) needs->vibrato = vibratoCents;
            if (GetSlide(note) != 0) needs->slide = slideAnyCents;
        }
    }
}

std::uint32_t GetPitchCents(const PitchNeeds &needs) { return needs.bend + needs.bar + needs.vibrato + needs.slide; }

std::uint8_t GetBendRange(std::uint32_t cents) {
    const std::uint32_t semitones = (cents + 99) / 100;
    if (semitones < smallestBendRange) return smallestBendRange;
    if (semitones > largestBendRange) return largestBendRange;
    return static_cast<std::uint8_t>(semitones);
}

std::uint8_t GetPitchChannel(const TrackChannels &channels) {
    return channels.hasEffects ? channels.effects : channels.main;
}

void StartPlayerEffects(PlayerEffects *effects, const TrackChannels &channels, bool percussion, std::uint8_t range,
                        bool sharedWheel, const std::uint8_t initialLevels[6], std::uint64_t *eventCounter) {
    const std::uint32_t pitchCents = effects->pitchCents;
    effects->eventCounter = eventCounter;
    effects->nextTick = 0xFFFFFFFFu;
    effects->sends = channels.sends;
    effects->channels[0] = channels.main;
    effects->channels[1] = channels.effects;
    effects->channelCount = channels.hasEffects ? 2 : 1;
    effects->bends = channels.sends && !percussion && pitchCents > 0;
    effects->sharedWheel = channels.sends && !percussion && sharedWheel;
    effects->bendRange = range;
    effects->wheel[0] = effects->wheel[1] = wheelCentre;
    for (std::uint32_t index = 0; index < 6; ++index) effects->levels[index] = initialLevels[index];
}

int SendBendRange(const PlayerEffects *effects, MidiTrackChunk *chunk) {
    if (!effects->bends) return 1;
    const std::uint8_t channel = effects->channels[effects->channelCount - 1];
    // RPN 0 (pitch-bend sensitivity): semitones, no cents; then the null RPN.
    const std::uint8_t settings[6][2] = {{101, 0}, {100, 0}, {6, effects->bendRange}, {38, 0}, {101, 127}, {100, 127}};
    for (const auto &setting : settings)
        if (!AddEventController(chunk, channel, static_cast<MidiController>(setting[0]), setting[1])) return 0;
    return 1;
}

// ---------------------------------------------------------------------------
// Notes.

bool HasPitchEffects(const Note &note, const Beat &beat) {
    if (GetTremoloBar(beat) != nullptr) return true;
    if (GetBeatEffectFlags(beat) & (BeatEffectVibrato | BeatEffectWideVibrato)) return true;
    if ((note.flags & NoteHasEffects) == 0 || note.effect == nullptr) return false;
    return GetBend(note) != nullptr || GetSlide(note) != 0 || (note.effect->flags2 & NoteEffectVibrato) != 0;
}

void GetStrumDelays(const Beat &beat, std::uint32_t strings, std::uint32_t beatPulses,
                    std::uint8_t pulsesPerSixtyFourth, std::uint32_t delays[noteSlotCount]) {
    for (std::uint32_t string = 0; string < noteSlotCount; ++string) delays[string] = 0;
    if ((beat.flags & BeatHasEffects) == 0 || beat.beatEffect == nullptr) return;
    const BeatEffect &effect = *beat.beatEffect;
    std::uint8_t speed = 0;
    bool down = true;
    if ((effect.flags1 & BeatEffectStroke) && effect.strokeSpeeds[upStrokeByte] != 0) {
        speed = effect.strokeSpeeds[upStrokeByte];
        down = false;
    } else if ((effect.flags1 & BeatEffectStroke) && effect.strokeSpeeds[downStrokeByte] != 0) {
        speed = effect.strokeSpeeds[downStrokeByte];
    } else if (effect.flags2 & BeatEffectRasgueado) {
        speed = rasgueadoSpeed;
    }
    if (speed == 0) return;
    if (speed > 6) speed = 6;
    std::uint32_t spread = (std::uint32_t{pulsesPerSixtyFourth} << (speed - 1)) / 2;
    if (spread > beatPulses / 2) spread = beatPulses / 2;
    const std::uint32_t count = static_cast<std::uint32_t>(__builtin_popcount(strings & 0x7Fu));
    if (count < 2) return;
    // Slot 0 is the highest string: a down stroke starts from the last slot.
    std::uint32_t order = 0;
    for (std::uint32_t step = 0; step < noteSlotCount; ++step) {
        const std::uint32_t string = down ? noteSlotCount - 1 - step : step;
        if ((strings & (1u << string)) == 0) continue;
        delays[string] = spread * order / (count - 1);
        ++order;
    }
}

std::int32_t GetSlideTarget(const Note &note, std::uint32_t string, const Beat *nextBeat) {
    const std::int8_t slide = GetSlide(note);
    if ((slide != slideShift && slide != slideLegato) || nextBeat == nullptr || string >= noteSlotCount) return 0;
    if ((nextBeat->stringFlags & (0x40u >> string)) == 0 || IsBeatSilent(*nextBeat)) return 0;
    const Note &next = nextBeat->notes[string];
    if ((next.flags & NoteHasTypeAndFret) == 0) return 0;
    return static_cast<std::int32_t>(next.fret) - static_cast<std::int32_t>(note.fret);
}

namespace {

void PlanCurve(PlayerEffects *effects, std::uint32_t laneIndex, const Beat &beat, const PitchNote &pitch,
               std::uint8_t pulsesPerSixtyFourth) {
    const Note &note = *pitch.note;
    const std::uint32_t length = pitch.end > pitch.onset ? pitch.end - pitch.onset : 0;
    const std::uint32_t step = WheelStep(pulsesPerSixtyFourth);
    CurveCursor bend = StartCurve(GetBend(note), length);
    CurveCursor bar = StartCurve(GetTremoloBar(beat), length);
    const std::int8_t slide = GetSlide(note);
    const std::int64_t vibrato = GetVibratoCents(note, beat);
    const std::uint32_t vibratoPeriod =
        vibrato == wideVibratoCents ? 8u * pulsesPerSixtyFourth : 16u * pulsesPerSixtyFourth / 3u;
    // Where a slide alone moves the wheel: from slideMovesFrom to slideHoldsFrom.
    const bool onlySlide = bend.count == 0 && bar.count == 0 && vibrato == 0;
    std::uint32_t slideMovesFrom = 0;
    std::uint32_t slideHoldsFrom = length;
    GetSlideSpan(slide, length, step, pulsesPerSixtyFourth, &slideMovesFrom, &slideHoldsFrom);
    CutLane(effects, laneIndex, pitch.onset);
    std::uint16_t planned = PlannedValue(effects, laneIndex, effects->wheel[laneIndex]);
    bool first = true;
    for (std::uint32_t tick = 0;;) {
        const std::int64_t cents = ReadCurve(&bend, tick) + ReadCurve(&bar, tick) +
                                   ReadSlide(slide, pitch.slideTarget, tick, length, step, pulsesPerSixtyFourth) +
                                   ReadVibrato(vibrato, tick, vibratoPeriod);
        const std::uint16_t wheel = ToWheel(cents, effects->bendRange);
        if (first || wheel != planned) Plan(effects, laneIndex, pitch.onset + tick, wheel);
        planned = wheel;
        first = false;
        if (tick >= length) break;
        std::uint32_t next = (tick / step + 1) * step;
        next = SmallerOf(next, NextPointTick(bend));
        next = SmallerOf(next, NextPointTick(bar));
        // A slide alone holds still outside its glide: no samples there.
        if (onlySlide && next < length) {
            if (next > slideHoldsFrom) {
                next = length;
            } else if (next < slideMovesFrom) {
                next = slideMovesFrom;
            }
        }
        tick = SmallerOf(next, length);  // the curve's end is its last sample
    }
    if (effects->sharedWheel && !pitch.tiedOn && planned != wheelCentre) Plan(effects, laneIndex, pitch.end, wheelCentre);
}

}  // namespace

bool IsWheelBusy(const PlayerEffects *effects) {
    // Notes that do not move their pitch play on the note channel, the main lane's.
    return PlannedValue(effects, WheelLaneMain, effects->wheel[WheelLaneMain]) != wheelCentre;
}

bool IsTiedOn(std::uint32_t string, const Beat *nextBeat) {
    if (nextBeat == nullptr || string >= noteSlotCount || (nextBeat->stringFlags & (0x40u >> string)) == 0) return false;
    const Note &next = nextBeat->notes[string];
    return (next.flags & NoteHasTypeAndFret) != 0 && next.noteType == 2;
}

void PlanPitch(PlayerEffects *effects, const Beat &beat, const PitchNote *notes, std::uint32_t count,
               std::uint8_t pulsesPerSixtyFourth) {
    if (!effects->bends) return;
    bool claimed[2] = {false, false};
    for (std::uint32_t index = 0; index < count; ++index) {
        const PitchNote &pitch = notes[index];
        if (!effects->bends || !HasPitchEffects(*pitch.note, beat)) continue;
        const std::uint32_t laneIndex = pitch.onEffects && effects->channelCount == 2 ? WheelLaneEffects : WheelLaneMain;
        if (claimed[laneIndex]) continue;
        claimed[laneIndex] = true;
        PlanCurve(effects, laneIndex, beat, pitch, pulsesPerSixtyFourth);
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        const PitchNote &pitch = notes[index];
        const std::uint32_t laneIndex = pitch.onEffects && effects->channelCount == 2 ? WheelLaneEffects : WheelLaneMain;
        if (claimed[laneIndex]) continue;
        claimed[laneIndex] = true;
        CutLane(effects, laneIndex, pitch.onset);
        if (PlannedValue(effects, laneIndex, effects->wheel[laneIndex]) != wheelCentre)
            Plan(effects, laneIndex, pitch.onset, wheelCentre);
    }
}

void PlanFadeIn(PlayerEffects *effects, const Beat &beat, std::uint32_t start, std::uint32_t end,
                std::uint8_t pulsesPerSixtyFourth) {
    if (!effects->sends || end <= start || (GetBeatEffectFlags(beat) & BeatEffectFadeIn) == 0) return;
    CutLane(effects, ExpressionLane, start);
    const std::uint32_t step = pulsesPerSixtyFourth == 0 ? 1 : pulsesPerSixtyFourth;
    const std::uint64_t length = end - start;
    for (std::uint32_t tick = start; tick < end; tick += step)
        Plan(effects, ExpressionLane, tick, static_cast<std::uint16_t>(fullExpression * (tick - start) / length));
    Plan(effects, ExpressionLane, end, fullExpression);
}

// ---------------------------------------------------------------------------
// Mix-table changes.

void PlanControllerTransitions(PlayerEffects *effects, const MixTableEvent &mix, std::uint32_t tick,
                               std::uint32_t beatPulses, std::uint8_t values[6]) {
    std::uint8_t changes[6];
    std::uint8_t durations[6];
    MixValues(mix, changes, durations);
    for (std::uint32_t controller = 0; controller < 6; ++controller) {
        if (changes[controller] == 0xFF) continue;
        const std::uint8_t target = GetVolumeValue(changes[controller]);
        if (durations[controller] > 1 && effects->sends) {
            PlanControllerSteps(effects, controller, tick, beatPulses, target, durations[controller]);
            values[controller] = 0xFF;
        } else {
            CutLane(effects, FirstControllerLane + controller, tick);
            effects->levels[controller] = target;
        }
    }
}

void PlanSharedControllerChanges(PlayerEffects *effects, const MixTableEvent &mix, std::uint32_t tick,
                                 std::uint32_t beatPulses) {
    if (!effects->sends) return;
    std::uint8_t changes[6];
    std::uint8_t durations[6];
    MixValues(mix, changes, durations);
    for (std::uint32_t controller = 0; controller < 6; ++controller) {
        if (changes[controller] == 0xFF || (mix.applyToAllTracks & (1u << controller)) == 0) continue;
        const std::uint32_t steps = durations[controller] > 1 ? durations[controller] : 1;
        PlanControllerSteps(effects, controller, tick, beatPulses, GetVolumeValue(changes[controller]), steps);
    }
}

bool HasSharedChanges(const MixTableEvent &mix) {
    if ((mix.applyToAllTracks & 0x3F) == 0) return false;
    std::uint8_t changes[6];
    std::uint8_t durations[6];
    MixValues(mix, changes, durations);
    for (std::uint32_t controller = 0; controller < 6; ++controller)
        if (changes[controller] != 0xFF && (mix.applyToAllTracks & (1u << controller))) return true;
    return false;
}

bool StartTempoChange(SongEffects *song, const MixTableEvent &mix, std::uint32_t tick, std::uint32_t track) {
    const std::uint32_t target = static_cast<std::uint32_t>(mix.tempo);
    song->ramping = mix.tempoDuration > 1;
    if (song->ramping) {
        song->rampTrack = track;
        song->rampStart = tick;
        song->rampFrom = song->tempo;
        song->rampTo = target;
        song->rampSteps = mix.tempoDuration;
        song->rampNextStep = 1;
    }
    song->tempo = target;
    return song->ramping;
}

bool TakeTempoStep(SongEffects *song, std::uint32_t limit, std::uint32_t *tick, std::uint32_t *track,
                   std::uint32_t *tempo) {
    if (!song->ramping) return false;
    const std::uint64_t stepTick = std::uint64_t{song->rampStart} + std::uint64_t{song->rampNextStep - 1} * song->beatPulses;
    if (stepTick >= limit) return false;
    const std::int64_t from = song->rampFrom;
    const std::int64_t to = song->rampTo;
    *tick = static_cast<std::uint32_t>(stepTick);
    *track = song->rampTrack;
    *tempo = static_cast<std::uint32_t>(from + (to - from) * song->rampNextStep / song->rampSteps);
    if (++song->rampNextStep > song->rampSteps) song->ramping = false;
    return true;
}

// ---------------------------------------------------------------------------
// Bounds.

std::uint64_t GetBeatEffectsEventBound(const Beat &beat, std::uint64_t longest, std::uint8_t pulsesPerSixtyFourth,
                                       std::uint32_t trackCount) {
    std::uint64_t events = 0;
    const std::uint64_t step = WheelStep(pulsesPerSixtyFourth);
    const Bend *bar = GetTremoloBar(beat);
    const std::uint64_t barPoints = bar == nullptr ? 0 : bar->pointCount;
    for (std::uint32_t string = 0; string < noteSlotCount; ++string) {
        if ((beat.stringFlags & (0x40u >> string)) == 0) continue;
        const Note &note = beat.notes[string];
        events += 1;  // the wheel back at centre
        if (!HasPitchEffects(note, beat)) continue;
        const Bend *bend = GetBend(note);
        const std::uint64_t points = barPoints + (bend == nullptr ? 0 : bend->pointCount);
        const std::uint64_t samples = longest / step + 2 + points;
        events += samples < longest + 1 ? samples : longest + 1;
    }
    if (GetBeatEffectFlags(beat) & BeatEffectFadeIn)
        events += 2 * (longest / (pulsesPerSixtyFourth == 0 ? 1 : pulsesPerSixtyFourth) + 2);
    if ((beat.flags & BeatHasMixTable) && beat.mixTableEvent != nullptr) {
        const MixTableEvent &mix = *beat.mixTableEvent;
        std::uint8_t changes[6];
        std::uint8_t durations[6];
        MixValues(mix, changes, durations);
        for (std::uint32_t controller = 0; controller < 6; ++controller) {
            if (changes[controller] == 0xFF) continue;
            const std::uint64_t steps = durations[controller] > 1 ? durations[controller] : 1;
            const std::uint64_t reach = (mix.applyToAllTracks & (1u << controller)) ? trackCount : 1;
            events += 2 * steps * reach;
        }
        if (mix.tempo >= 0) events += std::uint64_t{mix.tempoDuration} + 1;
    }
    return events;
}

}  // namespace Talvoren
