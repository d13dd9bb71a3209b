// held_keys_test.cpp - the clock keeps the keys a beat releases from the
// moment it starts and plays the tracks of a measure one after another, each
// with its own held keys. Songs of one track and of many, with notes that are
// tied, dead, past 127 or on strings the track lacks, must leave the bytes of
// the pulse-by-pulse reference clock.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "gp/convert.cpp"
#include "mid/midi.cpp"
#include "clock_reference.h"
#include "convert_checks.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using ConvertChecks::LoadedSong;
using Converter = int (*)(Talvoren::FileStruct *, Talvoren::MidiFileStruct *, std::uint32_t);

struct Rendered {
    int result = 0;
    std::vector<std::vector<std::uint8_t>> chunks;
};

Rendered RenderWith(Talvoren::FileStruct *file, Converter convert) {
    Rendered rendered;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    for (std::uint32_t track = 0; track < trackCount; ++track) {
        file->body.tracks[track].beatIndex = 0;
        file->body.tracks[track].beatPulsesLeft = 0;
    }
    Talvoren::MidiFileStruct midi;
    if (Talvoren::InitMidiFileStruct(&midi, trackCount + 1, 480) != 1) {
        ADD_FAILURE() << "the model could not be set up";
        return rendered;
    }
    rendered.result = convert(file, &midi, 30);
    for (std::uint32_t chunk = 0; chunk <= trackCount; ++chunk) {
        const auto *first = reinterpret_cast<const std::uint8_t *>(midi.tracks[chunk].events);
        const std::uint32_t length = Talvoren::DwordValue(midi.tracks[chunk].header.length);
        rendered.chunks.emplace_back(first, first == nullptr ? first : first + length);
    }
    Talvoren::FreeMidiFileStruct(&midi);
    return rendered;
}

// A beat whose notes mix normal, tied and dead notes, keys past 127 and
// strings the track lacks; some beats are rests or empty, and the last beat
// of a measure may end early, so that it is released twice.
gp4::Beat MixedBeat(std::mt19937 &dice, bool last) {
    gp4::Beat beat;
    beat.duration = last && dice() % 3 == 0 ? 2 : static_cast<std::int8_t>(dice() % 3);
    if (dice() % 6 == 0) {
        beat.flags |= gp4::BeatBits::Status;
        beat.status = static_cast<std::uint8_t>(dice() % 3);
    }
    beat.stringFlags = static_cast<std::uint8_t>(dice() % 128);
    for (gp4::Note &note : beat.notes) {
        note.flags = dice() % 5 == 0 ? gp4::NoteBits::Dynamic : gp4::NoteBits::TypeAndFret | gp4::NoteBits::Dynamic;
        note.type = static_cast<std::uint8_t>(1 + dice() % 3);
        note.dynamic = static_cast<std::uint8_t>(1 + dice() % 8);
        note.fret = static_cast<std::uint8_t>(dice() % 40);
    }
    return beat;
}

gp4::Song ManyTrackSong(int trackCount, std::uint32_t seed) {
    std::mt19937 dice(seed);
    gp4::Song song;
    for (int measure = 0; measure < 4; ++measure) {
        gp4::MeasureHeader header;
        if (measure == 0) {
            header.flags |= gp4::MeasureBits::Numerator | gp4::MeasureBits::Denominator;
            header.numerator = 4;
            header.denominator = 4;
        }
        song.measures.push_back(header);
    }
    for (int track = 0; track < trackCount; ++track) {
        gp4::Track added;
        added.name = "T" + std::to_string(track);
        added.stringCount = 4 + static_cast<std::uint32_t>(track % 4);
        for (std::int32_t &tuning : added.tunings) tuning = static_cast<std::int32_t>(20 + dice() % 100);
        added.port = 1 + static_cast<std::uint32_t>(track % 4);
        added.channel = track % 17 == 16 ? 0 : 1 + static_cast<std::uint32_t>(track % 16);
        added.effectsChannel = added.channel;
        song.tracks.push_back(added);
    }
    song.beats.resize(song.measures.size());
    for (auto &row : song.beats) {
        row.resize(static_cast<std::size_t>(trackCount));
        for (auto &pair : row) {
            const int beatCount = static_cast<int>(dice() % 6);
            for (int beat = 0; beat < beatCount; ++beat) pair.push_back(MixedBeat(dice, beat + 1 == beatCount));
        }
    }
    return song;
}

TEST(HeldKeys, SongsOfOneAndOfManyTracksMatchTheReferenceClock) {
    for (const int trackCount : {1, 63, 64, 65, 90}) {
        LoadedSong loaded(ManyTrackSong(trackCount, static_cast<std::uint32_t>(trackCount)));
        ASSERT_TRUE(loaded.loaded);
        const Rendered clock = RenderWith(&loaded.file, Talvoren::ToMidi);
        const Rendered reference = RenderWith(&loaded.file, ClockReference::ToMidi);
        EXPECT_EQ(clock.result, 1) << trackCount << " tracks";
        EXPECT_EQ(clock.result, reference.result) << trackCount << " tracks";
        ASSERT_EQ(clock.chunks.size(), reference.chunks.size());
        for (std::size_t chunk = 0; chunk < clock.chunks.size(); ++chunk)
            EXPECT_EQ(clock.chunks[chunk], reference.chunks[chunk]) << trackCount << " tracks, chunk " << chunk;
    }
}

}  // namespace
