// reader_window_test.cpp - LoadFileStruct reads the stream it loads through a
// window of its bytes. Whatever the window's size, a load must read the same
// song, fail on the same files, leave the stream at the same position and
// release everything, as reading the stream field by field does.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "reader_checks.h"
#include "song_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>

namespace {

using ReaderChecks::ExpectSongMatches;
using ReaderChecks::OpenBytes;
using Talvoren::FileStruct;

// Sets the window's size for one test; 0 reads the stream field by field.
class WindowSize {
public:
    explicit WindowSize(std::size_t capacity) : saved(Talvoren::windowCapacity) {
        Talvoren::windowCapacity = capacity;
    }
    ~WindowSize() { Talvoren::windowCapacity = saved; }
    WindowSize(const WindowSize &) = delete;
    WindowSize &operator=(const WindowSize &) = delete;

private:
    std::size_t saved;
};

const std::size_t windowSizes[] = {1, 2, 3, 4, 5, 7, 8, 13, 31, 64, 255, 4096, sizeof Talvoren::windowBytes};

// The pair's beats that hold any block of their own: bit b for beat b below
// 31, bit 31 for any later one.
std::uint32_t OwningBeats(const Talvoren::MeasureTrackPair &pair) {
    std::uint32_t bits = 0;
    for (std::uint32_t index = 0; index < pair.beatCount; ++index) {
        const Talvoren::Beat &beat = pair.beats[index];
        bool owns = beat.chordDiagram != nullptr || beat.text != nullptr || beat.beatEffect != nullptr ||
                    beat.mixTableEvent != nullptr;
        for (const Talvoren::Note &note : beat.notes) owns = owns || note.effect != nullptr;
        if (owns) bits |= index < 31 ? 1u << index : 1u << 31;
    }
    return bits;
}

// The pairs whose owner bits are not those of their owning beats: the
// release would skip a block there (and leak it), or visit beats for nothing.
std::size_t CountWrongOwnerBits(const FileStruct &file) {
    std::size_t wrong = 0;
    for (std::uint32_t measure = 0; measure < file.headers.pieceInfo.measureCount; ++measure)
        for (std::uint32_t track = 0; track < file.headers.pieceInfo.trackCount; ++track) {
            const Talvoren::MeasureTrackPair &pair = file.body.measureTrackPairs[measure][track];
            if (pair.owners != OwningBeats(pair)) ++wrong;
        }
    return wrong;
}

// One load of the bytes with the window of that size (0: field by field).
struct LoadOutcome {
    int result = 0;
    long position = -1;       // where the stream stands afterwards
    std::string song;         // every field, when loaded
    std::size_t leaked = 0;   // blocks left after the song was released
    std::size_t wrongOwnerBits = 0;
};

LoadOutcome Load(const gp4::Bytes &bytes, std::size_t capacity) {
    WindowSize window(capacity);
    LoadOutcome outcome;
    const std::size_t liveBefore = TestHeap::LiveBlocks();
    ReaderChecks::Stream stream = OpenBytes(bytes);
    FileStruct file;
    outcome.result = Talvoren::LoadFileStruct(&file, stream.get());
    outcome.position = std::ftell(stream.get());
    if (outcome.result == 1) {
        outcome.song = SongText::Describe(file);
        outcome.wrongOwnerBits = CountWrongOwnerBits(file);
    }
    Talvoren::FreeFileStruct(&file);
    outcome.leaked = TestHeap::LiveBlocks() - liveBefore;
    return outcome;
}

void ExpectSameLoads(const gp4::Bytes &bytes, const std::string &what) {
    const LoadOutcome direct = Load(bytes, 0);
    EXPECT_EQ(direct.leaked, 0u) << what;
    EXPECT_EQ(direct.wrongOwnerBits, 0u) << what;
    for (std::size_t capacity : windowSizes) {
        const LoadOutcome windowed = Load(bytes, capacity);
        EXPECT_EQ(windowed.result, direct.result) << what << ", window of " << capacity;
        EXPECT_EQ(windowed.position, direct.position) << what << ", window of " << capacity;
        EXPECT_EQ(windowed.song, direct.song) << what << ", window of " << capacity;
        EXPECT_EQ(windowed.leaked, 0u) << what << ", window of " << capacity;
        EXPECT_EQ(windowed.wrongOwnerBits, 0u) << what << ", window of " << capacity;
        if (::testing::Test::HasFailure()) return;
    }
}

// ---------------------------------------------------------------------------

TEST(ReaderWindow, EveryFieldAtEveryWindowSize) {
    for (int variant = 0; variant < 2; ++variant) {
        const gp4::Song song = gp4::FeatureRichSong(variant);
        const gp4::Bytes bytes = gp4::WriteSong(song);
        for (std::size_t capacity : windowSizes) {
            SCOPED_TRACE("variant " + std::to_string(variant) + ", window of " + std::to_string(capacity));
            WindowSize window(capacity);
            ReaderChecks::Stream stream = OpenBytes(bytes);
            FileStruct file;
            ASSERT_EQ(Talvoren::LoadFileStruct(&file, stream.get()), 1);
            ExpectSongMatches(file, song);
            EXPECT_EQ(ReaderChecks::Position(stream), static_cast<long>(bytes.size()));
            Talvoren::FreeFileStruct(&file);
        }
    }
}

TEST(ReaderWindow, SameLoadsAsFieldByField) {
    ExpectSameLoads(gp4::WriteSong(gp4::MinimalSong()), "the minimal song");
    ExpectSameLoads(gp4::WriteSong(gp4::FeatureRichSong(0)), "the feature-rich song");
    gp4::Bytes trailing = gp4::WriteSong(gp4::FeatureRichSong(1));
    trailing.insert(trailing.end(), {1, 2, 3, 4, 5, 6, 7});
    ExpectSameLoads(trailing, "a song with bytes after its end");
    ExpectSameLoads(gp4::Bytes(), "an empty file");
}

// A name longer than its field runs into the bytes after the field, and the
// reader then steps back to the field's end: a seek behind the window.
TEST(ReaderWindow, NamesLongerThanTheirFieldStepBack) {
    gp4::Song song = gp4::FeatureRichSong(0);
    song.tracks[0].name = std::string(90, 'n');
    song.tracks[1].name = std::string(41, 'o');
    ExpectSameLoads(gp4::WriteSong(song), "track names past their field");
    gp4::Song chords = gp4::FeatureRichSong(1);
    for (auto &row : chords.beats)
        for (auto &pair : row)
            for (gp4::Beat &beat : pair)
                if (beat.flags & gp4::BeatBits::Chord) beat.chord.name = std::string(60, 'c');
    ExpectSameLoads(gp4::WriteSong(chords), "chord names past their field");
}

// Files cut short anywhere fail alike; so do files whose bytes were changed
// at random, which make counts lie, strings run past the end, and versions
// or formats go wrong.
TEST(ReaderWindow, DamagedFilesFailOrLoadAlike) {
    const gp4::Bytes bytes = gp4::WriteSong(gp4::FeatureRichSong(1));
    for (std::size_t length = 0; length < bytes.size(); length += 7) {
        ExpectSameLoads(gp4::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(length)),
                        "the first " + std::to_string(length) + " bytes");
        if (HasFailure()) return;
    }
    std::mt19937 engine(20240611);
    std::uniform_int_distribution<std::size_t> offsetOf(31, bytes.size() - 1);
    std::uniform_int_distribution<int> byteOf(0, 255);
    for (int variant = 0; variant < 300; ++variant) {
        gp4::Bytes damaged = bytes;
        for (int change = 0; change < 1 + variant % 4; ++change)
            damaged[offsetOf(engine)] = static_cast<std::uint8_t>(byteOf(engine));
        ExpectSameLoads(damaged, "damaged file " + std::to_string(variant));
        if (HasFailure()) return;
    }
}

TEST(ReaderWindow, EveryPrefixFailsThroughSmallWindows) {
    const gp4::Bytes bytes = gp4::WriteSong(gp4::FeatureRichSong(0));
    for (std::size_t capacity : {1, 3, 16}) {
        SCOPED_TRACE("window of " + std::to_string(capacity));
        WindowSize window(capacity);
        ReaderChecks::ExpectEveryPrefixFails(bytes, [](std::FILE *stream) {
            FileStruct file;
            const int loaded = Talvoren::LoadFileStruct(&file, stream);
            Talvoren::FreeFileStruct(&file);
            return loaded == 1;
        });
    }
}

TEST(ReaderWindow, FailedAllocationsLeaveNothingThroughASmallWindow) {
    const gp4::Bytes bytes = gp4::WriteSong(gp4::FeatureRichSong(1));
    WindowSize window(5);
    const std::size_t liveBefore = TestHeap::LiveBlocks();
    for (std::size_t failing = 1;; ++failing) {
        TestHeap::Reset();
        TestHeap::FailAllocation(failing);
        ReaderChecks::Stream stream = OpenBytes(bytes);
        FileStruct file;
        const int loaded = Talvoren::LoadFileStruct(&file, stream.get());
        const bool failed = TestHeap::FailureHappened();
        TestHeap::Reset();
        Talvoren::FreeFileStruct(&file);
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore) << "allocation " << failing;
        if (!failed) {
            EXPECT_EQ(loaded, 1);
            break;
        }
    }
}

// A reader called on its own reads its stream directly, also while the
// window is in use for nothing else.
TEST(ReaderWindow, ReadersCalledOnTheirOwnReadTheStream) {
    gp4::Bytes bytes;
    gp4::WriteTrack(bytes, gp4::Track());
    ReaderChecks::Stream stream = OpenBytes(bytes);
    Talvoren::Track track;
    ASSERT_EQ(Talvoren::LoadTrack(&track, stream.get()), 1);
    EXPECT_EQ(ReaderChecks::Position(stream), 98);
    EXPECT_EQ(track.midiChannel, 1u);
    Talvoren::FreeTrack(&track);
}

}  // namespace
