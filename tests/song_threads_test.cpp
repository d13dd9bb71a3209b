// song_threads_test.cpp - song handles on four threads at once, each loading,
// reading and rendering a song of its own over and over, and one song
// rendered on four threads at once, give what the same songs give one at a
// time.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "gp4_writer.h"
#include "zelto.h"
#include "zelto_song.h"

namespace {

// A song longer than the reader's window, so that every load refills it many times.
gp4::Song LongSong(int seed) {
    gp4::Song song = gp4::FeatureRichSong(seed % 2);
    const std::size_t measureCount = 300 + 40 * static_cast<std::size_t>(seed);
    song.measures.resize(measureCount);
    song.beats.resize(measureCount, std::vector<std::vector<gp4::Beat>>(song.tracks.size()));
    for (std::size_t measure = 4; measure < measureCount; ++measure)
        for (std::size_t track = 0; track < song.tracks.size(); ++track)
            for (int beat = 0; beat < 8; ++beat)
                song.beats[measure][track].push_back(gp4::NoteBeat(
                    gp4::Duration::Eighth, {{1 + beat % 4, static_cast<int>((measure + track + seed) % 20)}}));
    return song;
}

// What a host sees of a song: every beat and note field, and both renderings.
struct Reading {
    int result = -1;
    std::vector<std::uint32_t> body;
    std::vector<unsigned char> midi;
    std::vector<unsigned char> performed;
    bool operator==(const Reading &other) const {
        return result == other.result && body == other.body && midi == other.midi && performed == other.performed;
    }
};

Reading ReadSong(const std::string &path) {
    Reading reading;
    ZELTO_Song *song = nullptr;
    reading.result = ZELTO_SongOpen(path.c_str(), &song);
    if (reading.result != ZELTO_SONG_OK) return reading;
    ZELTO_SongInfo info{};
    ZELTO_SongGetInfo(song, &info);
    for (std::uint32_t track = 0; track < info.trackCount; ++track) {
        std::uint32_t beatCount = 0, noteCount = 0;
        ZELTO_SongGetBeats(song, track, 0, info.measureCount, nullptr, 0, &beatCount, nullptr, 0, &noteCount, nullptr);
        std::vector<ZELTO_SongBeat> beats(beatCount);
        std::vector<ZELTO_SongNote> notes(noteCount);
        ZELTO_SongGetBeats(song, track, 0, info.measureCount, beats.data(), beatCount, &beatCount, notes.data(),
                           noteCount, &noteCount, nullptr);
        for (const ZELTO_SongBeat &beat : beats)
            reading.body.insert(reading.body.end(), {beat.flags, beat.stringFlags, beat.noteCount});
        for (const ZELTO_SongNote &note : notes)
            reading.body.insert(reading.body.end(), {note.string, note.fret, note.flags});
    }
    for (std::uint32_t rendering : {ZELTO_SONG_MIDI_PLAIN, ZELTO_SONG_MIDI_PERFORMED}) {
        unsigned char *buffer = nullptr;
        std::uint32_t size = 0;
        std::vector<unsigned char> &bytes = rendering == ZELTO_SONG_MIDI_PLAIN ? reading.midi : reading.performed;
        if (ZELTO_SongCreateMidiBuffer(song, rendering, &buffer, &size) == ZELTO_SONG_OK)
            bytes.assign(buffer, buffer + size);
        ZELTO_DestroyMidiBuffer(buffer);
    }
    ZELTO_SongClose(song);
    return reading;
}

TEST(SongThreads, FourThreadsLoadReadAndRenderAsOneAtATime) {
    std::vector<std::string> paths;
    for (int seed = 0; seed < 4; ++seed) paths.push_back(gp4::WriteTempFile(gp4::WriteSong(LongSong(seed)), "thread"));
    // One song of the four is cut off: its failure must stay its own.
    gp4::Bytes cut = gp4::WriteSong(LongSong(3));
    cut.resize(cut.size() / 2);
    paths[3] = gp4::WriteTempFile(cut, "thread-cut");

    std::vector<Reading> alone;
    for (const std::string &path : paths) alone.push_back(ReadSong(path));
    ASSERT_EQ(alone[0].result, ZELTO_SONG_OK);
    ASSERT_FALSE(alone[0].midi.empty());
    ASSERT_FALSE(alone[0].performed.empty());
    ASSERT_EQ(alone[3].result, ZELTO_SONG_CUT_OFF);

    constexpr int rounds = 12;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (std::size_t thread = 0; thread < paths.size(); ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < rounds; ++round)
                if (!(ReadSong(paths[thread]) == alone[thread])) ++mismatches;
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

// Both renderings of one open song, as the caller's bytes; empty when it fails.
std::vector<unsigned char> Render(ZELTO_Song *song, std::uint32_t rendering) {
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    std::vector<unsigned char> bytes;
    if (ZELTO_SongCreateMidiBuffer(song, rendering, &buffer, &size) == ZELTO_SONG_OK)
        bytes.assign(buffer, buffer + size);
    ZELTO_DestroyMidiBuffer(buffer);
    return bytes;
}

// The plain rendering walks the repeats with pass counters: four threads
// walking one song's repeats at once must each hear every pass.
TEST(SongThreads, OneSongRenderedOnFourThreadsAsOnOne) {
    gp4::Song written = LongSong(1);
    written.measures[10].flags |= gp4::MeasureBits::BeginRepeat;
    written.measures[40].flags |= gp4::MeasureBits::EndRepeat;
    written.measures[40].repeatCount = 3;
    written.measures[90].flags |= gp4::MeasureBits::EndRepeat;
    written.measures[90].repeatCount = 2;
    const std::string path = gp4::WriteTempFile(gp4::WriteSong(written), "one-song");
    ZELTO_Song *song = nullptr;
    ASSERT_EQ(ZELTO_SongOpen(path.c_str(), &song), ZELTO_SONG_OK);
    gp4::RemoveTempFile(path);
    const std::vector<unsigned char> plain = Render(song, ZELTO_SONG_MIDI_PLAIN);
    const std::vector<unsigned char> performed = Render(song, ZELTO_SONG_MIDI_PERFORMED);
    ASSERT_FALSE(plain.empty());
    ASSERT_FALSE(performed.empty());

    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int thread = 0; thread < 4; ++thread) {
        threads.emplace_back([&, thread] {
            for (int round = 0; round < 8; ++round) {
                if (Render(song, ZELTO_SONG_MIDI_PLAIN) != plain) ++mismatches;
                // Half the threads mix in the performed rendering and the queries.
                if (thread % 2 == 0) continue;
                if (Render(song, ZELTO_SONG_MIDI_PERFORMED) != performed) ++mismatches;
                ZELTO_SongMeasure header{};
                if (!ZELTO_SongGetMeasure(song, 40, &header) || header.repeatCount != 3) ++mismatches;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(Render(song, ZELTO_SONG_MIDI_PLAIN), plain);
    ZELTO_SongClose(song);
}

}  // namespace
