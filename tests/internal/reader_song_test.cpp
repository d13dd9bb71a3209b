// reader_song_test.cpp - whole songs through LoadFileStruct: every field of
// the writer's songs, the version check, every prefix and every failed
// allocation leaving nothing behind, and the file frame's edge cases.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "reader_checks.h"

#include <gtest/gtest.h>

namespace {

using ReaderChecks::ExpectSongMatches;
using ReaderChecks::OpenBytes;
using Talvoren::FileStruct;

// Loads the first `length` bytes; the record is left for the caller to free.
int LoadPrefix(FileStruct *file, const gp4::Bytes &bytes, std::size_t length = SIZE_MAX) {
    ReaderChecks::Stream stream = OpenBytes(bytes, length);
    if (stream == nullptr) return -1;
    return Talvoren::LoadFileStruct(file, stream.get());
}

class SongLoad : public ::testing::Test {
protected:
    void SetUp() override {
        liveBefore = TestHeap::LiveBlocks();
        TestHeap::Reset();
    }
    void TearDown() override {
        Talvoren::FreeFileStruct(&file);
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore) << "blocks leaked";
    }
    FileStruct file = {};
    std::size_t liveBefore = 0;
};

TEST_F(SongLoad, MinimalSongLoadsEveryField) {
    gp4::Song song = gp4::MinimalSong();
    ASSERT_EQ(LoadPrefix(&file, gp4::WriteSong(song)), 1);
    ExpectSongMatches(file, song);
}

TEST_F(SongLoad, FeatureRichSongsLoadEveryField) {
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        gp4::Song song = gp4::FeatureRichSong(variant);
        ASSERT_EQ(LoadPrefix(&file, gp4::WriteSong(song)), 1);
        ExpectSongMatches(file, song);
        Talvoren::FreeFileStruct(&file);
    }
}

TEST_F(SongLoad, HeaderOnlySongHasEmptyBody) {
    gp4::Song song;  // no measures, no tracks
    ASSERT_EQ(LoadPrefix(&file, gp4::WriteSong(song)), 1);
    ExpectSongMatches(file, song);
}

TEST_F(SongLoad, ZeroMeasuresOrZeroTracksReadNoPairs) {
    gp4::Song tracksOnly;
    tracksOnly.tracks = {gp4::Track(), gp4::Track()};
    gp4::Bytes bytes = gp4::WriteSong(tracksOnly);
    ASSERT_EQ(LoadPrefix(&file, bytes), 1);
    ExpectSongMatches(file, tracksOnly);
    Talvoren::FreeFileStruct(&file);

    gp4::Song measuresOnly;
    measuresOnly.measures = {gp4::TimeSignature(3, 4), gp4::MeasureHeader()};
    ASSERT_EQ(LoadPrefix(&file, gp4::WriteSong(measuresOnly)), 1);
    ExpectSongMatches(file, measuresOnly);
    EXPECT_NE(file.body.measureTrackPairs[0], nullptr);
}

TEST_F(SongLoad, BytesAfterTheLastPairAreIgnored) {
    gp4::Song song = gp4::FeatureRichSong();
    gp4::Bytes bytes = gp4::WriteSong(song);
    std::size_t songSize = bytes.size();
    bytes.insert(bytes.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0x12});
    ReaderChecks::Stream stream = OpenBytes(bytes);
    ASSERT_EQ(Talvoren::LoadFileStruct(&file, stream.get()), 1);
    ExpectSongMatches(file, song);
    EXPECT_EQ(ReaderChecks::Position(stream), static_cast<long>(songSize))
        << "the stream stays right after the last measure-track pair";
}

TEST_F(SongLoad, StreamPositionOnEntryDoesNotMatter) {
    gp4::Song song = gp4::MinimalSong();
    ReaderChecks::Stream stream = OpenBytes(gp4::WriteSong(song));
    ASSERT_EQ(std::fseek(stream.get(), 57, SEEK_SET), 0);
    ASSERT_EQ(Talvoren::LoadFileStruct(&file, stream.get()), 1);
    ExpectSongMatches(file, song);
}

TEST_F(SongLoad, FreeingTwiceOrAZeroedRecordIsHarmless) {
    FileStruct zeroed = {};
    Talvoren::FreeFileStruct(&zeroed);
    Talvoren::FreeFileStruct(&zeroed);
    ASSERT_EQ(LoadPrefix(&file, gp4::WriteSong(gp4::FeatureRichSong())), 1);
    Talvoren::FreeFileStruct(&file);
    EXPECT_EQ(file.body.measures, nullptr);
    EXPECT_EQ(file.body.tracks, nullptr);
    EXPECT_EQ(file.body.measureTrackPairs, nullptr);
    EXPECT_EQ(file.headers.version, nullptr);
    EXPECT_EQ(file.headers.tabInfo.noticeLines, nullptr);
    EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore);
    Talvoren::FreeFileStruct(&file);  // and once more in TearDown
}

// --- the version string -----------------------------------------------------

TEST_F(SongLoad, BothVersionsLoadTheSameSong) {
    gp4::Song song = gp4::FeatureRichSong();
    for (const char *version : {"FICHIER GUITAR PRO v4.00", "FICHIER GUITAR PRO v4.06"}) {
        SCOPED_TRACE(version);
        song.version = version;
        ASSERT_EQ(LoadPrefix(&file, gp4::WriteSong(song)), 1);
        ExpectSongMatches(file, song);
        Talvoren::FreeFileStruct(&file);
    }
}

TEST_F(SongLoad, EveryOtherVersionFails) {
    const std::string refused[] = {
        "FICHIER GUITAR PRO v4.0",    // one character short
        "fichier guitar pro v4.00",   // lower case
        "FICHIER GUITAR PRO v3.00",
        "FICHIER GUITAR PRO v5.00",
        "FICHIER GUITAR PRO v4.06 ",  // one character long
        "FICHIER GUITAR PRO  v4.0",   // right length, wrong text
        std::string("FICHIER GUITAR PRO v4.06\0", 25),  // a zero byte after the text
        "",
    };
    for (const std::string &version : refused) {
        SCOPED_TRACE("version \"" + version + "\"");
        gp4::Song song = gp4::MinimalSong();
        song.version = version;
        EXPECT_EQ(LoadPrefix(&file, gp4::WriteSong(song)), 0);
        EXPECT_EQ(file.headers.version, nullptr);
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore);
    }
}

TEST_F(SongLoad, EmptyFileFails) {
    EXPECT_EQ(LoadPrefix(&file, gp4::Bytes()), 0);
    EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore);
}

TEST_F(SongLoad, VersionFillerIsNeverLookedAt) {
    gp4::Song song = gp4::MinimalSong();
    gp4::Bytes bytes = gp4::WriteSong(song);
    for (std::size_t offset = 25; offset < 31; ++offset) bytes[offset] = 'X';
    ASSERT_EQ(LoadPrefix(&file, bytes), 1);
    ExpectSongMatches(file, song);
}

// --- failures anywhere leave nothing ----------------------------------------

// Every prefix of a song fails, with nothing live afterwards; the whole file
// loads, and so does the next good file after all those failures.
TEST_F(SongLoad, EveryPrefixFailsCleanly) {
    for (int variant = 0; variant < 2; ++variant) {
        SCOPED_TRACE("variant " + std::to_string(variant));
        gp4::Song song = gp4::FeatureRichSong(variant);
        gp4::Bytes bytes = gp4::WriteSong(song);
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            ASSERT_EQ(LoadPrefix(&file, bytes, length), 0) << "prefix of " << length << " bytes loaded";
            ASSERT_EQ(TestHeap::LiveBlocks(), liveBefore) << "prefix of " << length << " bytes leaked";
            Talvoren::FreeFileStruct(&file);  // a failed record may be freed again
        }
        ASSERT_EQ(LoadPrefix(&file, bytes), 1);
        ExpectSongMatches(file, song);
        Talvoren::FreeFileStruct(&file);
    }
    gp4::Song next = gp4::MinimalSong();
    ASSERT_EQ(LoadPrefix(&file, gp4::WriteSong(next)), 1);
    ExpectSongMatches(file, next);
}

// Failing each allocation in turn: the load fails with nothing live, except
// when the refused block was a lyrics line, which is then left out while
// the rest of the song is read in full.
TEST_F(SongLoad, EveryFailedAllocationFailsCleanly) {
    gp4::Song song = gp4::FeatureRichSong();
    gp4::Bytes bytes = gp4::WriteSong(song);
    std::size_t lyricsLinesFailed = 0;
    for (std::size_t nth = 1;; ++nth) {
        SCOPED_TRACE("allocation " + std::to_string(nth) + " refused");
        TestHeap::Reset();
        TestHeap::FailAllocation(nth);
        int loaded = LoadPrefix(&file, bytes);
        if (!TestHeap::FailureHappened()) {
            ASSERT_EQ(loaded, 1);
            ExpectSongMatches(file, song);
            break;
        }
        if (loaded == 1) {
            int missingLine = -1;
            for (int line = 0; line < 5; ++line)
                if (file.headers.lyricsInfo.lyricsLines[line] == nullptr) missingLine = line;
            ASSERT_NE(missingLine, -1) << "an allocation failed but the load succeeded";
            ExpectSongMatches(file, song, missingLine);
            ++lyricsLinesFailed;
        } else {
            EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore);
        }
        Talvoren::FreeFileStruct(&file);
        ASSERT_EQ(TestHeap::LiveBlocks(), liveBefore);
    }
    EXPECT_EQ(lyricsLinesFailed, 5u);
}

}  // namespace
