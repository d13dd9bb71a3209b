// timeline_test.cpp - the song's timeline on its own: the playing order with
// numbered alternative endings, the time signature in force in file order,
// and where a measure's beats lie; songs from the test-side writer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "gp/timeline.h"
#include "gp4_writer.h"

namespace {

// A loaded song, released at the end of the scope.
struct LoadedSong {
    Talvoren::FileStruct file = {};
    explicit LoadedSong(const gp4::Song &song) {
        const gp4::Bytes bytes = gp4::WriteSong(song);
        std::FILE *stream = std::tmpfile();
        EXPECT_NE(stream, nullptr);
        if (stream == nullptr) return;
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
        std::rewind(stream);
        EXPECT_EQ(Talvoren::LoadFileStruct(&file, stream), 1);
        std::fclose(stream);
    }
    ~LoadedSong() { Talvoren::FreeFileStruct(&file); }
};

gp4::Song Measures(std::size_t count) {
    std::vector<std::vector<gp4::Beat>> measures(count, std::vector<gp4::Beat>{gp4::QuarterNote(1, 0)});
    return gp4::OneTrackSong(measures);
}

// The playing order, 1-based as a score numbers its measures; walked twice
// to show that a restart walks the same order.
std::vector<std::uint32_t> PlayedMeasures(const gp4::Song &song) {
    LoadedSong loaded(song);
    Talvoren::PlayingOrder order;
    std::vector<std::uint32_t> first;
    std::vector<std::uint32_t> second;
    if (!Talvoren::InitPlayingOrder(&order, &loaded.file)) {
        ADD_FAILURE() << "no playing order";
        return first;
    }
    for (std::uint32_t index = Talvoren::NextPlayedMeasure(&order); index < order.measureCount;
         index = Talvoren::NextPlayedMeasure(&order))
        first.push_back(index + 1);
    Talvoren::RestartPlayingOrder(&order);
    for (std::uint32_t index = Talvoren::NextPlayedMeasure(&order); index < order.measureCount;
         index = Talvoren::NextPlayedMeasure(&order))
        second.push_back(index + 1);
    Talvoren::FreePlayingOrder(&order);
    Talvoren::FreePlayingOrder(&order);  // a freed order frees again safely
    EXPECT_EQ(first, second);
    return first;
}

void Append(std::vector<std::uint32_t> *order, std::uint32_t first, std::uint32_t last) {
    for (std::uint32_t measure = first; measure <= last; ++measure) order->push_back(measure);
}

// Marks measure (1-based) as alternative ending number.
void SetEnding(gp4::Song *song, std::size_t measure, std::uint8_t number) {
    song->measures[measure - 1].flags |= gp4::MeasureBits::AltEnding;
    song->measures[measure - 1].altEnding = number;
}

void SetRepeat(gp4::Song *song, std::size_t begin, std::size_t end, std::uint8_t repeatCount) {
    song->measures[begin - 1].flags |= gp4::MeasureBits::BeginRepeat;
    song->measures[end - 1].flags |= gp4::MeasureBits::EndRepeat;
    song->measures[end - 1].repeatCount = repeatCount;
}

TEST(PlayingOrder, EndingNumbersTakeThePassesNoEarlierEndingTook) {
    // Three passes from 3 to 18; ending 2 on the close takes passes 1 and 2,
    // ending 3 after it pass 3.
    gp4::Song song = Measures(23);
    SetRepeat(&song, 3, 18, 2);
    SetEnding(&song, 18, 2);
    SetEnding(&song, 19, 3);
    std::vector<std::uint32_t> expected;
    Append(&expected, 1, 18);
    Append(&expected, 3, 18);
    Append(&expected, 3, 17);
    Append(&expected, 19, 23);
    EXPECT_EQ(expected.size(), 54u);
    EXPECT_EQ(PlayedMeasures(song), expected);

    // Endings 1, 2, 3, each closing its pass: |: 1 [1. 2 :| [2. 3 :| [3. 4 | 5
    song = Measures(5);
    SetRepeat(&song, 1, 2, 1);
    song.measures[2].flags |= gp4::MeasureBits::EndRepeat;
    song.measures[2].repeatCount = 1;
    SetEnding(&song, 2, 1);
    SetEnding(&song, 3, 2);
    SetEnding(&song, 4, 3);
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{1, 2, 1, 3, 1, 4, 5}));

    // An ending of two measures: the measure after an ending belongs to it.
    // |: 1 [1. 2 3 :| [2. 4 | 5
    song = Measures(5);
    SetRepeat(&song, 1, 3, 1);
    SetEnding(&song, 2, 1);
    SetEnding(&song, 4, 2);
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{1, 2, 3, 1, 4, 5}));

    // A later section counts its passes and endings afresh.
    // |: 1 [1. 2 :| [2. 3 |: 4 [1. 5 :| [2. 6
    song = Measures(6);
    SetRepeat(&song, 1, 2, 1);
    SetRepeat(&song, 4, 5, 1);
    SetEnding(&song, 2, 1);
    SetEnding(&song, 3, 2);
    SetEnding(&song, 5, 1);
    SetEnding(&song, 6, 2);
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{1, 2, 1, 3, 4, 5, 4, 6}));
}

TEST(PlayingOrder, NumbersThatMakeNoSenseStillPlayEveryMeasureAndEnd) {
    // Endings outside any repeat, numbered 0 or above the passes, out of order.
    gp4::Song song = Measures(6);
    SetEnding(&song, 1, 0);
    SetEnding(&song, 2, 200);
    SetRepeat(&song, 3, 4, 1);
    SetEnding(&song, 4, 3);  // takes passes 1 to 3 of two
    SetEnding(&song, 5, 1);  // takes nothing: passes 1 to 3 are taken
    SetEnding(&song, 6, 0);
    EXPECT_EQ(PlayedMeasures(song), (std::vector<std::uint32_t>{1, 2, 3, 4, 3, 4, 5, 6}));

    // The largest repeat count, an ending taking only the last pass.
    song = Measures(3);
    SetRepeat(&song, 1, 1, 255);
    SetEnding(&song, 2, 255);
    std::vector<std::uint32_t> expected(256, 1);
    expected.push_back(2);
    expected.push_back(3);
    EXPECT_EQ(PlayedMeasures(song), expected);
}

TEST(PlayingOrder, SignatureInForceComesFromFileOrder) {
    // 3/4 on 1, 5/8 on 3 (numerator and denominator), 2 on 5 (numerator only).
    gp4::Song song = Measures(6);
    song.measures[0].numerator = 3;
    song.measures[2].flags |= gp4::MeasureBits::Numerator | gp4::MeasureBits::Denominator;
    song.measures[2].numerator = 5;
    song.measures[2].denominator = 8;
    song.measures[4].flags |= gp4::MeasureBits::Numerator;
    song.measures[4].numerator = 2;
    SetRepeat(&song, 2, 6, 1);  // the jump back from 6 to 2 changes nothing
    LoadedSong loaded(song);
    Talvoren::PlayingOrder order;
    ASSERT_TRUE(Talvoren::InitPlayingOrder(&order, &loaded.file));
    const std::uint32_t numerators[] = {3, 3, 5, 5, 2, 2};
    const std::uint32_t denominators[] = {4, 4, 8, 8, 8, 8};
    const std::uint32_t pulses[] = {1440, 1440, 1200, 1200, 480, 480};
    for (std::uint32_t pass = 0; pass < 2; ++pass) {
        for (std::uint32_t index = Talvoren::NextPlayedMeasure(&order); index < order.measureCount;
             index = Talvoren::NextPlayedMeasure(&order)) {
            const Talvoren::TimeSignature signature = Talvoren::GetSignatureInForce(&order, index);
            EXPECT_EQ(signature.numerator, numerators[index]) << "measure " << index + 1;
            EXPECT_EQ(signature.denominator, denominators[index]) << "measure " << index + 1;
            EXPECT_EQ(Talvoren::GetPlayedMeasurePulses(&order, index, 30), pulses[index]) << "measure " << index + 1;
        }
        Talvoren::RestartPlayingOrder(&order);
    }
    Talvoren::FreePlayingOrder(&order);
}

TEST(BeatClock, HalfPulsesRoundOnceAndBeatsPlayUpToAMeasurePastTheBarLine) {
    LoadedSong loaded(Measures(1));
    Talvoren::Beat dotted = {};
    dotted.flags = Talvoren::BeatDotted;
    dotted.duration = 4;  // a dotted sixty-fourth: 22.5 pulses at 15 a sixty-fourth
    Talvoren::BeatClock clock = Talvoren::StartBeatClock(&loaded.file, 15, 240);
    std::uint32_t start = 0;
    std::uint32_t end = 0;
    ASSERT_TRUE(Talvoren::NextBeatSpan(&clock, dotted, &start, &end));
    EXPECT_EQ(start, 0u);
    EXPECT_EQ(end, 23u);
    ASSERT_TRUE(Talvoren::NextBeatSpan(&clock, dotted, &start, &end));
    EXPECT_EQ(start, 23u);
    EXPECT_EQ(end, 45u);

    // A measure of one quarter holding three: the second lies past the bar
    // line and plays, the third would start a whole measure past it.
    Talvoren::Beat quarter = {};
    clock = Talvoren::StartBeatClock(&loaded.file, 30, 480);
    ASSERT_TRUE(Talvoren::NextBeatSpan(&clock, quarter, &start, &end));
    ASSERT_TRUE(Talvoren::NextBeatSpan(&clock, quarter, &start, &end));
    EXPECT_EQ(start, 480u);
    EXPECT_EQ(end, 960u);
    EXPECT_FALSE(Talvoren::NextBeatSpan(&clock, quarter, &start, &end));
}

}  // namespace
