// reader_limits_test.cpp - untrusted counts and lengths: a count or string
// length that cannot fit in the rest of the file is refused before anything
// is allocated for it, counts that just fit still load, and a lyrics line
// whose text cannot be stored is stepped over.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "reader_checks.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using ReaderChecks::OpenBytes;

class LimitsTest : public ReaderChecks::ReaderTest {
protected:
    void TearDown() override {
        Talvoren::FreeFileStruct(&file);
        ReaderTest::TearDown();
    }
    int Load(const gp4::Bytes &bytes, std::size_t length = SIZE_MAX) {
        ReaderChecks::Stream stream = OpenBytes(bytes, length);
        return Talvoren::LoadFileStruct(&file, stream.get());
    }
    Talvoren::FileStruct file = {};
};

// A minimal song whose only note carries a bend: the points are the file's last bytes.
gp4::Song SongEndingInABend(std::size_t pointCount) {
    gp4::Song song = gp4::MinimalSong();
    gp4::Note &note = song.beats[0][0][0].notes[0];
    note.flags |= gp4::NoteBits::Effects;
    note.effects.flags1 = gp4::NoteEffectBits::Bend;
    note.effects.bend.points.resize(pointCount);
    return song;
}

// The offset of the first lyrics line's length field in a written song.
std::size_t FirstLyricsLengthOffset(const gp4::Song &song) {
    gp4::Bytes header;
    gp4::WriteSongHeader(header, song);
    std::size_t lyricsBytes = 4;
    for (const gp4::LyricsLine &line : song.lyrics) lyricsBytes += 8 + line.text.size();
    return header.size() - 785 - lyricsBytes + 4 + 4;
}

// How many allocations a load makes before the first lyrics line's: the
// version's, then those of the song information.
std::size_t AllocationsBeforeLyrics(const gp4::Bytes &bytes) {
    ReaderChecks::Stream stream = OpenBytes(bytes);
    Talvoren::TabInfo tabInfo = {};
    std::size_t requestsBefore = TestHeap::Requests();
    if (std::fseek(stream.get(), 31, SEEK_SET) != 0 || !Talvoren::LoadTabInfo(&tabInfo, stream.get()))
        ADD_FAILURE() << "the song information does not load";
    std::size_t allocations = 1 + TestHeap::Requests() - requestsBefore;
    Talvoren::FreeTabInfo(&tabInfo);
    return allocations;
}

struct HugeCount {
    const char *what;
    gp4::Bytes bytes;
};

// Each kind of count, and a string length of 0xFFFFFFFF, announced in a
// tiny file: the load fails at once, and nothing the reader asked for comes
// near what the count would have needed.
TEST_F(LimitsTest, HugeCountsFailWithoutLargeAllocations) {
    std::vector<HugeCount> cases;
    {
        gp4::Song song = gp4::MinimalSong();
        song.noticeLineCountOverride = 0xFFFFFFFFu;
        cases.push_back({"notice line count", gp4::WriteSong(song)});
        song.noticeLineCountOverride = 1000;  // 5000 bytes, more than the file
        cases.push_back({"notice line count just too large", gp4::WriteSong(song)});
    }
    {
        gp4::Song song = gp4::MinimalSong();
        song.measureCountOverride = 0xFFFFFFFFu;
        cases.push_back({"measure count", gp4::WriteSong(song)});
    }
    {
        gp4::Song song = gp4::MinimalSong();
        song.trackCountOverride = 0xFFFFFFFFu;
        cases.push_back({"track count", gp4::WriteSong(song)});
        song.trackCountOverride = 0x00FFFFFFu;
        cases.push_back({"track count below 2^24", gp4::WriteSong(song)});
    }
    {
        gp4::Song song = gp4::MinimalSong();
        song.beatCountOverrides[{0, 0}] = 0xFFFFFFFFu;
        cases.push_back({"beat count", gp4::WriteSong(song)});
    }
    {
        gp4::Song song = SongEndingInABend(1);
        song.beats[0][0][0].notes[0].effects.bend.pointCountOverride = 0xFFFFFFFFu;
        cases.push_back({"bend point count", gp4::WriteSong(song)});
    }
    {
        gp4::Song song = gp4::MinimalSong();
        gp4::Beat &beat = song.beats[0][0][0];
        beat.flags |= gp4::BeatBits::Effects;
        beat.effects.flags2 = gp4::BeatEffectBits::TremoloBar;
        beat.effects.tremoloBar.pointCountOverride = 0x1C71C71Cu;  // 9 x count just fits 32 bits
        cases.push_back({"tremolo bar point count", gp4::WriteSong(song)});
    }
    {
        gp4::Song song = gp4::MinimalSong();
        gp4::Bytes bytes = gp4::WriteSong(song);
        std::size_t lengthAt = FirstLyricsLengthOffset(song);
        for (std::size_t index = 0; index < 4; ++index) bytes[lengthAt + index] = 0xFF;
        cases.push_back({"lyrics line length 0xFFFFFFFF", bytes});
    }
    for (const HugeCount &hugeCount : cases) {
        SCOPED_TRACE(hugeCount.what);
        TestHeap::Reset();
        EXPECT_EQ(Load(hugeCount.bytes), 0);
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore);
        EXPECT_LE(TestHeap::LargestRequest(), hugeCount.bytes.size());
        EXPECT_LE(TestHeap::TotalRequested(), hugeCount.bytes.size());
        Talvoren::FreeFileStruct(&file);
    }
}

// Counts that exactly fill the rest of the file are not refused; one more
// is, before its array is allocated.
TEST_F(LimitsTest, CountsThatJustFitStillLoad) {
    gp4::Song beats = gp4::MinimalSong();
    beats.beats[0][0] = std::vector<gp4::Beat>(5);  // 3 bytes each, the file's last bytes
    gp4::Song measures;
    measures.measures = std::vector<gp4::MeasureHeader>(3);  // 1 byte each, no tracks
    gp4::Song tracks;
    tracks.tracks = std::vector<gp4::Track>(2);  // 98 bytes each, no measures
    gp4::Song points = SongEndingInABend(20);  // one more needs more than any other block

    struct Fit {
        const char *what;
        gp4::Song song;
        std::size_t elementSize;  // of the array one more element would need
    };
    const Fit fits[] = {
        {"beats", beats, sizeof(Talvoren::Beat)},
        {"measures", measures, sizeof(Talvoren::Measure)},
        {"tracks", tracks, sizeof(Talvoren::Track)},
        {"bend points", points, sizeof(Talvoren::BendPoint)},
    };
    for (const Fit &fit : fits) {
        SCOPED_TRACE(fit.what);
        ASSERT_EQ(Load(gp4::WriteSong(fit.song)), 1);
        ReaderChecks::ExpectSongMatches(file, fit.song);
        Talvoren::FreeFileStruct(&file);

        gp4::Song oneMore = fit.song;
        std::size_t count = 0;
        if (fit.elementSize == sizeof(Talvoren::Beat)) {
            count = oneMore.beats[0][0].size() + 1;
            oneMore.beatCountOverrides[{0, 0}] = static_cast<std::uint32_t>(count);
        } else if (fit.elementSize == sizeof(Talvoren::Measure)) {
            count = oneMore.measures.size() + 1;
            oneMore.measureCountOverride = static_cast<std::uint32_t>(count);
        } else if (fit.elementSize == sizeof(Talvoren::Track)) {
            count = oneMore.tracks.size() + 1;
            oneMore.trackCountOverride = static_cast<std::uint32_t>(count);
        } else {
            gp4::Bend &bend = oneMore.beats[0][0][0].notes[0].effects.bend;
            count = bend.points.size() + 1;
            bend.pointCountOverride = static_cast<std::uint32_t>(count);
        }
        TestHeap::Reset();
        EXPECT_EQ(Load(gp4::WriteSong(oneMore)), 0);
        EXPECT_LT(TestHeap::LargestRequest(), count * fit.elementSize);
        Talvoren::FreeFileStruct(&file);
    }
}

// Rows of measure-track pairs that cannot fit are refused before the row
// array or any row is allocated: cutting the file just after the tracks or
// a little later makes the same requests.
TEST_F(LimitsTest, PairsThatCannotFitAllocateNoRows) {
    gp4::Song song;
    song.measures = std::vector<gp4::MeasureHeader>(200);
    song.tracks = std::vector<gp4::Track>(50);
    gp4::Bytes bytes = gp4::WriteSong(song);
    gp4::Bytes header;
    gp4::WriteSongHeader(header, song);
    std::size_t tracksEnd = header.size() + 200 + 50 * 98;
    TestHeap::Reset();
    EXPECT_EQ(Load(bytes, tracksEnd), 0);
    std::size_t requestsAtTracksEnd = TestHeap::Requests();
    Talvoren::FreeFileStruct(&file);
    TestHeap::Reset();
    EXPECT_EQ(Load(bytes, tracksEnd + 400), 0);
    EXPECT_EQ(TestHeap::Requests(), requestsAtTracksEnd);
    Talvoren::FreeFileStruct(&file);
    ASSERT_EQ(Load(bytes), 1);
    ReaderChecks::ExpectSongMatches(file, song);
}

TEST_F(LimitsTest, ArraySizesThatOverflowAreRefusedWithoutARequest) {
    TestHeap::Reset();
    EXPECT_EQ(Talvoren::AllocateArray(SIZE_MAX / 2 + 1, 2), nullptr);
    EXPECT_EQ(Talvoren::AllocateArray(SIZE_MAX, sizeof(Talvoren::Beat)), nullptr);
    EXPECT_EQ(TestHeap::Requests(), 0u);
    void *empty = Talvoren::AllocateArray(0, sizeof(Talvoren::Beat));
    EXPECT_NE(empty, nullptr) << "an empty array is not a failure";
    Talvoren::MemFree(empty);
}

TEST_F(LimitsTest, StringLengthBeyondTheFileIsRefusedBeforeAllocating) {
    gp4::Bytes bytes = {0xFF, 0xFF, 0xFF, 0xFF};
    gp4::WriteText(bytes, "only a few bytes");
    ReaderChecks::Stream stream = OpenBytes(bytes);
    TestHeap::Reset();
    EXPECT_EQ(Talvoren::CreateStringInt(stream.get()), nullptr);
    EXPECT_EQ(TestHeap::Requests(), 0u);
    EXPECT_EQ(ReaderChecks::Position(stream), static_cast<long>(bytes.size()));

    gp4::Bytes byteForm = {200};
    gp4::WriteText(byteForm, std::string(199, 'q'));
    stream = OpenBytes(byteForm);
    EXPECT_EQ(Talvoren::CreateStringByte(stream.get()), nullptr);
    EXPECT_EQ(TestHeap::Requests(), 0u);
    EXPECT_EQ(ReaderChecks::Position(stream), static_cast<long>(byteForm.size()));
}

// --- lyrics lines that cannot be stored ---------------------------------------

// Refusing exactly the allocation of one lyrics line leaves that line null
// and reads everything after it from the right place.
TEST_F(LimitsTest, LyricsLineThatCannotBeStoredIsSteppedOver) {
    gp4::Song song = gp4::FeatureRichSong();
    song.lyrics[1].text = std::string(300, 'L');
    song.lyrics[3].text = std::string(7, '\0');
    gp4::Bytes bytes = gp4::WriteSong(song);

    const std::size_t allocationsBeforeLyrics = AllocationsBeforeLyrics(bytes);

    for (int line = 0; line < 5; ++line) {
        SCOPED_TRACE("lyrics line " + std::to_string(line));
        TestHeap::Reset();
        TestHeap::FailAllocation(allocationsBeforeLyrics + static_cast<std::size_t>(line) + 1);
        ASSERT_EQ(Load(bytes), 1);
        EXPECT_EQ(TestHeap::Current().failures, 1u);
        ReaderChecks::ExpectSongMatches(file, song, line);
        Talvoren::FreeFileStruct(&file);
    }
}

// The stepped-over text must still lie inside the file: a line cut off by
// the end still fails the load, whether or not its allocation would fail.
TEST_F(LimitsTest, LyricsLineCutOffStillFailsWhenAllocationsFail) {
    gp4::Song song = gp4::MinimalSong();
    song.lyrics[4].text = std::string(40, 'x');
    gp4::Bytes bytes = gp4::WriteSong(song);
    gp4::Bytes header;
    gp4::WriteSongHeader(header, song);
    std::size_t cutInsideLastLine = header.size() - 785 - 20;
    TestHeap::Reset();
    TestHeap::FailAllocation(AllocationsBeforeLyrics(bytes) + 5);
    EXPECT_EQ(Load(bytes, cutInsideLastLine), 0);
    EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore);
}

// --- streams whose size cannot be learnt ----------------------------------------

// A pipe cannot be measured or rewound: the load fails at the seek past the
// version field instead of misreading, and leaves nothing behind.
TEST_F(LimitsTest, UnseekableStreamFailsCleanly) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    gp4::Bytes bytes = gp4::WriteSong(gp4::MinimalSong());
    ASSERT_EQ(write(ends[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(ends[1]);
    std::FILE *stream = fdopen(ends[0], "rb");
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(Talvoren::LoadFileStruct(&file, stream), 0);
    std::fclose(stream);
}

}  // namespace
