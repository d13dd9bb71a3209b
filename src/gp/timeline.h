// timeline.h - the song's time as a performance reads it: the measures in
// playing order with repeats expanded and alternative endings honoured, the
// time signature in force at each measure in file order, and where each beat
// of a measure lies (exact tuplet positions, the triplet feel played 2 : 1,
// beats past the bar line kept). The performed rendering walks it; tables of
// the song and other exports can walk the same one.
#ifndef TALVOREN_GP_TIMELINE_H
#define TALVOREN_GP_TIMELINE_H

#include <cstdint>

#include "gp/song.h"

namespace Talvoren {

// --- The time signature in force ----------------------------------------------

struct TimeSignature {
    std::uint8_t numerator;    // 0 before the first stored numerator
    std::uint8_t denominator;  // 0 before the first stored denominator
};

inline bool IsSameSignature(TimeSignature first, TimeSignature second) {
    return first.numerator == second.numerator && first.denominator == second.denominator;
}

// --- Playing order -------------------------------------------------------------

// The passes of a repeated section that an alternative ending takes:
// firstPass to lastPass, none when firstPass > lastPass. An ending numbered N
// takes the passes up to N that no earlier ending of its section (since the
// section's begin of repeat) has taken.
struct EndingPasses {
    std::uint16_t firstPass;
    std::uint16_t lastPass;
};

// The walk over the measures. Its working memory is one block of its own, so
// the song is only read; it walks again from the start after RestartPlayingOrder.
struct PlayingOrder {
    const FileStruct *file;
    std::uint32_t measureCount;
    void *block;
    // Per measure, fixed by the file:
    TimeSignature *signatures;  // in force, in file order
    EndingPasses *endings;      // of the measures with the alternative-ending flag
    std::uint32_t *closing;     // the nearest end of repeat at or after it, or measureCount
    std::uint32_t *opening;     // the nearest begin of repeat at or before it, or 0
    // Per measure, the walk's state:
    std::uint8_t *jumps;   // jumps back already made from its end of repeat
    std::uint8_t *played;  // played at least once
    std::uint32_t pass;    // 1-based pass through the section being repeated
    std::uint32_t next;    // the measure to consider next
    bool skipping;         // inside an alternative ending that this pass does not play
    bool arrivedByJump;
};

// Fills the order for the song (measureCount measures, their headers read);
// false, with nothing held, when its memory cannot be had.
bool InitPlayingOrder(PlayingOrder *order, const FileStruct *file);
// Releases its memory; safe on a cleared or freed order.
void FreePlayingOrder(PlayingOrder *order);
// Starts the walk again from the first measure.
void RestartPlayingOrder(PlayingOrder *order);
// The next measure that plays, or measureCount at the end. Every measure
// plays at least once and every walk ends: each jump back spends one of its
// end of repeat's passes, and between jumps the walk only moves forward.
std::uint32_t NextPlayedMeasure(PlayingOrder *order);
// The time signature of the measure: the last numerator and denominator
// stored at or before it in file order, whatever measure was played before.
inline TimeSignature GetSignatureInForce(const PlayingOrder *order, std::uint32_t measureIndex) {
    return order->signatures[measureIndex];
}
// The measure's length in pulses in the signature in force.
std::uint32_t GetPlayedMeasurePulses(const PlayingOrder *order, std::uint32_t measureIndex,
                                     std::uint8_t pulsesPerSixtyFourth);

// --- Where the beats of a measure lie ----------------------------------------

// Positions are kept exactly, in units of 1/180180 pulse (180180 divides by
// every tuplet's count and by the thirds and sixths of the triplet feel), and
// rounded to the nearest pulse once, so tuplets never drift.
constexpr std::uint64_t unitsPerPulse = 180180;

// Walks the beats of one track in one measure of pulseCount pulses. Each beat
// lasts its own length, the triplet feel included: beats run past the bar line
// when the measure is overfull, up to one measure's length past it.
struct BeatClock {
    std::uint32_t pulse;      // where the next beat starts, unswung: whole pulses
    std::uint32_t fraction;   // and units beyond them, below unitsPerPulse
    std::uint32_t lastStart;  // no beat starts at or after this pulse
    std::uint8_t pulsesPerSixtyFourth;
    bool swung;
};

BeatClock StartBeatClock(const FileStruct *file, std::uint8_t pulsesPerSixtyFourth, std::uint32_t pulseCount);
// The next beat's start and end in pulses from the measure's start; false,
// with the clock unchanged, when it does not play (it would start more than
// a measure past the bar line).
bool NextBeatSpanExactly(BeatClock *clock, const Beat &beat, std::uint32_t *start, std::uint32_t *end);
// The same, with the beats that most songs hold (no tuplet, no triplet feel,
// on a whole pulse) timed at once.
inline bool NextBeatSpan(BeatClock *clock, const Beat &beat, std::uint32_t *start, std::uint32_t *end) {
    if (clock->fraction != 0 || clock->swung || (beat.flags & BeatHasTuplet) || clock->pulse >= clock->lastStart)
        return NextBeatSpanExactly(clock, beat, start, end);
    const std::int32_t code = beat.duration < -2 ? -2 : (beat.duration > 4 ? 4 : beat.duration);
    std::uint32_t length = static_cast<std::uint32_t>(clock->pulsesPerSixtyFourth) << (4 - code);
    if (beat.flags & BeatDotted) {
        if (length & 1) return NextBeatSpanExactly(clock, beat, start, end);
        length += length / 2;
    }
    *start = clock->pulse;
    *end = clock->pulse + length;
    clock->pulse = *end;
    return true;
}

}  // namespace Talvoren

#endif  // TALVOREN_GP_TIMELINE_H
