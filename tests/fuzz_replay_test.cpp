// fuzz_replay_test.cpp - hostile songs built in memory by the test-side
// writer, run through the fuzz target's checks: every prefix and every
// damaged byte of a song that uses every block, songs at the render limits,
// and the minimal reproducers of what fuzzing found.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gp4_writer.h"
#include "song_check.h"

namespace {

fuzzcheck::Outcome Check(const gp4::Bytes &bytes, const fuzzcheck::Limits &limits = fuzzcheck::Limits()) {
    return fuzzcheck::CheckSongBytes(bytes.data(), bytes.size(), limits);
}

// Limits wide enough that the export of every song here runs.
fuzzcheck::Limits Unlimited() {
    fuzzcheck::Limits limits;
    limits.largestInput = SIZE_MAX;
    limits.largestMeasureVisits = UINT64_MAX;
    limits.largestEventBytes = UINT64_MAX;
    return limits;
}

TEST(FuzzCheck, WholeSongsLoadAndExport) {
    for (int variant = 0; variant < 2; ++variant) {
        const fuzzcheck::Outcome outcome = Check(gp4::WriteSong(gp4::FeatureRichSong(variant)));
        EXPECT_EQ(outcome.failure, "") << "variant " << variant;
        EXPECT_TRUE(outcome.loaded);
        EXPECT_TRUE(outcome.exported);
        EXPECT_TRUE(outcome.midiBufferMade);
        EXPECT_TRUE(outcome.performedExported);
    }
}

// The work caps: an input above the size limit is not run at all, and a song
// whose export would play too many measures is loaded and queried only.
TEST(FuzzCheck, WorkCapsSkipWhatIsTooBig) {
    const gp4::Bytes bytes = gp4::WriteSong(gp4::MinimalSong());
    fuzzcheck::Limits small;
    small.largestInput = bytes.size() - 1;
    const fuzzcheck::Outcome skipped = Check(bytes, small);
    EXPECT_TRUE(skipped.skipped);
    EXPECT_FALSE(skipped.loaded);

    gp4::Song longSong = gp4::MinimalSong();
    longSong.measures[0].flags |= gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::EndRepeat;
    longSong.measures[0].repeatCount = 255;  // 256 measures played, 2 chunks each
    fuzzcheck::Limits fewMeasures;
    fewMeasures.largestMeasureVisits = 500;
    const fuzzcheck::Outcome queriedOnly = Check(gp4::WriteSong(longSong), fewMeasures);
    EXPECT_EQ(queriedOnly.failure, "");
    EXPECT_TRUE(queriedOnly.loaded);
    EXPECT_FALSE(queriedOnly.exported);
    EXPECT_TRUE(Check(gp4::WriteSong(longSong)).exported);
}

// Every file cut short fails to load and leaves the library clean; only the
// whole file loads.
TEST(FuzzRegression, EveryPrefixOfARichSong) {
    const gp4::Bytes bytes = gp4::WriteSong(gp4::FeatureRichSong(0));
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const gp4::Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
        const fuzzcheck::Outcome outcome = Check(prefix);
        ASSERT_EQ(outcome.failure, "") << "prefix of " << length << " bytes";
        ASSERT_FALSE(outcome.loaded) << "prefix of " << length << " bytes loaded";
    }
    EXPECT_TRUE(Check(bytes).loaded);
}

// Every byte of the song replaced by 0x00, 0x7F, 0x80 and 0xFF in turn:
// counts, flags, lengths and values at their limits in every field.
TEST(FuzzRegression, EveryByteOfARichSongReplaced) {
    const gp4::Bytes bytes = gp4::WriteSong(gp4::FeatureRichSong(1));
    // A damaged count can make a song hundreds of times longer; those are
    // loaded and queried, and exported only while they stay short.
    fuzzcheck::Limits limits;
    limits.largestMeasureVisits = 20000;
    std::size_t loaded = 0;
    for (std::size_t offset = 0; offset < bytes.size(); ++offset) {
        for (std::uint8_t replacement : {0x00, 0x7F, 0x80, 0xFF}) {
            if (bytes[offset] == replacement) continue;
            gp4::Bytes damaged = bytes;
            damaged[offset] = replacement;
            const fuzzcheck::Outcome outcome = Check(damaged, limits);
            ASSERT_EQ(outcome.failure, "") << "byte " << offset << " set to " << int(replacement);
            loaded += outcome.loaded ? 1 : 0;
        }
    }
    EXPECT_GT(loaded, bytes.size()) << "most damaged values still make a song";
}

// Tracks whose port and channels lie outside the channel table, and strings
// beyond the seven note slots.
TEST(FuzzRegression, TracksOutsideTheChannelTable) {
    const std::uint32_t values[] = {0, 1, 4, 5, 16, 17, 0x7FFFFFFFu, 0xFFFFFFFFu};
    for (std::uint32_t port : values) {
        for (std::uint32_t channel : values) {
            gp4::Song song = gp4::MinimalSong();
            song.tracks[0].port = port;
            song.tracks[0].channel = channel;
            song.tracks[0].effectsChannel = channel == 0 ? 0xFFFFFFFFu : channel + 1;
            song.tracks[0].stringCount = port;
            song.beats = {{{gp4::NoteBeat(gp4::Duration::Quarter, {{1, 3}, {7, 2}})}}};
            const fuzzcheck::Outcome outcome = Check(gp4::WriteSong(song));
            EXPECT_EQ(outcome.failure, "") << "port " << port << ", channel " << channel;
            EXPECT_TRUE(outcome.exported) << "port " << port << ", channel " << channel;
        }
    }
}

// Time signatures that make measures of 0 pulses, of a denominator of 0, and
// the longest measure (255/1), each with repeats and markers.
TEST(FuzzRegression, TimeSignaturesAtTheirLimits) {
    const std::pair<std::uint8_t, std::uint8_t> signatures[] = {{0, 4}, {4, 0}, {0, 0}, {255, 1}, {1, 255}, {255, 3}};
    for (const auto &signature : signatures) {
        gp4::Song song = gp4::MinimalSong();
        song.measures = {gp4::TimeSignature(signature.first, signature.second), gp4::MeasureHeader()};
        song.measures[0].flags |= gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::Marker;
        song.measures[1].flags = gp4::MeasureBits::EndRepeat | gp4::MeasureBits::Denominator;
        song.measures[1].denominator = 0;
        song.measures[1].repeatCount = 2;
        song.beats = {{{gp4::QuarterNote(1, 1)}}, {{gp4::NoteBeat(gp4::Duration::Whole, {{2, 2}})}}};
        const fuzzcheck::Outcome outcome = Check(gp4::WriteSong(song), Unlimited());
        EXPECT_EQ(outcome.failure, "") << int(signature.first) << "/" << int(signature.second);
        EXPECT_TRUE(outcome.exported);
    }
}

// Tempos and durations outside what the format defines, in the song and in
// mix-table changes.
TEST(FuzzRegression, TemposAndDurationsOutOfRange) {
    const std::uint32_t tempos[] = {0, 1, 3, 4, 1874, 60000000, 60000001, 0x7FFFFFFFu, 0xFFFFFFFFu};
    for (std::uint32_t tempo : tempos) {
        gp4::Song song = gp4::MinimalSong();
        song.tempo = tempo;
        gp4::Beat beat = gp4::NoteBeat(gp4::Duration::Eighth, {{1, 1}});
        beat.flags = gp4::BeatBits::MixTable;
        beat.mix.tempo = static_cast<std::int32_t>(tempo);
        beat.mix.instrument = 0xFE;
        beat.mix.volume = 0xFE;
        song.beats = {{{beat}}};
        const fuzzcheck::Outcome outcome = Check(gp4::WriteSong(song));
        EXPECT_EQ(outcome.failure, "") << "tempo " << tempo;
        EXPECT_TRUE(outcome.exported) << "tempo " << tempo;
    }
    for (int duration = -128; duration < 128; duration += 5) {
        gp4::Song song = gp4::MinimalSong();
        song.tripletFeel = 1;
        gp4::Beat beat = gp4::NoteBeat(static_cast<std::int8_t>(duration), {{1, 1}});
        beat.flags = gp4::BeatBits::Tuplet | gp4::BeatBits::Dotted;
        beat.tuplet = duration;
        song.beats = {{{beat, gp4::NoteBeat(static_cast<std::int8_t>(duration), {{2, 2}})}}};
        const fuzzcheck::Outcome outcome = Check(gp4::WriteSong(song));
        EXPECT_EQ(outcome.failure, "") << "duration " << duration;
    }
}

// The longest silence a delta time can hold: a conductor track idle through
// repeated 255/1 measures (489600 ticks a pass) until a marker. Just below
// 0x0FFFFFFF ticks the marker's delta time takes the four bytes a delta time
// has at most; a song longer than that must be refused by the export rather
// than written with a delta time that does not fit.
TEST(FuzzRegression, SilenceLongerThanADeltaTimeHolds) {
    gp4::Song song = gp4::MinimalSong();
    song.tracks.clear();
    song.beats.clear();
    auto repeated = [](std::uint8_t repeatCount) {
        gp4::MeasureHeader measure = gp4::TimeSignature(255, 1);
        measure.flags |= gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::EndRepeat;
        measure.repeatCount = repeatCount;
        return measure;
    };
    // The marked measure changes the numerator to 0: it lasts no time, and its
    // time signature and marker stand at the very end.
    gp4::MeasureHeader marked;
    marked.flags = gp4::MeasureBits::Marker | gp4::MeasureBits::Numerator;
    marked.numerator = 0;
    // 256 + 256 + 36 passes: 268300800 ticks, 134655 below 0x0FFFFFFF.
    song.measures = {repeated(255), repeated(255), repeated(35), marked};
    const fuzzcheck::Outcome within = Check(gp4::WriteSong(song), Unlimited());
    EXPECT_EQ(within.failure, "");
    EXPECT_TRUE(within.midiBufferMade);

    // One pass more: 268790400 ticks.
    song.measures[2] = repeated(36);
    const fuzzcheck::Outcome beyond = Check(gp4::WriteSong(song), Unlimited());
    EXPECT_EQ(beyond.failure, "");
    EXPECT_TRUE(beyond.exported);
}

}  // namespace
