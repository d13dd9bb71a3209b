// convert_test.cpp - ToMidi from the inside: the values it sends (tempo,
// volume, velocity, time-signature bytes), what it refuses and leaves
// untouched, the triplet-feel positions it keeps, and every failed
// allocation of a conversion and of ZELTO_CreateMidiBuffer.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "gp/convert.cpp"
#include "mid/midi.cpp"
#include "zelto/lifecycle.cpp"
#include "zelto/export.cpp"
#include "convert_checks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using ConvertChecks::AllPassCountersZero;
using ConvertChecks::LoadedSong;
using ConvertChecks::Render;
using ConvertChecks::RenderParsed;

// ---------------------------------------------------------------------------
// The string bits of a beat.

// Every set of string bits is walked string by string, first string first,
// each set bit once: bit (6 - s) stands for string s.
TEST(StringBits, WalkVisitsEverySetStringInOrder) {
    for (std::uint32_t bits = 1; bits <= Talvoren::allStringBits; ++bits) {
        std::vector<std::uint32_t> expected;
        for (std::uint32_t string = 0; string < Talvoren::noteSlotCount; ++string)
            if (bits & (0x40u >> string)) expected.push_back(string);
        std::vector<std::uint32_t> walked;
        for (std::uint32_t strings = bits; strings != 0;) walked.push_back(Talvoren::TakeFirstString(&strings));
        EXPECT_EQ(walked, expected) << "bits " << bits;
    }
}

// ---------------------------------------------------------------------------
// Values.

// Microseconds per quarter note as 60 / tempo x 1,000,000 in double
// arithmetic, truncated; volatile keeps each step a double operation.
std::uint32_t DoubleFormula(std::uint32_t tempo) {
    volatile double quotient = 60.0 / static_cast<double>(tempo);
    volatile double microseconds = quotient * 1000000.0;
    return static_cast<std::uint32_t>(microseconds);
}

std::uint32_t WithinTempoRange(std::uint32_t value) {
    if (value > 0xFFFFFF) return 0xFFFFFF;
    return value == 0 ? 1 : value;
}

TEST(TempoValue, EqualsTheDoubleFormula) {
    for (std::uint32_t tempo = 1; tempo <= 100000; ++tempo)
        ASSERT_EQ(Talvoren::GetTempoValue(tempo), WithinTempoRange(DoubleFormula(tempo))) << "tempo " << tempo;
    // Where 60,000,000 / tempo is exact the double formula's two roundings
    // could fall below it: every divisor of 60,000,000 = 2^8 x 3 x 5^7.
    for (std::uint32_t twos = 1; twos <= 256; twos *= 2)
        for (std::uint32_t threes = 1; threes <= 3; threes *= 3)
            for (std::uint32_t fives = 1; fives <= 78125; fives *= 5) {
                const std::uint32_t tempo = twos * threes * fives;
                EXPECT_EQ(Talvoren::GetTempoValue(tempo), WithinTempoRange(DoubleFormula(tempo))) << "tempo " << tempo;
            }
    for (std::uint64_t tempo = 100001; tempo <= 0xFFFFFFFFu; tempo += 65521) {
        const std::uint32_t value = static_cast<std::uint32_t>(tempo);
        ASSERT_EQ(Talvoren::GetTempoValue(value), WithinTempoRange(DoubleFormula(value))) << "tempo " << value;
    }
}

TEST(SentValues, VolumeAndVelocity) {
    for (std::uint32_t volume = 0; volume < 256; ++volume) {
        const std::uint32_t expected = volume < 16 ? volume * 8 : 127;
        EXPECT_EQ(Talvoren::GetVolumeValue(static_cast<std::uint8_t>(volume)), expected) << "volume " << volume;
    }
    Talvoren::Note note = {};
    EXPECT_EQ(Talvoren::GetNoteVelocity(note), 95);  // no dynamic
    note.flags = Talvoren::NoteHasDynamic;
    const std::uint8_t velocities[] = {1, 15, 31, 47, 63, 79, 95, 111, 127, 127};
    for (std::uint8_t dynamic = 0; dynamic <= 9; ++dynamic) {
        note.dynamic = dynamic;
        EXPECT_EQ(Talvoren::GetNoteVelocity(note), velocities[dynamic]) << "dynamic " << int(dynamic);
    }
    note.dynamic = 255;
    EXPECT_EQ(Talvoren::GetNoteVelocity(note), 127);
}

TEST(SentValues, TimeSignatureBytes) {
    const struct {
        std::uint8_t denominator, power, clocks;
    } cases[] = {{1, 0, 96}, {2, 1, 48}, {4, 2, 24}, {8, 3, 12}, {16, 4, 6}, {32, 5, 3}, {64, 6, 1}, {128, 7, 0},
                 {0, 2, 24}, {3, 0, 32}, {12, 2, 8}};
    for (const auto &each : cases) {
        gp4::Song song;
        song.measures = {gp4::TimeSignature(7, each.denominator)};
        LoadedSong loaded(song);
        const smf::File file = RenderParsed(&loaded.file);
        const auto signatures = smf::MetaEvents(file.tracks[0], 0x58);
        ASSERT_EQ(signatures.size(), 1u);
        EXPECT_EQ(signatures[0]->metaData, (smf::Bytes{7, each.power, each.clocks, 8}))
            << "denominator " << int(each.denominator);
    }
}

// ---------------------------------------------------------------------------
// Refusals: nothing appended, nothing changed.

bool NothingAppended(const Talvoren::MidiFileStruct &midi) {
    for (std::uint32_t chunk = 0; chunk < Talvoren::WordValue(midi.header.trackCount); ++chunk)
        if (Talvoren::DwordValue(midi.tracks[chunk].header.length) != 0 || midi.tracks[chunk].events != nullptr)
            return false;
    return true;
}

TEST(ToMidiRefusal, ModelWithAnotherChunkCount) {
    LoadedSong song(gp4::MinimalSong());
    for (std::uint32_t chunks : {1u, 3u}) {
        Talvoren::MidiFileStruct midi;
        ASSERT_EQ(Talvoren::InitMidiFileStruct(&midi, chunks, 480), 1);
        EXPECT_EQ(Talvoren::ToMidi(&song.file, &midi, 30), 0);
        EXPECT_TRUE(NothingAppended(midi));
        Talvoren::FreeMidiFileStruct(&midi);
    }
}

TEST(ToMidiRefusal, RenderPastTheLimits) {
    gp4::Song song;
    gp4::MeasureHeader opening = gp4::TimeSignature(255, 1);
    opening.flags |= gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::EndRepeat;
    opening.repeatCount = 255;
    opening.flags |= gp4::MeasureBits::Marker;
    song.measures = {opening, opening, opening};
    song.tracks = {gp4::Track()};
    LoadedSong loaded(song);
    Talvoren::MidiFileStruct midi;
    ASSERT_EQ(Talvoren::InitMidiFileStruct(&midi, 2, 480), 1);
    EXPECT_EQ(Talvoren::ToMidi(&loaded.file, &midi, 30), 0);
    EXPECT_TRUE(NothingAppended(midi));
    EXPECT_TRUE(AllPassCountersZero(loaded.file));
    Talvoren::FreeMidiFileStruct(&midi);
    // At a smaller grain the same song fits: the limits count ticks, not measures.
    const ConvertChecks::Rendering fine = Render(&loaded.file, 1);
    EXPECT_EQ(fine.converted, 1);
    EXPECT_EQ(smf::Check(fine.bytes), "");
}

// ---------------------------------------------------------------------------
// Triplet feel: the positions kept per track give the lengths GetBeatPulseCount gives.

TEST(ToMidiTripletFeel, NoteStartsFollowTheBeatLengths) {
    const std::int8_t durations[] = {1, 1, 2, 1, 1, 0, 1, 3, 3, 1, 2, 2, 1, 1};
    std::vector<gp4::Beat> first, second;
    for (std::int8_t duration : durations) first.push_back(gp4::NoteBeat(duration, {{1, 0}}));
    for (std::size_t index = 0; index < 8; ++index) second.push_back(gp4::NoteBeat(gp4::Duration::Eighth, {{2, 0}}));
    second[1].flags |= gp4::BeatBits::Dotted;
    gp4::Song song;
    song.tripletFeel = 1;
    song.measures = {gp4::TimeSignature(4, 4), gp4::MeasureHeader()};
    song.tracks = {gp4::Track(), gp4::Track()};
    song.beats = {{first, second}, {second, first}};
    LoadedSong loaded(song);
    const smf::File file = RenderParsed(&loaded.file);
    for (std::uint32_t track = 0; track < 2; ++track) {
        std::vector<std::uint64_t> expected;
        for (std::uint32_t measure = 0; measure < 2; ++measure) {
            std::uint64_t tick = measure * 1920u;
            const Talvoren::MeasureTrackPair &pair = loaded.file.body.measureTrackPairs[measure][track];
            for (std::uint32_t beat = 0; beat < pair.beatCount && tick < (measure + 1) * 1920u; ++beat) {
                expected.push_back(tick);
                tick += Talvoren::GetBeatPulseCount(&loaded.file, measure, track, beat, 30);
            }
        }
        std::vector<std::uint64_t> starts;
        for (const smf::Note &note : smf::NoteOns(file.tracks[track + 1])) starts.push_back(note.tick);
        EXPECT_EQ(starts, expected) << "track " << track;
    }
}

// ---------------------------------------------------------------------------
// Failed allocations: every one, once; nothing leaks, and a conversion that
// could not append every event hands out nothing rather than a file that
// lacks events or ends.

TEST(MidiExportAllocation, EveryFailureGivesOneOfTheDefinedResults) {
    for (int variant = 0; variant < 2; ++variant) {  // without and with triplet feel
        const std::string path = gp4::WriteTempFile(gp4::WriteSong(gp4::FeatureRichSong(variant)), "allocation");
        ZELTO_Unload();
        ASSERT_EQ(ZELTO_Load(path.c_str()), 1);
        gp4::RemoveTempFile(path);
        const std::size_t liveBefore = TestHeap::LiveBlocks();
        TestHeap::Reset();
        unsigned char *whole = nullptr;
        std::uint32_t wholeSize = 0;
        ASSERT_EQ(ZELTO_CreateMidiBuffer(&whole, &wholeSize), 1);
        ASSERT_NE(whole, nullptr);
        const smf::Bytes expected(whole, whole + wholeSize);
        ZELTO_DestroyMidiBuffer(whole);
        const std::size_t requests = TestHeap::Requests();
        for (std::size_t failing = 1; failing <= requests + 1; ++failing) {
            TestHeap::Reset();
            TestHeap::FailAllocation(failing);
            unsigned char sentinel = 0;
            unsigned char *buffer = &sentinel;
            std::uint32_t size = 5;
            const int result = ZELTO_CreateMidiBuffer(&buffer, &size);
            SCOPED_TRACE("allocation " + std::to_string(failing) + " failed");
            if (failing == 1) {
                // The model's track array: nothing written to the host's variables.
                EXPECT_EQ(result, 0);
                EXPECT_EQ(buffer, &sentinel);
                EXPECT_EQ(size, 5u);
            } else if (!TestHeap::FailureHappened()) {
                ASSERT_NE(buffer, nullptr);
                EXPECT_EQ(smf::Bytes(buffer, buffer + size), expected);
            } else {
                // Any event that could not be appended: no file rather than one that lacks it.
                EXPECT_EQ(result, 1);
                EXPECT_EQ(buffer, nullptr);
                EXPECT_EQ(size, 0u);
            }
            if (buffer != &sentinel) ZELTO_DestroyMidiBuffer(buffer);
            EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore);
            EXPECT_TRUE(AllPassCountersZero(*Talvoren::theFileStruct));
        }
        TestHeap::Reset();
        ZELTO_Unload();
    }
}

}  // namespace
