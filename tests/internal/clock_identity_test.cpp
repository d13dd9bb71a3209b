// clock_identity_test.cpp - the conversion's clock, which plays each track
// of a measure straight through its beats and sends the tempo changes after,
// against the pulse-by-pulse reference: on hundreds of generated songs that use every timing feature,
// and on the edge cases one by one, both must leave the same bytes in every
// chunk, the same pending counts, and the same working fields in the song.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "gp/convert.cpp"
#include "mid/midi.cpp"
#include "clock_reference.h"
#include "convert_checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using ConvertChecks::LoadedSong;

// ---------------------------------------------------------------------------
// What a conversion leaves behind.

struct ChunkState {
    std::vector<std::uint8_t> events;
    std::uint32_t pendingDelta = 0;
    std::uint8_t runningStatus = 0;
};

struct Outcome {
    bool modelMade = false;
    int result = 0;
    std::vector<ChunkState> chunks;
    std::vector<std::uint32_t> beatIndexes;     // per track, as the conversion left them
    std::vector<std::uint32_t> beatPulsesLeft;  // per track
    std::vector<std::uint8_t> passCounters;     // per measure
};

using Converter = int (*)(Talvoren::FileStruct *, Talvoren::MidiFileStruct *, std::uint32_t);

// Converts into a fresh model. The working fields are cleared first, so that
// both clocks start from the same song whatever ran before.
Outcome Convert(Talvoren::FileStruct *file, Converter convert, std::uint32_t pulsesPerSixtyFourth) {
    Outcome outcome;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    for (std::uint32_t track = 0; track < trackCount; ++track) {
        file->body.tracks[track].beatIndex = 0;
        file->body.tracks[track].beatPulsesLeft = 0;
    }
    Talvoren::MidiFileStruct midi;
    outcome.modelMade = Talvoren::InitMidiFileStruct(&midi, trackCount + 1, 480) == 1;
    if (outcome.modelMade) {
        outcome.result = convert(file, &midi, pulsesPerSixtyFourth);
        for (std::uint32_t chunk = 0; chunk <= trackCount; ++chunk) {
            const Talvoren::MidiTrackChunk &track = midi.tracks[chunk];
            ChunkState state;
            const auto *first = reinterpret_cast<const std::uint8_t *>(track.events);
            if (first != nullptr) state.events.assign(first, first + Talvoren::DwordValue(track.header.length));
            state.pendingDelta = track.pendingDelta;
            state.runningStatus = track.runningStatus;
            outcome.chunks.push_back(state);
        }
    }
    Talvoren::FreeMidiFileStruct(&midi);
    for (std::uint32_t track = 0; track < trackCount; ++track) {
        outcome.beatIndexes.push_back(file->body.tracks[track].beatIndex);
        outcome.beatPulsesLeft.push_back(file->body.tracks[track].beatPulsesLeft);
    }
    for (std::uint32_t measure = 0; measure < file->headers.pieceInfo.measureCount; ++measure)
        outcome.passCounters.push_back(file->body.measures[measure].repeatsPlayed);
    return outcome;
}

// Converts at 30 pulses with the failing-th allocation from now on refused;
// failed, when given, tells whether one was.
Outcome ConvertFailing(Talvoren::FileStruct *file, Converter convert, std::size_t failing, bool *failed) {
    TestHeap::Reset();
    TestHeap::FailAllocation(failing);
    Outcome outcome = Convert(file, convert, 30);
    if (failed != nullptr) *failed = TestHeap::FailureHappened();
    TestHeap::Reset();
    return outcome;
}

// Empty when both are the same; otherwise where they first differ.
std::string Difference(const Outcome &clock, const Outcome &reference) {
    std::ostringstream text;
    if (clock.modelMade != reference.modelMade) return "only one model was set up";
    if (clock.result != reference.result)
        text << "result " << clock.result << ", reference " << reference.result << "; ";
    for (std::size_t chunk = 0; chunk < clock.chunks.size() && chunk < reference.chunks.size(); ++chunk) {
        const ChunkState &mine = clock.chunks[chunk];
        const ChunkState &theirs = reference.chunks[chunk];
        if (mine.events != theirs.events) {
            std::size_t offset = 0;
            while (offset < mine.events.size() && offset < theirs.events.size() &&
                   mine.events[offset] == theirs.events[offset])
                ++offset;
            text << "chunk " << chunk << ": " << mine.events.size() << " event bytes, reference "
                 << theirs.events.size() << ", first difference at byte " << offset << "; ";
        }
        if (mine.pendingDelta != theirs.pendingDelta)
            text << "chunk " << chunk << ": pending " << mine.pendingDelta << ", reference " << theirs.pendingDelta
                 << "; ";
        if (mine.runningStatus != theirs.runningStatus)
            text << "chunk " << chunk << ": running status " << int(mine.runningStatus) << ", reference "
                 << int(theirs.runningStatus) << "; ";
    }
    if (clock.chunks.size() != reference.chunks.size()) text << "chunk counts differ; ";
    if (clock.beatIndexes != reference.beatIndexes) text << "beat indexes differ; ";
    if (clock.beatPulsesLeft != reference.beatPulsesLeft) text << "pulses left differ; ";
    if (clock.passCounters != reference.passCounters) text << "pass counters differ; ";
    return text.str();
}

// Both clocks on the loaded song; the library's result for further checks.
Outcome ExpectSameAsReference(Talvoren::FileStruct *file, std::uint32_t pulsesPerSixtyFourth,
                              const std::string &what) {
    const Outcome clock = Convert(file, Talvoren::ToMidi, pulsesPerSixtyFourth);
    const Outcome reference = Convert(file, ClockReference::ToMidi, pulsesPerSixtyFourth);
    EXPECT_EQ(Difference(clock, reference), "") << what << " at " << pulsesPerSixtyFourth << " pulses";
    return clock;
}

Outcome ExpectSameAsReference(const gp4::Song &song, std::uint32_t pulsesPerSixtyFourth, const std::string &what) {
    LoadedSong loaded(song);
    if (!loaded.loaded) return Outcome();
    return ExpectSameAsReference(&loaded.file, pulsesPerSixtyFourth, what);
}

// The events of one track chunk of a successful conversion, parsed.
smf::Track ParsedChunk(const Outcome &outcome, std::size_t chunk) {
    smf::Bytes file = {0x4D, 0x54, 0x68, 0x64, 0, 0, 0, 6, 0, 1, 0, 1, 0x01, 0xE0, 0x4D, 0x54, 0x72, 0x6B};
    const std::vector<std::uint8_t> &events = outcome.chunks.at(chunk).events;
    const auto length = static_cast<std::uint32_t>(events.size());
    for (int shift = 24; shift >= 0; shift -= 8) file.push_back(static_cast<std::uint8_t>(length >> shift));
    file.insert(file.end(), events.begin(), events.end());
    smf::File parsed;
    std::string error;
    EXPECT_TRUE(smf::Parse(file, &parsed, &error)) << error;
    return parsed.tracks.empty() ? smf::Track() : parsed.tracks[0];
}

// ---------------------------------------------------------------------------
// Generated songs: small, but drawn from everything that moves the clock.

struct Dice {
    std::mt19937 engine;

    explicit Dice(std::uint32_t seed) : engine(seed) {}
    int Between(int lowest, int highest) { return std::uniform_int_distribution<int>(lowest, highest)(engine); }
    bool Chance(int percent) { return Between(0, 99) < percent; }
    template <typename Value>
    Value Pick(std::initializer_list<Value> values) {
        return *(values.begin() + Between(0, static_cast<int>(values.size()) - 1));
    }
};

gp4::MeasureHeader RandomMeasure(Dice &dice, bool first) {
    gp4::MeasureHeader measure;
    if (first ? dice.Chance(92) : dice.Chance(20)) {
        measure.flags |= gp4::MeasureBits::Numerator;
        measure.numerator = static_cast<std::uint8_t>(dice.Chance(6) ? 0 : dice.Between(1, 9));
    }
    if (first ? dice.Chance(92) : dice.Chance(20)) {
        measure.flags |= gp4::MeasureBits::Denominator;
        measure.denominator = dice.Chance(6) ? dice.Pick<std::uint8_t>({0, 3, 64}) : dice.Pick<std::uint8_t>({1, 2, 4, 4, 8, 16, 32});
    }
    if (dice.Chance(15)) measure.flags |= gp4::MeasureBits::BeginRepeat;
    if (dice.Chance(15)) {
        measure.flags |= gp4::MeasureBits::EndRepeat;
        measure.repeatCount = static_cast<std::uint8_t>(dice.Between(0, 3));
    }
    if (dice.Chance(5)) measure.flags |= gp4::MeasureBits::AltEnding;
    if (dice.Chance(10)) {
        measure.flags |= gp4::MeasureBits::Marker;
        measure.markerText = "M" + std::to_string(dice.Between(0, 99));
    }
    return measure;
}

gp4::Track RandomTrack(Dice &dice, int index) {
    gp4::Track track;
    track.name = "T" + std::to_string(index);
    track.stringCount = dice.Chance(60) ? 6 : static_cast<std::uint32_t>(dice.Between(0, 9));
    for (std::int32_t &tuning : track.tunings) tuning = dice.Between(0, 140);
    track.port = dice.Chance(90) ? static_cast<std::uint32_t>(dice.Between(1, 4)) : dice.Pick<std::uint32_t>({0, 5});
    track.channel = dice.Chance(85) ? static_cast<std::uint32_t>(dice.Between(1, 16)) : dice.Pick<std::uint32_t>({0, 17});
    if (dice.Chance(40))
        track.effectsChannel = track.channel;
    else if (dice.Chance(80))
        track.effectsChannel = static_cast<std::uint32_t>(dice.Between(1, 16));
    else
        track.effectsChannel = dice.Pick<std::uint32_t>({0, 17, 200});
    return track;
}

gp4::Note RandomNote(Dice &dice) {
    gp4::Note note;
    note.flags = dice.Pick<std::uint8_t>({gp4::NoteBits::TypeAndFret, gp4::NoteBits::TypeAndFret,
                                          gp4::NoteBits::TypeAndFret | gp4::NoteBits::Dynamic, 0,
                                          gp4::NoteBits::Dynamic});
    note.type = static_cast<std::uint8_t>(dice.Chance(70) ? 1 : dice.Between(2, 3));
    note.dynamic = static_cast<std::uint8_t>(dice.Between(0, 9));
    note.fret = static_cast<std::uint8_t>(dice.Between(0, 30));
    return note;
}

gp4::Beat RandomBeat(Dice &dice) {
    gp4::Beat beat;
    beat.duration = dice.Chance(93) ? static_cast<std::int8_t>(dice.Between(-2, 4))
                                    : dice.Pick<std::int8_t>({-3, 5, 6, -128, 127});
    if (dice.Chance(20)) beat.flags |= gp4::BeatBits::Dotted;
    if (dice.Chance(20)) {
        beat.flags |= gp4::BeatBits::Tuplet;
        beat.tuplet = dice.Pick<std::int32_t>({3, 3, 5, 6, 7, 9, 10, 11, 12, 13, 0, 2, 4, 8, 14, -1});
    }
    if (dice.Chance(15)) {
        beat.flags |= gp4::BeatBits::Status;
        beat.status = dice.Pick<std::uint8_t>({0, 1, 2});
    }
    if (dice.Chance(15)) {
        beat.flags |= gp4::BeatBits::MixTable;
        if (dice.Chance(50)) beat.mix.tempo = dice.Chance(90) ? dice.Between(1, 400) : -7;
        if (dice.Chance(50)) beat.mix.instrument = static_cast<std::uint8_t>(dice.Between(0, 140));
        if (dice.Chance(50)) beat.mix.volume = static_cast<std::uint8_t>(dice.Between(0, 20));
    }
    beat.stringFlags = static_cast<std::uint8_t>(dice.Chance(15) ? 0 : dice.Between(0, 255));
    for (gp4::Note &note : beat.notes) note = RandomNote(dice);
    return beat;
}

// The song's measures, tracks and beats, drawn with the dice: each pair holds
// up to mostBeats beats (none in one pair of five).
void FillRandomBody(Dice &dice, gp4::Song &song, int measureCount, int trackCount, int mostBeats) {
    for (int measure = 0; measure < measureCount; ++measure) song.measures.push_back(RandomMeasure(dice, measure == 0));
    for (int track = 0; track < trackCount; ++track) song.tracks.push_back(RandomTrack(dice, track));
    song.beats.resize(static_cast<std::size_t>(measureCount));
    for (auto &row : song.beats) {
        row.resize(static_cast<std::size_t>(trackCount));
        for (auto &pair : row) {
            const int beatCount = dice.Chance(20) ? 0 : dice.Between(1, mostBeats);
            for (int beat = 0; beat < beatCount; ++beat) pair.push_back(RandomBeat(dice));
        }
    }
}

gp4::Song RandomSong(std::uint32_t seed) {
    Dice dice(seed);
    gp4::Song song;
    song.tripletFeel = dice.Pick<std::uint8_t>({0, 0, 1, 1, 1, 2});
    song.tempo = dice.Chance(50) ? 120 : static_cast<std::uint32_t>(dice.Between(0, 2000));
    for (auto &port : song.channels) {
        for (gp4::ChannelEntry &entry : port) {
            entry.instrument = dice.Between(0, 140);
            entry.volume = static_cast<std::uint8_t>(dice.Between(0, 20));
        }
    }
    const int measureCount = dice.Chance(3) ? 0 : dice.Between(1, 10);
    const int trackCount = dice.Chance(4) ? 0 : dice.Between(1, 5);
    FillRandomBody(dice, song, measureCount, trackCount, dice.Chance(10) ? 40 : 10);
    return song;
}

TEST(ClockIdentity, GeneratedSongsAtThirtyPulses) {
    for (std::uint32_t seed = 1; seed <= 400; ++seed) {
        ExpectSameAsReference(RandomSong(seed), 30, "song " + std::to_string(seed));
        if (HasFailure()) break;  // the first song that differs tells enough
    }
}

// Other grains: at 1 pulse a tuplet sixty-fourth lasts 0 pulses, and at 255
// the counts grow large.
TEST(ClockIdentity, GeneratedSongsAtOtherGrains) {
    const std::uint32_t grains[] = {1, 2, 3, 7, 16, 255, 0, 256 + 30};
    for (std::uint32_t seed = 1001; seed <= 1160; ++seed) {
        ExpectSameAsReference(RandomSong(seed), grains[seed % 8], "song " + std::to_string(seed));
        if (HasFailure()) break;
    }
}

// A track plays a measure on its own and holds its own keys; songs of one
// track and of many (with tempo changes from many tracks to order) must
// still leave the reference's bytes.
TEST(ClockIdentity, SongsOfOneAndOfManyTracks) {
    for (const int trackCount : {1, 63, 64, 65, 90}) {
        Dice dice(static_cast<std::uint32_t>(trackCount));
        gp4::Song song;
        FillRandomBody(dice, song, 4, trackCount, 6);
        const Outcome outcome = ExpectSameAsReference(song, 30, std::to_string(trackCount) + " tracks");
        EXPECT_EQ(outcome.result, 1) << trackCount << " tracks";
    }
}

TEST(ClockIdentity, RichSongs) {
    ExpectSameAsReference(gp4::MinimalSong(), 30, "the minimal song");
    ExpectSameAsReference(gp4::FeatureRichSong(0), 30, "the feature-rich song");
    ExpectSameAsReference(gp4::FeatureRichSong(1), 30, "the feature-rich song with triplet feel");
}

// ---------------------------------------------------------------------------
// The edge cases, each checked against the reference and on its own.

gp4::Song OneTrackSong(std::uint8_t numerator, std::vector<gp4::Beat> beats) {
    gp4::Song song;
    song.measures = {gp4::TimeSignature(numerator, 4)};
    gp4::Track track;
    track.effectsChannel = track.channel;
    song.tracks = {track};
    song.beats = {{beats}};
    return song;
}

std::vector<std::uint64_t> NoteOffTicks(const smf::Track &track) {
    std::vector<std::uint64_t> ticks;
    for (const smf::Note &note : smf::NoteOffs(track)) ticks.push_back(note.tick);
    return ticks;
}

TEST(ClockEdges, BeatFillingTheMeasureIsReleasedOnceAtItsEnd) {
    const Outcome outcome = ExpectSameAsReference(OneTrackSong(4, {gp4::NoteBeat(gp4::Duration::Whole, {{1, 3}})}),
                                                  30, "a whole note");
    ASSERT_EQ(outcome.result, 1);
    EXPECT_EQ(NoteOffTicks(ParsedChunk(outcome, 1)), (std::vector<std::uint64_t>{1920}));
    EXPECT_EQ(outcome.beatPulsesLeft, (std::vector<std::uint32_t>{0}));
}

TEST(ClockEdges, LastBeatEndingEarlyIsReleasedTwice) {
    const Outcome outcome = ExpectSameAsReference(
        OneTrackSong(4, {gp4::NoteBeat(gp4::Duration::Half, {{1, 3}}), gp4::QuarterNote(2, 5)}), 30,
        "a half and a quarter in 4/4");
    ASSERT_EQ(outcome.result, 1);
    EXPECT_EQ(NoteOffTicks(ParsedChunk(outcome, 1)), (std::vector<std::uint64_t>{960, 1440, 1920}));
    // No beat was left at 1440: the count wrapped there and went on down.
    EXPECT_EQ(outcome.beatPulsesLeft, (std::vector<std::uint32_t>{0xFFFFFFFFu - 479}));
    EXPECT_EQ(outcome.beatIndexes, (std::vector<std::uint32_t>{2}));
}

TEST(ClockEdges, BeatsPastTheMeasureEndAreCutOrNeverPlayed) {
    const Outcome outcome = ExpectSameAsReference(
        OneTrackSong(3, {gp4::NoteBeat(gp4::Duration::Half, {{1, 3}}), gp4::NoteBeat(gp4::Duration::Half, {{1, 5}}),
                         gp4::QuarterNote(1, 7)}),
        30, "two halves and a quarter in 3/4");
    ASSERT_EQ(outcome.result, 1);
    const smf::Track track = ParsedChunk(outcome, 1);
    EXPECT_EQ(smf::NoteOns(track).size(), 2u);
    EXPECT_EQ(NoteOffTicks(track), (std::vector<std::uint64_t>{960, 1440}));
    EXPECT_EQ(outcome.beatIndexes, (std::vector<std::uint32_t>{2}));
    EXPECT_EQ(outcome.beatPulsesLeft, (std::vector<std::uint32_t>{480}));
}

TEST(ClockEdges, ZeroLengthMeasureSendsItsSignatureAndPlaysNothing) {
    gp4::Song song = OneTrackSong(4, {gp4::QuarterNote(1, 3)});
    song.measures.push_back(gp4::TimeSignature(0, 4));
    song.measures.back().flags |= gp4::MeasureBits::Marker;
    song.measures.push_back(gp4::TimeSignature(4, 4));
    song.beats.push_back({{gp4::QuarterNote(1, 5)}});
    song.beats.push_back({{gp4::QuarterNote(1, 7)}});
    const Outcome outcome = ExpectSameAsReference(song, 30, "a measure of 0/4 between two of 4/4");
    ASSERT_EQ(outcome.result, 1);
    const std::vector<smf::Note> noteOns = smf::NoteOns(ParsedChunk(outcome, 1));
    ASSERT_EQ(noteOns.size(), 2u);
    EXPECT_EQ(noteOns[1].tick, 1920u);
    EXPECT_EQ(noteOns[1].key, 64 + 7);
}

// At one pulse per sixty-fourth a triplet sixty-fourth lasts 2 / 3 pulse, that
// is 0: its count wraps at once, so the track idles and its later beats are
// never started; the beat is released at the measure's end.
TEST(ClockEdges, BeatOfNoPulsesIdlesItsTrack) {
    gp4::Beat instant = gp4::NoteBeat(gp4::Duration::SixtyFourth, {{1, 3}});
    instant.flags |= gp4::BeatBits::Tuplet;
    instant.tuplet = 3;
    const Outcome outcome =
        ExpectSameAsReference(OneTrackSong(4, {instant, gp4::QuarterNote(1, 5)}), 1, "a beat of no pulses");
    ASSERT_EQ(outcome.result, 1);
    const smf::Track track = ParsedChunk(outcome, 1);
    EXPECT_EQ(smf::NoteOns(track).size(), 1u);
    EXPECT_EQ(NoteOffTicks(track), (std::vector<std::uint64_t>{64}));
    EXPECT_EQ(outcome.beatIndexes, (std::vector<std::uint32_t>{1}));
}

// Tempo changes of several tracks at one instant reach the conductor in
// track order, after the measure's time signature and marker; a track with
// no beats in between changes nothing.
TEST(ClockEdges, TempoChangesOfOneInstantComeInTrackOrder) {
    gp4::Song song;
    song.measures = {gp4::TimeSignature(4, 4), gp4::MeasureHeader()};
    song.measures[1].flags = gp4::MeasureBits::Marker;
    song.tracks = {gp4::Track(), gp4::Track(), gp4::Track()};
    auto tempoBeat = [](std::int8_t duration, std::int32_t tempo) {
        gp4::Beat beat = gp4::NoteBeat(duration, {{1, 2}});
        beat.flags |= gp4::BeatBits::MixTable;
        beat.mix.tempo = tempo;
        return beat;
    };
    song.beats = {{{tempoBeat(gp4::Duration::Half, 100), tempoBeat(gp4::Duration::Half, 101)},
                   {},
                   {tempoBeat(gp4::Duration::Quarter, 150), tempoBeat(gp4::Duration::Quarter, 75),
                    tempoBeat(gp4::Duration::Half, 60)}},
                  {{tempoBeat(gp4::Duration::Whole, 120)}, {}, {tempoBeat(gp4::Duration::Whole, 200)}}};
    const Outcome outcome = ExpectSameAsReference(song, 30, "tempo changes on three tracks");
    ASSERT_EQ(outcome.result, 1);
    const std::vector<smf::Tempo> tempos = smf::Tempos(ParsedChunk(outcome, 0));
    const std::vector<std::pair<std::uint64_t, std::uint32_t>> expected = {
        {0, 500000},  {0, 600000},  {0, 400000},  {480, 800000},
        {960, 594059}, {960, 1000000}, {1920, 500000}, {1920, 300000}};
    ASSERT_EQ(tempos.size(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
        EXPECT_EQ(tempos[index].tick, expected[index].first) << index;
        EXPECT_EQ(tempos[index].microsecondsPerQuarter, expected[index].second) << index;
    }
}

// A measure whose tracks change the tempo on nearly every sixty-fourth:
// more changes than the conversion's list first holds, interleaved in time.
gp4::Song CrowdedTempoSong() {
    gp4::Song song;
    song.measures = {gp4::TimeSignature(4, 4), gp4::MeasureHeader()};
    song.tracks = {gp4::Track(), gp4::Track(), gp4::Track()};
    song.beats.resize(2);
    for (auto &row : song.beats) {
        row.resize(3);
        for (std::size_t track = 0; track < 3; ++track) {
            const std::int8_t duration = track == 1 ? gp4::Duration::ThirtySecond : gp4::Duration::SixtyFourth;
            for (int beat = 0; beat < (track == 1 ? 32 : 64); ++beat) {
                gp4::Beat tempoBeat = gp4::NoteBeat(duration, {{1, static_cast<int>(track)}});
                tempoBeat.flags |= gp4::BeatBits::MixTable;
                tempoBeat.mix.tempo = static_cast<std::int32_t>(60 + 3 * beat + static_cast<int>(track));
                row[track].push_back(tempoBeat);
            }
        }
    }
    return song;
}

TEST(ClockEdges, CrowdedTempoChangesComeInTimeAndTrackOrder) {
    const Outcome outcome = ExpectSameAsReference(CrowdedTempoSong(), 30, "160 tempo changes in each measure");
    ASSERT_EQ(outcome.result, 1);
    const std::vector<smf::Tempo> tempos = smf::Tempos(ParsedChunk(outcome, 0));
    ASSERT_EQ(tempos.size(), 1u + 2 * 160);
    for (std::size_t index = 1; index < tempos.size(); ++index)
        EXPECT_LE(tempos[index - 1].tick, tempos[index].tick) << index;
}

// Keeping the tempo changes can fail for want of memory like any append:
// the conversion then reports failure, resets the pass counters and leaves
// nothing allocated.
TEST(ClockEdges, CrowdedTempoChangesUnderFailedAllocations) {
    LoadedSong loaded(CrowdedTempoSong());
    ASSERT_TRUE(loaded.loaded);
    const std::size_t liveBefore = TestHeap::LiveBlocks();
    std::size_t failures = 0;
    for (std::size_t failing = 1;; ++failing) {
        bool failed = false;
        const Outcome clock = ConvertFailing(&loaded.file, Talvoren::ToMidi, failing, &failed);
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore) << "allocation " << failing;
        if (!failed) {
            EXPECT_EQ(clock.result, 1);
            break;
        }
        ++failures;
        if (clock.modelMade) {
            EXPECT_EQ(clock.result, 0) << "allocation " << failing;
        }
        EXPECT_EQ(clock.passCounters, std::vector<std::uint8_t>(2, 0)) << "allocation " << failing;
        if (HasFailure()) break;
    }
    EXPECT_GT(failures, 3u);
}

TEST(ClockEdges, RepeatsAndTrackWithoutBeatsLeaveTheSameState) {
    gp4::Song song;
    song.measures = {gp4::TimeSignature(4, 4), gp4::MeasureHeader(), gp4::TimeSignature(3, 4)};
    song.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[1].flags |= gp4::MeasureBits::EndRepeat;
    song.measures[1].repeatCount = 2;
    song.tracks = {gp4::Track(), gp4::Track()};
    song.beats = {{{gp4::QuarterNote(1, 1)}, {}},
                  {{}, {gp4::NoteBeat(gp4::Duration::Eighth, {{2, 2}, {3, 3}})}},
                  {{gp4::RestBeat(gp4::Duration::Whole)}, {gp4::QuarterNote(1, 4)}}};
    const Outcome outcome = ExpectSameAsReference(song, 30, "repeats over a track without beats");
    ASSERT_EQ(outcome.result, 1);
    EXPECT_EQ(outcome.passCounters, (std::vector<std::uint8_t>{0, 0, 0}));
    EXPECT_EQ(smf::NoteOns(ParsedChunk(outcome, 1)).size(), 3u);
    EXPECT_EQ(smf::NoteOns(ParsedChunk(outcome, 2)).size(), 3u * 2 + 1);
}

// A song of many measures and no tracks only moves the conductor's clock.
TEST(ClockEdges, SongWithoutTracks) {
    gp4::Song song;
    for (int measure = 0; measure < 5; ++measure) song.measures.push_back(gp4::TimeSignature(static_cast<std::uint8_t>(measure + 2), 4));
    song.measures[4].flags |= gp4::MeasureBits::Marker;
    const Outcome outcome = ExpectSameAsReference(song, 30, "measures without tracks");
    ASSERT_EQ(outcome.result, 1);
    ASSERT_EQ(outcome.chunks.size(), 1u);
    const smf::Track conductor = ParsedChunk(outcome, 0);
    const std::vector<const smf::Event *> markers = smf::MetaEvents(conductor, 0x06);
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0]->tick, 480u * (2 + 3 + 4 + 5));
}

// ---------------------------------------------------------------------------
// Failed appends: whichever allocation fails, both clocks report the same
// result, reset the pass counters, and leave nothing allocated.

TEST(ClockIdentity, FailedAllocationsEndBothClocksAlike) {
    const gp4::Song songs[] = {gp4::FeatureRichSong(1), RandomSong(7), RandomSong(12)};
    for (const gp4::Song &song : songs) {
        LoadedSong loaded(song);
        ASSERT_TRUE(loaded.loaded);
        const std::size_t liveBefore = TestHeap::LiveBlocks();
        for (std::size_t failing = 1;; ++failing) {
            bool failed = false;
            const Outcome clock = ConvertFailing(&loaded.file, Talvoren::ToMidi, failing, &failed);
            const Outcome reference = ConvertFailing(&loaded.file, ClockReference::ToMidi, failing, nullptr);
            EXPECT_EQ(clock.modelMade, reference.modelMade) << "allocation " << failing;
            EXPECT_EQ(clock.result, reference.result) << "allocation " << failing;
            EXPECT_EQ(clock.passCounters, reference.passCounters) << "allocation " << failing;
            EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore) << "allocation " << failing;
            if (!failed || HasFailure()) break;
            EXPECT_EQ(clock.result, 0) << "allocation " << failing;
        }
    }
}

}  // namespace
