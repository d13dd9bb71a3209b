// smf_check_test.cpp - the test-side Standard MIDI File checker: what it reads
// from a valid file, and that it rejects each kind of malformed file, saying where.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <string>

#include "smf_check.h"

namespace {

using smf::Bytes;

void Append(Bytes &bytes, const Bytes &more) { bytes.insert(bytes.end(), more.begin(), more.end()); }

Bytes Header(std::uint16_t format, std::uint16_t trackCount, std::uint16_t division = 480) {
    return {'M', 'T', 'h', 'd', 0, 0, 0, 6, static_cast<std::uint8_t>(format >> 8), static_cast<std::uint8_t>(format),
            static_cast<std::uint8_t>(trackCount >> 8), static_cast<std::uint8_t>(trackCount),
            static_cast<std::uint8_t>(division >> 8), static_cast<std::uint8_t>(division)};
}

Bytes TrackChunk(const Bytes &events) {
    const std::uint32_t length = static_cast<std::uint32_t>(events.size());
    Bytes chunk = {'M', 'T', 'r', 'k', static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
                   static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
    // Sized first and copied into: GCC 12 at -O3 reports a false -Warray-bounds
    // for an insert at the end of this 8-byte vector.
    const std::size_t headerSize = chunk.size();
    chunk.resize(headerSize + events.size());
    std::copy(events.begin(), events.end(), chunk.begin() + static_cast<std::ptrdiff_t>(headerSize));
    return chunk;
}

const Bytes endOfTrack = {0x00, 0xFF, 0x2F, 0x00};

// A format-1 file whose second track holds the given events, then its end.
Bytes FileWithEvents(const Bytes &events) {
    Bytes file = Header(1, 2);
    Append(file, TrackChunk(endOfTrack));
    Bytes second = events;
    Append(second, endOfTrack);
    Append(file, TrackChunk(second));
    return file;
}

TEST(SmfCheck, ReadsEventsTicksAndRunningStatus) {
    const Bytes events = {
        0x00, 0xFF, 0x03, 0x02, 'h', 'i',        // track name
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,  // tempo 500000
        0x00, 0xC2, 0x19,                        // program change, channel 2
        0x00, 0x90, 0x3C, 0x5F,                  // note on 60
        0x83, 0x60, 0x40, 0x5F,                  // +480, running status: note on 64
        0x10, 0x80, 0x3C, 0x50,                  // +16 note off 60
        0x81, 0x80, 0x80, 0x00, 0x40, 0x50,      // +0x200000, running status: note off 64
    };
    smf::File file;
    std::string error;
    ASSERT_TRUE(smf::Parse(FileWithEvents(events), &file, &error)) << error;
    EXPECT_EQ(file.format, 1);
    EXPECT_EQ(file.trackCount, 2);
    EXPECT_EQ(file.division, 480);
    ASSERT_EQ(file.tracks.size(), 2u);
    EXPECT_EQ(file.tracks[0].events.size(), 1u);
    const smf::Track &track = file.tracks[1];
    ASSERT_EQ(track.events.size(), 8u);
    EXPECT_EQ(smf::FirstMetaText(track, 0x03), "hi");
    ASSERT_EQ(smf::Tempos(track).size(), 1u);
    EXPECT_EQ(smf::Tempos(track)[0].microsecondsPerQuarter, 500000u);
    EXPECT_EQ(track.events[2].status, 0xC2);
    EXPECT_EQ(track.events[2].data, Bytes{0x19});
    EXPECT_TRUE(track.events[4].statusOmitted);
    EXPECT_EQ(track.events[4].status, 0x90);
    EXPECT_EQ(smf::NoteOns(track), (std::vector<smf::Note>{{0, 0, 60, 95}, {480, 0, 64, 95}}));
    EXPECT_EQ(smf::NoteOffs(track), (std::vector<smf::Note>{{496, 0, 60, 80}, {496 + 0x200000, 0, 64, 80}}));
    EXPECT_EQ(track.events.back().tick, 496u + 0x200000u);
    EXPECT_FALSE(smf::Describe(file).empty());
}

TEST(SmfCheck, AcceptsHeaderOnlyFileWithNoTracks) {
    EXPECT_EQ(smf::Check(Header(1, 0)), "");
}

// Each malformed file is rejected, and the message names the place.
struct MalformedCase {
    const char *name;
    Bytes file;
    const char *expectedMessagePart;
};

TEST(SmfCheck, RejectsMalformedFiles) {
    Bytes wrongHeaderLength = Header(1, 0);
    wrongHeaderLength[7] = 7;
    Bytes notMThd = Header(1, 0);
    notMThd[3] = 'x';
    Bytes notMTrk = FileWithEvents({});
    notMTrk[14 + 3] = 'K';
    Bytes lengthTooShort = FileWithEvents({0x00, 0x90, 0x3C, 0x5F});
    lengthTooShort[14 + 12 + 7] -= 1;  // second chunk's length byte
    Bytes lengthTooLong = FileWithEvents({});
    lengthTooLong[14 + 12 + 7] += 1;
    Bytes trailingBytes = FileWithEvents({});
    trailingBytes.push_back(0);
    Bytes missingChunk = Header(1, 2);
    Append(missingChunk, TrackChunk(endOfTrack));
    Bytes emptyTrack = Header(1, 1);
    Append(emptyTrack, TrackChunk({}));
    Bytes afterEnd = Header(1, 1);
    Append(afterEnd, TrackChunk({0x00, 0xFF, 0x2F, 0x00, 0x00, 0x90, 0x3C, 0x5F}));
    Bytes formatZeroTwoTracks = Header(0, 2);
    Append(formatZeroTwoTracks, TrackChunk(endOfTrack));
    Append(formatZeroTwoTracks, TrackChunk(endOfTrack));
    Bytes cutShort = Header(1, 1);
    Append(cutShort, TrackChunk({0x00, 0x90, 0x3C}));

    const MalformedCase cases[] = {
        {"short file", {'M', 'T', 'h', 'd', 0, 0, 0, 6}, "shorter than 14"},
        {"not MThd", notMThd, "MThd"},
        {"header length 7", wrongHeaderLength, "not 6"},
        {"format 3", Header(3, 0), "format 3"},
        {"format 0 with two tracks", formatZeroTwoTracks, "format 0"},
        {"division 0", Header(1, 0, 0), "division 0"},
        {"chunk type", notMTrk, "track 0"},
        {"chunk length short", lengthTooShort, "track 1"},
        {"chunk length past the end", lengthTooLong, "runs past the end of the file"},
        {"bytes after the last chunk", trailingBytes, "after the last"},
        {"missing chunk", missingChunk, "track 1"},
        {"track without end", emptyTrack, "track 0: does not end with FF 2F 00"},
        {"event after the end", afterEnd, "track 0, event 1"},
        {"five-byte delta", FileWithEvents({0x81, 0x80, 0x80, 0x80, 0x00, 0x90, 0x3C, 0x5F}), "longer than 4 bytes"},
        {"data byte above 127", FileWithEvents({0x00, 0x90, 0x3C, 0x5F, 0x00, 0x90, 0x90, 0x5F}),
         "track 1, event 1 (offset 0x26): data byte 0x90 above 127"},
        {"running status after meta",
         FileWithEvents({0x00, 0x90, 0x3C, 0x5F, 0x00, 0xFF, 0x06, 0x00, 0x00, 0x3C, 0x50}), "without a status"},
        {"running status at the start", FileWithEvents({0x00, 0x3C, 0x50}), "without a status"},
        {"status F4", FileWithEvents({0x00, 0xF4}), "status byte 0xF4 is no event kind"},
        {"meta type above 127", FileWithEvents({0x00, 0xFF, 0x83, 0x00}), "meta type"},
        {"meta length past chunk", FileWithEvents({0x00, 0xFF, 0x06, 0x7F, 'a'}), "runs past the end of the chunk"},
        {"tempo of length 2", FileWithEvents({0x00, 0xFF, 0x51, 0x02, 0x07, 0xA1}), "set tempo of length 2"},
        {"tempo 0", FileWithEvents({0x00, 0xFF, 0x51, 0x03, 0x00, 0x00, 0x00}), "set tempo of 0"},
        {"time signature of length 3", FileWithEvents({0x00, 0xFF, 0x58, 0x03, 4, 2, 24}), "time signature"},
        {"end of track with data", FileWithEvents({0x00, 0xFF, 0x2F, 0x01, 0x00}), "end of track of length 1"},
        {"channel event cut short", cutShort, "cut short"},
    };
    for (const MalformedCase &malformed : cases) {
        std::string error;
        smf::File parsed;
        parsed.format = 77;
        EXPECT_FALSE(smf::Parse(malformed.file, &parsed, &error)) << malformed.name;
        EXPECT_NE(error.find(malformed.expectedMessagePart), std::string::npos)
            << malformed.name << ": message was \"" << error << "\"";
        EXPECT_EQ(parsed.format, 77) << malformed.name << ": output written on failure";
    }
}

TEST(SmfCheck, EveryPrefixOfAValidFileIsRejected) {
    const Bytes file = FileWithEvents({0x00, 0xFF, 0x03, 0x01, 'x', 0x00, 0x90, 0x3C, 0x5F, 0x60, 0x3C, 0x00});
    ASSERT_EQ(smf::Check(file), "");
    for (std::size_t size = 0; size < file.size(); ++size) {
        EXPECT_FALSE(smf::Parse(file.data(), size, nullptr, nullptr)) << "prefix of " << size << " bytes";
    }
}

}  // namespace
