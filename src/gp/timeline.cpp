// timeline.cpp - the playing order with alternative endings honoured, the
// time signature in force in file order, and the positions of a measure's
// beats (timeline.h).
#include "gp/timeline.h"

#include <cstring>

#include "gp/convert.h"
#include "heap.h"

namespace Talvoren {

// ---------------------------------------------------------------------------
// Playing order.

namespace {

// The passes each alternative ending takes: its number N, as stored, takes
// the passes up to N that the endings before it in its section left. The
// passes taken so far are always 1 to some last one, so each ending takes
// the passes after that one, up to its number.
void FillEndingPasses(const Measure *measures, std::uint32_t measureCount, EndingPasses *endings) {
    std::uint32_t taken = 0;  // passes 1 to taken belong to earlier endings of the section
    for (std::uint32_t index = 0; index < measureCount; ++index) {
        const Measure &measure = measures[index];
        if (measure.flags & MeasureBeginRepeat) taken = 0;
        if ((measure.flags & MeasureAltEnding) == 0) continue;
        const std::uint32_t number = measure.altEndingCount;
        endings[index] = {static_cast<std::uint16_t>(taken + 1), static_cast<std::uint16_t>(number)};
        if (number > taken) taken = number;
    }
}

void FillSignatures(const Measure *measures, std::uint32_t measureCount, TimeSignature *signatures) {
    TimeSignature inForce = {0, 0};
    for (std::uint32_t index = 0; index < measureCount; ++index) {
        if (measures[index].flags & MeasureHasNumerator) inForce.numerator = measures[index].keyNumerator;
        if (measures[index].flags & MeasureHasDenominator) inForce.denominator = measures[index].keyDenominator;
        signatures[index] = inForce;
    }
}

// Whether an alternative ending plays on this pass: when it takes the pass;
// else not when it has played already or a later pass that it takes can
// still come (its section's close still jumps back over it). An ending that
// takes no pass that comes plays, so that every measure plays once.
bool PlaysEndingNow(const PlayingOrder *order, std::uint32_t measureIndex) {
    const EndingPasses ending = order->endings[measureIndex];
    const std::uint32_t pass = order->pass;
    if (ending.firstPass <= pass && pass <= ending.lastPass) return true;
    if (order->played[measureIndex]) return false;
    const std::uint32_t close = order->closing[measureIndex];
    if (close == order->measureCount) return true;
    if (order->opening[close] > measureIndex) return true;  // the close ends a later section
    const Measure &closing = order->file->body.measures[close];
    const std::uint32_t jumpsLeft =
        closing.repeatCount > order->jumps[close] ? closing.repeatCount - order->jumps[close] : 0;
    const bool takesLaterPass =
        ending.firstPass <= ending.lastPass && ending.lastPass > pass && ending.firstPass <= pass + jumpsLeft;
    return !takesLaterPass;
}

}  // namespace

bool InitPlayingOrder(PlayingOrder *order, const FileStruct *file) {
    *order = {};
    const std::uint64_t measureCount = file->headers.pieceInfo.measureCount;
    const std::uint64_t bytes =
        measureCount * (sizeof(TimeSignature) + sizeof(EndingPasses) + 2 * sizeof(std::uint32_t) + 2) + 1;
    if (bytes > 0x7FFFFFFF) return false;
    order->block = MemCalloc(1, static_cast<std::size_t>(bytes));
    if (order->block == nullptr) return false;
    order->file = file;
    order->measureCount = static_cast<std::uint32_t>(measureCount);
    // The widest fields first, so that each array keeps its alignment.
    auto *bytesAt = static_cast<unsigned char *>(order->block);
    order->closing = reinterpret_cast<std::uint32_t *>(bytesAt);
    bytesAt += measureCount * sizeof(std::uint32_t);
    order->opening = reinterpret_cast<std::uint32_t *>(bytesAt);
    bytesAt += measureCount * sizeof(std::uint32_t);
    order->endings = reinterpret_cast<EndingPasses *>(bytesAt);
    bytesAt += measureCount * sizeof(EndingPasses);
    order->signatures = reinterpret_cast<TimeSignature *>(bytesAt);
    bytesAt += measureCount * sizeof(TimeSignature);
    order->jumps = bytesAt;
    order->played = bytesAt + measureCount;

    const Measure *measures = file->body.measures;
    const std::uint32_t count = order->measureCount;
    std::uint32_t close = count;
    for (std::uint32_t index = count; index-- > 0;) {
        if (measures[index].flags & MeasureEndRepeat) close = index;
        order->closing[index] = close;
    }
    std::uint32_t open = 0;
    for (std::uint32_t index = 0; index < count; ++index) {
        if (measures[index].flags & MeasureBeginRepeat) open = index;
        order->opening[index] = open;
    }
    FillEndingPasses(measures, count, order->endings);
    FillSignatures(measures, count, order->signatures);
    RestartPlayingOrder(order);
    return true;
}

void FreePlayingOrder(PlayingOrder *order) {
    MemFree(order->block);
    *order = {};
}

void RestartPlayingOrder(PlayingOrder *order) {
    std::memset(order->jumps, 0, order->measureCount);
    std::memset(order->played, 0, order->measureCount);
    order->pass = 1;
    order->next = 0;
    order->skipping = false;
    order->arrivedByJump = false;
}

std::uint32_t NextPlayedMeasure(PlayingOrder *order) {
    const Measure *measures = order->file->body.measures;
    while (order->next < order->measureCount) {
        const std::uint32_t index = order->next;
        const Measure &measure = measures[index];
        if ((measure.flags & MeasureBeginRepeat) && !order->arrivedByJump) {
            order->pass = 1;
            order->skipping = false;
        }
        order->arrivedByJump = false;
        if (measure.flags & MeasureAltEnding) order->skipping = !PlaysEndingNow(order, index);
        order->next = index + 1;
        if (order->skipping) {
            // A skipped ending runs to its section's close.
            if (measure.flags & MeasureEndRepeat) order->skipping = false;
            continue;
        }
        order->played[index] = 1;
        if ((measure.flags & MeasureEndRepeat) && order->jumps[index] < measure.repeatCount) {
            ++order->jumps[index];
            ++order->pass;
            order->next = order->opening[index];
            order->arrivedByJump = true;
        }
        return index;
    }
    return order->measureCount;
}

std::uint32_t GetPlayedMeasurePulses(const PlayingOrder *order, std::uint32_t measureIndex,
                                     std::uint8_t pulsesPerSixtyFourth) {
    const TimeSignature signature = order->signatures[measureIndex];
    const Measure *measure = &order->file->body.measures[measureIndex];
    return GetMeasurePulseCount(measure, pulsesPerSixtyFourth, signature.numerator, signature.denominator);
}

// ---------------------------------------------------------------------------
// Where the beats lie.

namespace {

// n notes of a tuplet take the time of the greatest power of two below n;
// other counts are not scaled.
std::uint64_t TupletUnits(std::uint64_t units, std::int32_t tuplet) {
    const std::uint32_t normal = TupletNormalNotes(tuplet);
    return normal == 0 ? units : units * normal / static_cast<std::uint64_t>(tuplet);
}

// A length or a place in time: whole pulses and units beyond them.
struct Span {
    std::uint32_t pulses;
    std::uint32_t fraction;  // below unitsPerPulse
};

Span SpanOfUnits(std::uint64_t units) {
    return {static_cast<std::uint32_t>(units / unitsPerPulse), static_cast<std::uint32_t>(units % unitsPerPulse)};
}

Span Sum(Span first, Span second) {
    Span sum = {first.pulses + second.pulses, first.fraction + second.fraction};
    if (sum.fraction >= unitsPerPulse) {
        sum.fraction -= static_cast<std::uint32_t>(unitsPerPulse);
        ++sum.pulses;
    }
    return sum;
}

// The nearest pulse, a half rounded up.
std::uint32_t Rounded(Span span) { return span.pulses + (span.fraction >= unitsPerPulse / 2 ? 1u : 0u); }

// The beat's length from its note value, dot and tuplet: whole pulses unless
// a tuplet (or a dotted sixty-fourth at an odd grain) leaves units over.
Span GetBeatLength(const Beat &beat, std::uint8_t pulsesPerSixtyFourth) {
    // Duration codes outside whole (-2) to sixty-fourth (4) are timed as the nearest.
    const std::int32_t code = beat.duration < -2 ? -2 : (beat.duration > 4 ? 4 : beat.duration);
    Span length = {static_cast<std::uint32_t>(pulsesPerSixtyFourth) << (4 - code), 0};
    if (beat.flags & BeatDotted) {
        length.fraction = (length.pulses & 1) ? static_cast<std::uint32_t>(unitsPerPulse / 2) : 0;
        length.pulses += length.pulses / 2;
    }
    if (beat.flags & BeatHasTuplet)
        length = SpanOfUnits(TupletUnits(std::uint64_t{length.pulses} * unitsPerPulse + length.fraction, beat.tuplet));
    return length;
}

}  // namespace

BeatClock StartBeatClock(const FileStruct *file, std::uint8_t pulsesPerSixtyFourth, std::uint32_t pulseCount) {
    BeatClock clock = {};
    clock.lastStart = 2 * pulseCount;
    clock.pulsesPerSixtyFourth = pulsesPerSixtyFourth;
    clock.swung = file->headers.tabInfo.tripletFeel == 1;
    return clock;
}

bool NextBeatSpanExactly(BeatClock *clock, const Beat &beat, std::uint32_t *start, std::uint32_t *end) {
    if (clock->pulse >= clock->lastStart) return false;
    const Span position = {clock->pulse, clock->fraction};
    const Span length = GetBeatLength(beat, clock->pulsesPerSixtyFourth);
    Span onset = position;
    Span sounding = length;
    // The triplet feel plays a plain eighth on a quarter two thirds of the
    // quarter long, and one half-way through a quarter from two thirds of it
    // to its end.
    if (clock->swung && beat.duration == 1 && (beat.flags & (BeatDotted | BeatHasTuplet)) == 0 &&
        position.fraction == 0) {
        const std::uint32_t quarter = 16u * clock->pulsesPerSixtyFourth;
        const std::uint64_t quarterUnits = std::uint64_t{quarter} * unitsPerPulse;
        const std::uint32_t intoQuarter = quarter == 0 ? 0 : position.pulses % quarter;
        if (intoQuarter == 0) {
            sounding = SpanOfUnits(quarterUnits * 2 / 3);
        } else if (intoQuarter == quarter / 2) {
            onset = Sum(position, SpanOfUnits(quarterUnits / 6));
            sounding = SpanOfUnits(quarterUnits / 3);
        }
    }
    *start = Rounded(onset);
    *end = Rounded(Sum(onset, sounding));
    const Span next = Sum(position, length);
    clock->pulse = next.pulses;
    clock->fraction = next.fraction;
    return true;
}

}  // namespace Talvoren
