// reader_header_test.cpp - the string readers and the song header: song
// information, notice lines, lyrics and piece information.
#include "test_heap.h"
#include "gp/reader.cpp"
#include "reader_checks.h"

#include <gtest/gtest.h>

namespace {

using ReaderChecks::OpenBytes;
using ReaderChecks::Position;

class StringReading : public ReaderChecks::ReaderTest {};

TEST_F(StringReading, LengthZeroGivesAnAllocatedEmptyString) {
    gp4::Bytes bytes = {0x00, 0x00, 0x00, 0x00, 0x00, 0x7E};
    ReaderChecks::Stream stream = OpenBytes(bytes);
    char *byteString = Talvoren::CreateStringByte(stream.get());
    ASSERT_NE(byteString, nullptr);
    EXPECT_STREQ(byteString, "");
    EXPECT_EQ(Position(stream), 1);
    char *intString = Talvoren::CreateStringInt(stream.get());
    ASSERT_NE(intString, nullptr);
    EXPECT_STREQ(intString, "");
    EXPECT_EQ(Position(stream), 5);
    Talvoren::DestroyString(&byteString);
    Talvoren::DestroyString(&intString);
    EXPECT_EQ(byteString, nullptr);
    Talvoren::DestroyString(&byteString);  // releasing twice is harmless
}

TEST_F(StringReading, ZeroBytesInsideTheTextAreCopied) {
    const std::string text("ab\0cd", 5);
    gp4::Bytes bytes;
    gp4::WriteByteSizeString(bytes, text);
    gp4::WriteIntSizeString(bytes, text);
    ReaderChecks::Stream stream = OpenBytes(bytes);
    char *byteString = Talvoren::CreateStringByte(stream.get());
    char *intString = Talvoren::CreateStringInt(stream.get());
    ReaderChecks::ExpectText(byteString, text);
    ReaderChecks::ExpectText(intString, text);
    EXPECT_EQ(Position(stream), static_cast<long>(bytes.size()));
    Talvoren::DestroyString(&byteString);
    Talvoren::DestroyString(&intString);
}

TEST_F(StringReading, TextRunningToTheEndOfTheStreamIsRead) {
    gp4::Bytes bytes;
    gp4::WriteIntSizeString(bytes, "exactly to the end");
    ReaderChecks::Stream stream = OpenBytes(bytes);
    char *text = Talvoren::CreateStringInt(stream.get());
    ReaderChecks::ExpectText(text, "exactly to the end");
    Talvoren::DestroyString(&text);

    gp4::Bytes longest;
    gp4::WriteByteSizeString(longest, std::string(255, 'z'));
    stream = OpenBytes(longest);
    text = Talvoren::CreateStringByte(stream.get());
    ReaderChecks::ExpectText(text, std::string(255, 'z'));
    Talvoren::DestroyString(&text);
}

TEST_F(StringReading, CutOffTextGivesNullAndLeavesTheStreamAtTheEnd) {
    gp4::Bytes byteForm;
    gp4::WriteByteSizeString(byteForm, "twelve bytes");
    gp4::Bytes intForm;
    gp4::WriteIntSizeString(intForm, "twelve bytes");
    for (std::size_t length = 0; length < byteForm.size(); ++length) {
        ReaderChecks::Stream stream = OpenBytes(byteForm, length);
        EXPECT_EQ(Talvoren::CreateStringByte(stream.get()), nullptr) << length;
        EXPECT_EQ(Position(stream), static_cast<long>(length));
    }
    for (std::size_t length = 0; length < intForm.size(); ++length) {
        ReaderChecks::Stream stream = OpenBytes(intForm, length);
        EXPECT_EQ(Talvoren::CreateStringInt(stream.get()), nullptr) << length;
        EXPECT_EQ(Position(stream), static_cast<long>(length));
    }
}

// --- song information --------------------------------------------------------

class HeaderReading : public ReaderChecks::ReaderTest {
protected:
    void TearDown() override {
        Talvoren::FreeHeadersStruct(&headers);
        ReaderTest::TearDown();
    }
    int Load(const gp4::Song &song) {
        ReaderChecks::Stream stream = OpenBytes(gp4::WriteSong(song));
        return Talvoren::LoadHeadersStruct(&headers, stream.get());
    }
    Talvoren::HeadersStruct headers = {};
};

TEST_F(HeaderReading, NoNoticeLinesLeavesTheArrayNullAndTripletFeelFollows) {
    gp4::Song song;
    song.tripletFeel = 2;  // stored as read, even though only 1 means on
    song.lyricsTrack = -7;
    ASSERT_EQ(Load(song), 1);
    EXPECT_EQ(headers.tabInfo.noticeLineCount, 0u);
    EXPECT_EQ(headers.tabInfo.noticeLines, nullptr);
    EXPECT_EQ(headers.tabInfo.tripletFeel, 2);
    EXPECT_EQ(headers.lyricsInfo.lyricsTrack, -7);
}

TEST_F(HeaderReading, EmptyInformationStringsAreAllocated) {
    gp4::Song song;
    song.title = song.subtitle = song.interpret = song.album = "";
    song.author = song.copyright = song.tabAuthor = song.instructions = "";
    song.noticeLines = {"", ""};
    ASSERT_EQ(Load(song), 1);
    const Talvoren::TabInfo &info = headers.tabInfo;
    for (const char *text : {info.title, info.subtitle, info.interpret, info.album, info.author,
                             info.copyright, info.tabAuthor, info.instructions, info.noticeLines[0],
                             info.noticeLines[1]})
        ReaderChecks::ExpectText(text, "");
}

TEST_F(HeaderReading, PieceInformationIsStoredAsRead) {
    gp4::Song song;
    song.tempo = 0;
    song.key = -128;
    song.octave = -5;
    song.channels[3][15].instrument = -1;
    song.channels[3][15].filler = {0xAB, 0xCD};
    song.measureCountOverride = 0x01020304u;
    song.trackCountOverride = 0xA0B0C0D0u;
    ASSERT_EQ(Load(song), 1);
    const Talvoren::GPPieceInfo &piece = headers.pieceInfo;
    EXPECT_EQ(+piece.tempo, 0u);
    EXPECT_EQ(piece.key, -128);
    EXPECT_EQ(+piece.octave, -5);
    EXPECT_EQ(+piece.midiChannels[3][15].instrument, -1);
    EXPECT_EQ(piece.midiChannels[3][15].filler[0], 0xAB);
    EXPECT_EQ(piece.midiChannels[3][15].filler[1], 0xCD);
    EXPECT_EQ(+piece.measureCount, 0x01020304u);
    EXPECT_EQ(+piece.trackCount, 0xA0B0C0D0u);
}

TEST_F(HeaderReading, HeaderOfEveryPrefixFails) {
    gp4::Song song = gp4::FeatureRichSong();
    song.measures.clear();
    song.tracks.clear();
    gp4::Bytes bytes = gp4::WriteSong(song);
    ReaderChecks::ExpectEveryPrefixFails(bytes, [&](std::FILE *stream) {
        int loaded = Talvoren::LoadHeadersStruct(&headers, stream);
        Talvoren::FreeHeadersStruct(&headers);
        return loaded == 1;
    });
}

// --- lyrics --------------------------------------------------------------------

// The lyrics block alone: the track number, then five lines.
gp4::Bytes LyricsBytes(const std::array<std::string, 5> &lines) {
    gp4::Bytes bytes;
    gp4::WriteInt(bytes, 3);
    for (const std::string &line : lines) {
        gp4::WriteInt(bytes, 0x11111111u);
        gp4::WriteIntSizeString(bytes, line);
    }
    return bytes;
}

class LyricsReading : public ReaderChecks::ReaderTest {
protected:
    void TearDown() override {
        Talvoren::FreeLyricsInfo(&lyrics);
        ReaderTest::TearDown();
    }
    Talvoren::LyricsInfo lyrics = {};
};

TEST_F(LyricsReading, FiveLinesInFileOrder) {
    gp4::Bytes bytes = LyricsBytes({"one", "", "three", "four", std::string("fi\0ve", 5)});
    ReaderChecks::Stream stream = OpenBytes(bytes);
    ASSERT_EQ(Talvoren::LoadLyricsInfo(&lyrics, stream.get()), 1);
    EXPECT_EQ(lyrics.lyricsTrack, 3);
    ReaderChecks::ExpectText(lyrics.lyricsLines[0], "one");
    ReaderChecks::ExpectText(lyrics.lyricsLines[1], "");
    ReaderChecks::ExpectText(lyrics.lyricsLines[2], "three");
    ReaderChecks::ExpectText(lyrics.lyricsLines[3], "four");
    ReaderChecks::ExpectText(lyrics.lyricsLines[4], std::string("fi\0ve", 5));
    EXPECT_EQ(Position(stream), static_cast<long>(bytes.size()));
}

// The last line cut off by the end of the file stays null without failing
// the block; the stream is left at the end, so the next read fails.
TEST_F(LyricsReading, LastLineCutOffStaysNullWithTheStreamAtTheEnd) {
    gp4::Bytes bytes = LyricsBytes({"one", "two", "three", "four", "five is long"});
    for (std::size_t cut : {std::size_t(1), std::size_t(6)}) {
        SCOPED_TRACE("cut " + std::to_string(cut) + " bytes short");
        std::size_t length = bytes.size() - cut;
        ReaderChecks::Stream stream = OpenBytes(bytes, length);
        ASSERT_EQ(Talvoren::LoadLyricsInfo(&lyrics, stream.get()), 1);
        EXPECT_EQ(lyrics.lyricsLines[4], nullptr);
        ReaderChecks::ExpectText(lyrics.lyricsLines[3], "four");
        EXPECT_EQ(Position(stream), static_cast<long>(length));
        Talvoren::FreeLyricsInfo(&lyrics);
    }
}

// A line announcing more text than the file holds is refused before any
// allocation, with the stream at the end as a short read would leave it.
TEST_F(LyricsReading, LineLongerThanTheFileIsRefusedAtTheEnd) {
    for (std::uint32_t announced : {0xFFFFFFFFu, 0x7FFFFFFFu, 1000u}) {
        SCOPED_TRACE("announced length " + std::to_string(announced));
        gp4::Bytes bytes;
        gp4::WriteInt(bytes, 3);
        gp4::WriteInt(bytes, 0);
        gp4::WriteInt(bytes, announced);
        gp4::WriteText(bytes, std::string(100, 'x'));
        TestHeap::Reset();
        ReaderChecks::Stream stream = OpenBytes(bytes);
        EXPECT_EQ(Talvoren::LoadLyricsInfo(&lyrics, stream.get()), 0)
            << "the next line's field must not be read from inside the text";
        EXPECT_EQ(TestHeap::Requests(), 0u);
        EXPECT_EQ(lyrics.lyricsLines[0], nullptr);
    }
}

TEST_F(LyricsReading, ShortLineFieldOrTrackFailsTheBlock) {
    gp4::Bytes bytes = LyricsBytes({"a", "b", "c", "d", "e"});
    // Cut inside the track number, and inside the 4-byte field of line 3.
    for (std::size_t length : {std::size_t(2), std::size_t(4 + 3 * (4 + 4 + 1) + 2)}) {
        ReaderChecks::Stream stream = OpenBytes(bytes, length);
        EXPECT_EQ(Talvoren::LoadLyricsInfo(&lyrics, stream.get()), 0) << length;
        for (char *line : lyrics.lyricsLines) EXPECT_EQ(line, nullptr);
    }
}

// A lyrics line cut off inside a whole file fails the load with it.
TEST_F(LyricsReading, CutOffLineFailsTheWholeLoad) {
    gp4::Song song = gp4::MinimalSong();
    song.lyrics[4].text = "the last line";
    gp4::Bytes bytes = gp4::WriteSong(song);
    // Make line 4 announce more text than everything after it.
    std::size_t lineLengthAt = bytes.size();
    {
        gp4::Bytes header;
        gp4::WriteSongHeader(header, song);
        lineLengthAt = header.size() - 785 - 13 - 4;
    }
    bytes[lineLengthAt] = 0xFF;
    bytes[lineLengthAt + 1] = 0xFF;
    ReaderChecks::Stream stream = OpenBytes(bytes);
    Talvoren::FileStruct file = {};
    EXPECT_EQ(Talvoren::LoadFileStruct(&file, stream.get()), 0);
    Talvoren::FreeFileStruct(&file);
}

}  // namespace
