// convert_timing_test.cpp - measure and beat lengths in pulses, the playing
// order of the measures with repeats, and the render limits' walk.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "gp/convert.cpp"
#include "mid/midi.cpp"
#include "convert_checks.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using ConvertChecks::AllPassCountersZero;
using ConvertChecks::LoadedSong;
using Talvoren::Beat;
using Talvoren::FileStruct;
using Talvoren::Measure;
using Talvoren::MeasureTrackPair;

Measure MeasureOf(std::uint8_t flags, std::uint8_t numerator, std::uint8_t denominator) {
    Measure measure = {};
    measure.flags = flags;
    measure.keyNumerator = numerator;
    measure.keyDenominator = denominator;
    return measure;
}

Measure TimeSignature(std::uint8_t numerator, std::uint8_t denominator) {
    return MeasureOf(Talvoren::MeasureHasNumerator | Talvoren::MeasureHasDenominator, numerator, denominator);
}

// ---------------------------------------------------------------------------
// Measures.

TEST(MeasureTiming, LengthsOfCommonTimeSignatures) {
    const struct {
        std::uint8_t numerator, denominator;
        std::uint32_t pulses;
    } cases[] = {{4, 4, 1920}, {3, 4, 1440}, {6, 8, 1440}, {7, 8, 1680}, {2, 2, 1920}, {5, 16, 600}, {0, 4, 0},
                 {255, 1, 30u * 255 * 64}, {1, 3, 30 * 21}};  // 64 / 3 sixty-fourths, truncated before scaling
    for (const auto &each : cases) {
        const Measure measure = TimeSignature(each.numerator, each.denominator);
        EXPECT_EQ(Talvoren::GetMeasurePulseCount(&measure, 30, 0, 0), each.pulses)
            << int(each.numerator) << "/" << int(each.denominator);
    }
}

TEST(MeasureTiming, ValuesNotCarriedComeFromTheRunningSignature) {
    const Measure numeratorOnly = MeasureOf(Talvoren::MeasureHasNumerator, 3, 9);
    EXPECT_EQ(Talvoren::GetMeasurePulseCount(&numeratorOnly, 30, 4, 4), 1440u);
    const Measure denominatorOnly = MeasureOf(Talvoren::MeasureHasDenominator, 9, 8);
    EXPECT_EQ(Talvoren::GetMeasurePulseCount(&denominatorOnly, 30, 3, 4), 720u);
    const Measure bare = MeasureOf(0, 9, 9);
    EXPECT_EQ(Talvoren::GetMeasurePulseCount(&bare, 30, 7, 8), 1680u);
}

TEST(MeasureTiming, DenominatorZeroCountsAsFour) {
    const Measure bare = MeasureOf(0, 0, 0);
    EXPECT_EQ(Talvoren::GetMeasurePulseCount(&bare, 30, 4, 0), 1920u);
    const Measure carriedZero = MeasureOf(Talvoren::MeasureHasNumerator | Talvoren::MeasureHasDenominator, 3, 0);
    EXPECT_EQ(Talvoren::GetMeasurePulseCount(&carriedZero, 30, 4, 4), 1440u);
}

TEST(MeasureTiming, TimeSignatureSwitches) {
    std::uint8_t numerator = 0, denominator = 0;
    const Measure common = TimeSignature(4, 4);
    EXPECT_TRUE(Talvoren::UpdateTimeSignature(&common, &numerator, &denominator));
    EXPECT_EQ(numerator, 4);
    EXPECT_EQ(denominator, 4);

    EXPECT_FALSE(Talvoren::UpdateTimeSignature(&common, &numerator, &denominator));
    const Measure bare = MeasureOf(0, 7, 8);  // values without their flags are not read
    EXPECT_FALSE(Talvoren::UpdateTimeSignature(&bare, &numerator, &denominator));
    EXPECT_EQ(numerator, 4);
    EXPECT_EQ(denominator, 4);

    const Measure denominatorOnly = MeasureOf(Talvoren::MeasureHasDenominator, 0, 8);
    EXPECT_TRUE(Talvoren::UpdateTimeSignature(&denominatorOnly, &numerator, &denominator));
    EXPECT_EQ(numerator, 4);
    EXPECT_EQ(denominator, 8);
}

// ---------------------------------------------------------------------------
// Beats, read from a loaded song: one measure, one track, the given beats.

gp4::Song SongOfBeats(const std::vector<gp4::Beat> &beats, std::uint8_t tripletFeel = 0) {
    gp4::Song song;
    song.tripletFeel = tripletFeel;
    song.measures = {gp4::TimeSignature(4, 4)};
    song.tracks = {gp4::Track()};
    song.beats = {{beats}};
    return song;
}

gp4::Beat BeatOf(std::int8_t duration, std::uint8_t flags = 0, std::int32_t tuplet = 0) {
    gp4::Beat beat = gp4::RestBeat(duration);
    beat.flags = static_cast<std::uint8_t>(beat.flags | flags);
    beat.tuplet = tuplet;
    return beat;
}

std::vector<std::uint32_t> BeatLengths(const FileStruct &file) {
    std::vector<std::uint32_t> lengths;
    const MeasureTrackPair &pair = file.body.measureTrackPairs[0][0];
    for (std::uint32_t beat = 0; beat < pair.beatCount; ++beat)
        lengths.push_back(Talvoren::GetBeatPulseCount(&file, 0, 0, beat, 30));
    return lengths;
}

TEST(BeatTiming, NoteValuesDotsAndTuplets) {
    const std::uint8_t dot = Talvoren::BeatDotted;
    const std::uint8_t tuplet = Talvoren::BeatHasTuplet;
    const struct {
        std::int8_t duration;
        std::uint8_t flags;
        std::int32_t tuplet;
        std::uint32_t pulses;
    } cases[] = {
        {-2, 0, 0, 1920}, {-1, 0, 0, 960}, {0, 0, 0, 480}, {1, 0, 0, 240}, {2, 0, 0, 120}, {3, 0, 0, 60},
        {4, 0, 0, 30},
        // Codes outside the range are timed as the nearest code.
        {-3, 0, 0, 1920}, {-128, dot, 0, 2880}, {5, 0, 0, 30}, {127, 0, 0, 30},
        {4, dot, 0, 45}, {0, tuplet, 7, 274}, {1, tuplet | dot, 3, 240},  // the dot comes first
        {1, tuplet, 3, 160}, {1, tuplet, 5, 192}, {1, tuplet, 6, 160}, {1, tuplet, 9, 213}, {1, tuplet, 10, 192},
        {1, tuplet, 11, 174}, {1, tuplet, 12, 160}, {1, tuplet, 13, 147},
        {1, tuplet, 0, 240}, {1, tuplet, 2, 240}, {1, tuplet, 4, 240}, {1, tuplet, 8, 240}, {1, tuplet, 14, 240},
        {1, tuplet, -3, 240}, {1, tuplet, 0x7FFFFFFF, 240},
        {1, 0, 0, 240},  // a tuplet value without the flag: its field is set below
    };
    std::vector<gp4::Beat> beats;
    std::vector<std::uint32_t> expected;
    for (const auto &each : cases) {
        beats.push_back(BeatOf(each.duration, each.flags, each.tuplet));
        expected.push_back(each.pulses);
    }
    LoadedSong song(SongOfBeats(beats));
    song.file.body.measureTrackPairs[0][0].beats[beats.size() - 1].tuplet = 3;
    EXPECT_EQ(BeatLengths(song.file), expected);
}

TEST(BeatTiming, TripletFeel) {
    const std::uint8_t dot = Talvoren::BeatDotted;
    const struct {
        std::uint8_t feel;
        std::vector<gp4::Beat> beats;
        std::vector<std::uint32_t> pulses;
    } cases[] = {
        // Eighth, eighth, quarter, eighth, eighth start at 0, 8, 16, 32 and 40.
        {1, {BeatOf(1), BeatOf(1), BeatOf(0), BeatOf(1), BeatOf(1)}, {360, 120, 480, 360, 120}},
        {0, {BeatOf(1), BeatOf(1)}, {240, 240}},
        {2, {BeatOf(1), BeatOf(1)}, {240, 240}},
        {255, {BeatOf(1), BeatOf(1)}, {240, 240}},
        // After a dotted quarter the eighth counts as starting at 16: lengthened.
        {1, {BeatOf(0, dot), BeatOf(1)}, {720, 360}},
        // After a sixteenth it starts at 4, on no eighth: unchanged.
        {1, {BeatOf(2), BeatOf(1), BeatOf(1)}, {120, 240, 240}},
        // Dotted and tuplet eighths and other values are left alone.
        {1, {BeatOf(1, dot), BeatOf(1, Talvoren::BeatHasTuplet, 3), BeatOf(2), BeatOf(0), BeatOf(-1)},
         {360, 160, 120, 480, 960}},
    };
    for (const auto &each : cases) {
        LoadedSong song(SongOfBeats(each.beats, each.feel));
        EXPECT_EQ(BeatLengths(song.file), each.pulses) << "triplet feel " << int(each.feel);
    }
}

TEST(BeatTiming, Alignment) {
    LoadedSong song(SongOfBeats({BeatOf(2), BeatOf(2), BeatOf(1), BeatOf(0)}));  // at 0, 4, 8, 16
    const MeasureTrackPair *pair = &song.file.body.measureTrackPairs[0][0];
    EXPECT_TRUE(Talvoren::IsBeatAligned(pair, 0, Talvoren::Quarter));
    EXPECT_FALSE(Talvoren::IsBeatAligned(pair, 1, Talvoren::Eighth));
    EXPECT_TRUE(Talvoren::IsBeatAligned(pair, 2, Talvoren::Eighth));
    EXPECT_FALSE(Talvoren::IsBeatAligned(pair, 2, Talvoren::Quarter));
    // Only the low 8 bits of the note value count; 0 is met at position 0 only.
    EXPECT_TRUE(Talvoren::IsBeatAligned(pair, 3, static_cast<Talvoren::NoteValue>(0x110)));
    EXPECT_TRUE(Talvoren::IsBeatAligned(pair, 0, static_cast<Talvoren::NoteValue>(0)));
    EXPECT_FALSE(Talvoren::IsBeatAligned(pair, 2, static_cast<Talvoren::NoteValue>(0x100)));
}

// ---------------------------------------------------------------------------
// Playback order, on a song record holding only measure headers.

struct MeasureSong {
    std::vector<Measure> measures;
    FileStruct file = {};

    explicit MeasureSong(std::vector<Measure> headers) : measures(std::move(headers)) {
        file.headers.pieceInfo.measureCount = static_cast<std::uint32_t>(measures.size());
        file.body.measures = measures.empty() ? nullptr : measures.data();
    }
};

Measure Plain() { return Measure{}; }
Measure BeginRepeat() { return MeasureOf(Talvoren::MeasureBeginRepeat, 0, 0); }
Measure EndRepeat(std::uint8_t repeatCount, std::uint8_t more = 0) {
    Measure measure = MeasureOf(static_cast<std::uint8_t>(Talvoren::MeasureEndRepeat | more), 0, 0);
    measure.repeatCount = repeatCount;
    return measure;
}

std::vector<std::uint32_t> PlayingOrder(MeasureSong &song) {
    std::vector<std::uint32_t> order;
    std::uint32_t index = Talvoren::GetFirstMeasureIdx(&song.file);
    while (index < song.file.headers.pieceInfo.measureCount) {
        order.push_back(index);
        if (order.size() > 10000) break;  // a walk that never ends
        index = Talvoren::GetNextMeasureIdx(&song.file, index);
    }
    order.push_back(index);  // the end mark, measureCount
    return order;
}

void ExpectOrder(std::vector<Measure> headers, const std::vector<std::uint32_t> &expected) {
    MeasureSong song(std::move(headers));
    EXPECT_EQ(PlayingOrder(song), expected);
    EXPECT_TRUE(AllPassCountersZero(song.file));
    EXPECT_EQ(PlayingOrder(song), expected) << "a second walk differs";
}

TEST(PlaybackOrder, SectionPlayedThreeTimes) {
    ExpectOrder({Plain(), BeginRepeat(), Plain(), EndRepeat(2), Plain()}, {0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 4, 5});
}

TEST(PlaybackOrder, RepeatCountZeroIsPlayedOnce) {
    ExpectOrder({BeginRepeat(), EndRepeat(0), Plain()}, {0, 1, 2, 3});
}

TEST(PlaybackOrder, EndWithoutBeginGoesBackToTheStart) {
    ExpectOrder({Plain(), EndRepeat(1), Plain(), Plain()}, {0, 1, 0, 1, 2, 3, 4});
}

TEST(PlaybackOrder, MeasureWithBothMarksRepeatsItself) {
    Measure both = EndRepeat(1, Talvoren::MeasureBeginRepeat);
    ExpectOrder({Plain(), Plain(), both, Plain()}, {0, 1, 2, 2, 3, 4});
}

TEST(PlaybackOrder, NestedMarksAreNotPaired) {
    ExpectOrder({BeginRepeat(), BeginRepeat(), EndRepeat(1), EndRepeat(1)}, {0, 1, 2, 1, 2, 3, 1, 2, 3, 4});
}

TEST(PlaybackOrder, AlternativeEndingsArePlayedOnEveryPass) {
    Measure firstEnding = EndRepeat(1, Talvoren::MeasureAltEnding);
    Measure secondEnding = MeasureOf(Talvoren::MeasureAltEnding, 0, 0);
    ExpectOrder({BeginRepeat(), Plain(), firstEnding, secondEnding, Plain()}, {0, 1, 2, 0, 1, 2, 3, 4, 5});
}

TEST(PlaybackOrder, OneMeasureAndNoMeasures) {
    ExpectOrder({Plain()}, {0, 1});
    ExpectOrder({}, {0});
}

TEST(PlaybackOrder, LargestRepeatCountEnds) {
    MeasureSong song({EndRepeat(255, Talvoren::MeasureBeginRepeat)});
    const std::vector<std::uint32_t> order = PlayingOrder(song);
    EXPECT_EQ(order.size(), 257u);  // 256 passes and the end
    EXPECT_TRUE(AllPassCountersZero(song.file));
}

// ---------------------------------------------------------------------------
// Render limits: a walk that adds up the cost and stops at the first limit.

gp4::MeasureHeader Header(std::uint8_t flags, std::uint8_t numerator, std::uint8_t denominator,
                          std::uint8_t repeatCount = 0) {
    gp4::MeasureHeader header;
    header.flags = flags;
    header.numerator = numerator;
    header.denominator = denominator;
    header.repeatCount = repeatCount;
    return header;
}

constexpr std::uint8_t signatureBits = gp4::MeasureBits::Numerator | gp4::MeasureBits::Denominator;
constexpr std::uint8_t selfRepeatBits = gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::EndRepeat;

// Songs of `count` measures of 255/1 (489,600 ticks each at 30 pulses).
gp4::Song LongMeasures(std::size_t count, std::size_t trackCount) {
    gp4::Song song;
    song.measures.assign(count, Header(signatureBits, 255, 1));
    song.tracks.assign(trackCount, gp4::Track());
    return song;
}

bool WithinLimits(const gp4::Song &writerSong) {
    LoadedSong song(writerSong);
    const bool within = Talvoren::IsRenderWithinLimits(&song.file, 30);
    EXPECT_TRUE(AllPassCountersZero(song.file)) << "the walk left pass counters behind";
    return within;
}

TEST(RenderLimits, TicksFromStartToEnd) {
    // 548 measures are 268,300,800 ticks, within 0x0FFFFFFF; 549 are past it.
    EXPECT_TRUE(WithinLimits(LongMeasures(548, 0)));
    EXPECT_FALSE(WithinLimits(LongMeasures(549, 0)));
}

TEST(RenderLimits, LongSongsWithManyTracksAreNotRefused) {
    // The clock's cost follows the events, not ticks x tracks: the longest
    // song a file can time is refused for its ticks alone, with any tracks.
    EXPECT_TRUE(WithinLimits(LongMeasures(548, 7)));
    EXPECT_TRUE(WithinLimits(LongMeasures(548, 64)));
    EXPECT_FALSE(WithinLimits(LongMeasures(549, 64)));
}

TEST(RenderLimits, MeasuresPlayedTimesChunks) {
    // Empty measures (numerator 0) each playing themselves 256 times: with
    // 3 tracks, 16,384 of them are 2^24 measure visits exactly.
    gp4::Song song;
    song.tracks.assign(3, gp4::Track());
    song.measures.assign(16384, Header(selfRepeatBits | signatureBits, 0, 4, 255));
    EXPECT_TRUE(WithinLimits(song));
    song.measures.push_back(song.measures.back());
    EXPECT_FALSE(WithinLimits(song));
}

TEST(RenderLimits, EventBytes) {
    // One track whose only measure holds 8,000 sixty-fourths and plays 256
    // times: two million beats started are far past any real song.
    gp4::Song song;
    song.measures = {Header(selfRepeatBits | signatureBits, 255, 1, 255)};
    song.tracks = {gp4::Track()};
    song.beats = {{std::vector<gp4::Beat>(8000, gp4::NoteBeat(gp4::Duration::SixtyFourth, {{1, 0}}))}};
    EXPECT_FALSE(WithinLimits(song));
    song.measures[0].repeatCount = 3;
    EXPECT_TRUE(WithinLimits(song));
}

TEST(RenderLimits, RealSongsAreWithin) {
    EXPECT_TRUE(WithinLimits(gp4::MinimalSong()));
    EXPECT_TRUE(WithinLimits(gp4::FeatureRichSong(0)));
    EXPECT_TRUE(WithinLimits(gp4::FeatureRichSong(1)));
    // Ten minutes of 4/4 at 200 bpm, 500 measures on 24 tracks of eighths.
    gp4::Song song;
    song.measures.assign(500, Header(0, 0, 0));
    song.measures[0] = Header(signatureBits, 4, 4);
    song.tracks.assign(24, gp4::Track());
    const std::vector<gp4::Beat> eighths(8, gp4::NoteBeat(gp4::Duration::Eighth, {{1, 3}, {2, 5}, {3, 5}}));
    song.beats.assign(500, std::vector<std::vector<gp4::Beat>>(24, eighths));
    EXPECT_TRUE(WithinLimits(song));
}

TEST(RenderLimits, StoppedWalkResetsEveryCounter) {
    // Stacked repeats over long measures: the tick limit is passed in the
    // middle of the walk, with the counters of both ends above 0.
    gp4::Song song;
    song.measures = {Header(gp4::MeasureBits::BeginRepeat | signatureBits, 255, 1),
                     Header(gp4::MeasureBits::BeginRepeat, 0, 0),
                     Header(gp4::MeasureBits::EndRepeat, 0, 0, 1),
                     Header(gp4::MeasureBits::EndRepeat, 0, 0, 255)};
    LoadedSong loaded(song);
    EXPECT_FALSE(Talvoren::IsRenderWithinLimits(&loaded.file, 30));
    EXPECT_TRUE(AllPassCountersZero(loaded.file));
}

}  // namespace
