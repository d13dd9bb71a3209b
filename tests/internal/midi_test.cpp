// midi_test.cpp - the MIDI file builder from the inside: unit transfers,
// variable-length quantities, the file model's two serialisations, the event
// builders with running status, and what a failed allocation leaves behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "test_heap.h"
#include "mid/midi.cpp"
#include "smf_check.h"

namespace {

using namespace Talvoren;
using Bytes = std::vector<std::uint8_t>;

// Plans the failure of the countdown-th allocation from now (0: none), with
// fresh request statistics.
void FailAllocation(std::size_t countdown) {
    TestHeap::Reset();
    TestHeap::FailAllocation(countdown);
}

class MidiBuilder : public ::testing::Test {
protected:
    void SetUp() override {
        FailAllocation(0);
        liveBlocksAtStart = TestHeap::LiveBlocks();
    }
    void TearDown() override {
        FailAllocation(0);
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBlocksAtStart) << "heap blocks leaked";
    }
    std::size_t liveBlocksAtStart = 0;
};

Bytes EventBytes(const MidiTrackChunk &track) {
    const std::uint32_t length = DwordValue(track.header.length);
    if (length == 0) return Bytes();
    const std::uint8_t *first = reinterpret_cast<const std::uint8_t *>(track.events);
    return Bytes(first, first + length);
}

// Everything written to a scratch stream, from its start.
Bytes StreamContents(std::FILE *stream) {
    std::fflush(stream);
    const long size = std::ftell(stream);
    std::rewind(stream);
    Bytes bytes(static_cast<std::size_t>(size));
    if (size > 0) {
        EXPECT_EQ(std::fread(bytes.data(), 1, bytes.size(), stream), bytes.size());
    }
    return bytes;
}

std::FILE *StreamHolding(const Bytes &bytes) {
    std::FILE *stream = std::tmpfile();
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stream);
    std::rewind(stream);
    return stream;
}

Bytes SavedBytes(const MidiFileStruct &midi) {
    std::FILE *stream = std::tmpfile();
    EXPECT_EQ(SaveMidiFileStruct(&midi, stream), 1);
    Bytes bytes = StreamContents(stream);
    std::fclose(stream);
    return bytes;
}

Bytes BufferBytes(const MidiFileStruct &midi) {
    Byte *buffer = nullptr;
    const std::uint32_t size = CreateMidiBuffer(&midi, &buffer);
    EXPECT_NE(buffer, nullptr);
    const std::uint8_t *first = reinterpret_cast<const std::uint8_t *>(buffer);
    Bytes bytes = buffer == nullptr ? Bytes() : Bytes(first, first + size);
    DestroyMidiBuffer(buffer);
    return bytes;
}

// Field by field, so that padding bytes play no part.
::testing::AssertionResult SameChunk(const MidiTrackChunk &expected, const MidiTrackChunk &actual) {
    if (DwordValue(expected.header.type) != DwordValue(actual.header.type)) return ::testing::AssertionFailure() << "type";
    if (DwordValue(expected.header.length) != DwordValue(actual.header.length)) {
        return ::testing::AssertionFailure() << "length " << DwordValue(expected.header.length) << " became "
                                             << DwordValue(actual.header.length);
    }
    if (expected.events != actual.events) return ::testing::AssertionFailure() << "events buffer replaced";
    if (expected.pendingDelta != actual.pendingDelta) {
        return ::testing::AssertionFailure() << "pendingDelta " << expected.pendingDelta << " became " << actual.pendingDelta;
    }
    if (expected.runningStatus != actual.runningStatus) {
        return ::testing::AssertionFailure() << "runningStatus " << int{expected.runningStatus} << " became "
                                             << int{actual.runningStatus};
    }
    return ::testing::AssertionSuccess();
}

// The bytes that one builder call appended, checking that the length grew by them.
template <typename Append>
Bytes Appended(MidiTrackChunk *track, Append append) {
    const Bytes before = EventBytes(*track);
    EXPECT_EQ(append(), 1);
    const Bytes after = EventBytes(*track);
    EXPECT_GE(after.size(), before.size());
    EXPECT_TRUE(std::equal(before.begin(), before.end(), after.begin())) << "earlier events changed";
    return Bytes(after.begin() + static_cast<long>(before.size()), after.end());
}

// ---------------------------------------------------------------------------
// Variable-length quantities.

struct Encoding {
    std::uint32_t value;
    Bytes bytes;
};

const Encoding encodings[] = {
    {0, {0x00}},
    {0x40, {0x40}},
    {0x7F, {0x7F}},
    {0x80, {0x81, 0x00}},
    {0x2000, {0xC0, 0x00}},
    {0x3FFF, {0xFF, 0x7F}},
    {0x4000, {0x81, 0x80, 0x00}},
    {0x1FFFFF, {0xFF, 0xFF, 0x7F}},
    {0x200000, {0x81, 0x80, 0x80, 0x00}},
    {0x0FFFFFFF, {0xFF, 0xFF, 0xFF, 0x7F}},
};

TEST(VarLen, EncodesBoundaryValuesToBufferAndStream) {
    for (const Encoding &encoding : encodings) {
        EXPECT_EQ(GetVarLenLength(encoding.value), encoding.bytes.size()) << std::hex << encoding.value;

        Byte buffer[6];
        std::memset(buffer, 0xEE, sizeof buffer);
        std::uint32_t position = 1;
        BufferWriteVarLen(encoding.value, buffer, &position);
        EXPECT_EQ(position, 1 + encoding.bytes.size()) << std::hex << encoding.value;
        const std::uint8_t *written = reinterpret_cast<const std::uint8_t *>(buffer);
        EXPECT_EQ(Bytes(written + 1, written + position), encoding.bytes) << std::hex << encoding.value;
        EXPECT_EQ(written[0], 0xEE);
        EXPECT_EQ(written[position], 0xEE) << "wrote past the announced length";

        std::FILE *stream = std::tmpfile();
        FileWriteVarLen(encoding.value, stream);
        EXPECT_EQ(StreamContents(stream), encoding.bytes) << std::hex << encoding.value;
        std::fclose(stream);
    }
}

TEST(VarLen, ReadsEachEncodingBackAndStopsAfterIt) {
    for (const Encoding &encoding : encodings) {
        Bytes withFollower = encoding.bytes;
        withFollower.push_back(0x55);
        std::FILE *stream = StreamHolding(withFollower);
        EXPECT_EQ(FileReadVarLen(stream), encoding.value);
        EXPECT_EQ(std::fgetc(stream), 0x55) << "stream not left just past the quantity";
        std::fclose(stream);
    }
}

TEST(VarLen, ValuesPastFourGroupsAreClampedToTheLargestQuantity) {
    for (std::uint32_t value : {0x10000000u, 0x12345678u, 0xFFFFFFFFu}) {
        EXPECT_EQ(GetVarLenLength(value), 4);
        Byte buffer[5];
        std::memset(buffer, 0xEE, sizeof buffer);
        std::uint32_t position = 0;
        BufferWriteVarLen(value, buffer, &position);
        ASSERT_EQ(position, 4u);
        const std::uint8_t *written = reinterpret_cast<const std::uint8_t *>(buffer);
        EXPECT_EQ(Bytes(written, written + 5), (Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0xEE}));

        std::FILE *stream = std::tmpfile();
        FileWriteVarLen(value, stream);
        EXPECT_EQ(StreamContents(stream), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
        std::fclose(stream);
    }
}

TEST(VarLen, ReadStopsAtTheEndOfTheStream) {
    struct Case {
        Bytes bytes;
        std::uint32_t value;
    };
    // Empty stream; a stream ending after one or two continued groups.
    const Case cases[] = {{{}, 0}, {{0x81}, 0x01}, {{0x81, 0x80}, 0x80}, {{0xFF, 0xFF, 0xFF, 0xFF}, 0x0FFFFFFF}};
    for (const Case &truncated : cases) {
        std::FILE *stream = StreamHolding(truncated.bytes);
        EXPECT_EQ(FileReadVarLen(stream), truncated.value) << truncated.bytes.size() << " bytes";
        EXPECT_EQ(std::fgetc(stream), EOF);
        std::fclose(stream);
    }
}

TEST(VarLen, ReadHasNoGroupLimitAndDropsHighBits) {
    // Six groups: 0x7F, then 0x01 0x02 0x03 0x04 0x05; bits past 32 are lost.
    std::FILE *stream = StreamHolding({0xFF, 0x81, 0x82, 0x83, 0x84, 0x05});
    std::uint32_t expected = 0x7F;
    for (std::uint32_t group : {1u, 2u, 3u, 4u, 5u}) expected = (expected << 7) + group;
    EXPECT_EQ(FileReadVarLen(stream), expected);
    EXPECT_EQ(std::fgetc(stream), EOF);
    std::fclose(stream);
}

// ---------------------------------------------------------------------------
// Unit transfers.

TEST(UnitTransfer, BigEndianWritesMostSignificantByteFirst) {
    std::FILE *stream = std::tmpfile();
    const Word word = static_cast<Word>(0x0001);
    const Dword dwords[2] = {static_cast<Dword>(6), static_cast<Dword>(0x11223344)};
    EXPECT_EQ(FileWriteWord(&word, 1, stream, BigEndian), 1u);
    EXPECT_EQ(FileWriteDWord(dwords, 2, stream, BigEndian), 2u);
    EXPECT_EQ(StreamContents(stream),
              (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x11, 0x22, 0x33, 0x44}));
    std::fclose(stream);
}

TEST(UnitTransfer, LittleEndianMovesUnitsAsTheyLieInMemory) {
    const Dword dword = static_cast<Dword>(0x11223344);
    const Word word = static_cast<Word>(0x5566);
    Bytes expected(6);
    std::memcpy(expected.data(), &dword, 4);
    std::memcpy(expected.data() + 4, &word, 2);
    std::FILE *stream = std::tmpfile();
    EXPECT_EQ(FileWriteDWord(&dword, 1, stream, LittleEndian), 1u);
    EXPECT_EQ(FileWriteWord(&word, 1, stream, LittleEndian), 1u);
    EXPECT_EQ(StreamContents(stream), expected);
    Dword dwordBack = static_cast<Dword>(0);
    Word wordBack = static_cast<Word>(0);
    std::rewind(stream);
    EXPECT_EQ(FileReadDWord(&dwordBack, 1, stream, LittleEndian), 1u);
    EXPECT_EQ(FileReadWord(&wordBack, 1, stream, LittleEndian), 1u);
    EXPECT_EQ(DwordValue(dwordBack), 0x11223344u);
    EXPECT_EQ(WordValue(wordBack), 0x5566);
    std::fclose(stream);
}

TEST(UnitTransfer, BigEndianReadsMostSignificantByteFirst) {
    std::FILE *stream = StreamHolding({0x12, 0x34, 0x56, 0x78, 0xAB, 0xCD});
    Dword dword = static_cast<Dword>(0);
    Word word = static_cast<Word>(0);
    // Any non-zero order counts as big-endian.
    EXPECT_EQ(FileReadDWord(&dword, 1, stream, static_cast<Endianness>(7)), 1u);
    EXPECT_EQ(FileReadWord(&word, 1, stream, BigEndian), 1u);
    EXPECT_EQ(DwordValue(dword), 0x12345678u);
    EXPECT_EQ(WordValue(word), 0xABCD);
    std::fclose(stream);
}

TEST(UnitTransfer, ShortReadStoresWholeUnitsOnlyAndCountsThem) {
    std::FILE *stream = StreamHolding({0x01, 0x02, 0x03, 0x04, 0x05});
    Dword dwords[2] = {static_cast<Dword>(0xDEADBEEF), static_cast<Dword>(0xDEADBEEF)};
    EXPECT_EQ(FileReadDWord(dwords, 2, stream, BigEndian), 1u);
    EXPECT_EQ(DwordValue(dwords[0]), 0x01020304u);
    EXPECT_EQ(DwordValue(dwords[1]), 0xDEADBEEFu) << "failing unit was touched";
    std::fclose(stream);

    stream = StreamHolding({0x01, 0x02, 0x03});
    Word words[2] = {static_cast<Word>(0xBEEF), static_cast<Word>(0xBEEF)};
    EXPECT_EQ(FileReadWord(words, 2, stream, BigEndian), 1u);
    EXPECT_EQ(WordValue(words[0]), 0x0102);
    EXPECT_EQ(WordValue(words[1]), 0xBEEF);
    std::fclose(stream);
}

TEST(UnitTransfer, CountZeroTransfersNothingInEitherOrder) {
    for (Endianness order : {LittleEndian, BigEndian}) {
        std::FILE *stream = StreamHolding({0x01, 0x02, 0x03, 0x04});
        Dword dword = static_cast<Dword>(0xDEADBEEF);
        Word word = static_cast<Word>(0xBEEF);
        EXPECT_EQ(FileReadDWord(&dword, 0, stream, order), 0u);
        EXPECT_EQ(FileReadWord(&word, 0, stream, order), 0u);
        EXPECT_EQ(DwordValue(dword), 0xDEADBEEFu);
        EXPECT_EQ(WordValue(word), 0xBEEF);
        EXPECT_EQ(std::ftell(stream), 0);
        std::fclose(stream);

        stream = std::tmpfile();
        EXPECT_EQ(FileWriteDWord(&dword, 0, stream, order), 0u);
        EXPECT_EQ(FileWriteWord(&word, 0, stream, order), 0u);
        EXPECT_TRUE(StreamContents(stream).empty());
        std::fclose(stream);
    }
}

TEST(UnitTransfer, FailedWriteReportsNoWholeUnit) {
    std::FILE *readOnly = std::fopen("/dev/null", "rb");
    ASSERT_NE(readOnly, nullptr);
    const Dword dwords[2] = {static_cast<Dword>(1), static_cast<Dword>(2)};
    const Word word = static_cast<Word>(1);
    EXPECT_EQ(FileWriteDWord(dwords, 2, readOnly, BigEndian), 0u);
    EXPECT_EQ(FileWriteWord(&word, 1, readOnly, BigEndian), 0u);
    std::fclose(readOnly);
}

// ---------------------------------------------------------------------------
// The file model and its serialisations.

const Bytes emptyOneTrackFile = {0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00, 0x01, 0x00,
                                 0x01, 0x01, 0xE0, 0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x00};

TEST_F(MidiBuilder, OneEmptyTrackSerialisesToTwentyTwoBytes) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 1, 480), 1);
    Byte *buffer = nullptr;
    EXPECT_EQ(CreateMidiBuffer(&midi, &buffer), 22u);
    ASSERT_NE(buffer, nullptr);
    const std::uint8_t *first = reinterpret_cast<const std::uint8_t *>(buffer);
    EXPECT_EQ(Bytes(first, first + 22), emptyOneTrackFile);
    DestroyMidiBuffer(buffer);
    EXPECT_EQ(SavedBytes(midi), emptyOneTrackFile);
    FreeMidiFileStruct(&midi);
}

TEST_F(MidiBuilder, NoTracksSerialiseToTheHeaderChunkAlone) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 0, 480), 1);
    const Bytes expected(emptyOneTrackFile.begin(), emptyOneTrackFile.begin() + 14);
    Bytes withZeroTracks = expected;
    withZeroTracks[11] = 0x00;
    EXPECT_EQ(BufferBytes(midi), withZeroTracks);
    EXPECT_EQ(SavedBytes(midi), withZeroTracks);
    FreeMidiFileStruct(&midi);
}

TEST_F(MidiBuilder, InitFillsTheHeaderAndEmptyChunks) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 3, 0x101E0), 1);
    EXPECT_EQ(WordValue(midi.header.format), 1);
    EXPECT_EQ(WordValue(midi.header.trackCount), 3);
    EXPECT_EQ(WordValue(midi.header.division), 0x01E0) << "low 16 bits of the division";
    EXPECT_EQ(DwordValue(midi.header.header.length), 6u);
    EXPECT_EQ(std::memcmp(&midi.header.header.type, "MThd", 4), 0);
    for (int index = 0; index < 3; ++index) {
        const MidiTrackChunk &track = midi.tracks[index];
        EXPECT_EQ(std::memcmp(&track.header.type, "MTrk", 4), 0);
        EXPECT_EQ(DwordValue(track.header.length), 0u);
        EXPECT_EQ(track.events, nullptr);
        EXPECT_EQ(track.pendingDelta, 0u);
        EXPECT_EQ(track.runningStatus, 0);
    }
    FreeMidiFileStruct(&midi);
    EXPECT_EQ(midi.tracks, nullptr);
    FreeMidiFileStruct(&midi);  // a second release is harmless
    EXPECT_EQ(WordValue(midi.header.trackCount), 3) << "header kept after release";
}

TEST_F(MidiBuilder, InitFailsCleanlyWhenTheArrayCannotBeMade) {
    MidiFileStruct midi;
    FailAllocation(1);
    EXPECT_EQ(InitMidiFileStruct(&midi, 2, 480), 0);
    EXPECT_EQ(midi.tracks, nullptr);
    EXPECT_EQ(WordValue(midi.header.trackCount), 2);
    FreeMidiFileStruct(&midi);
    EXPECT_EQ(midi.tracks, nullptr);
}

// The header holds 16 bits of track count: a larger count would leave chunks
// that neither the serialisers nor the release would ever see.
TEST_F(MidiBuilder, InitRefusesMoreTracksThanTheHeaderCanCount) {
    MidiFileStruct midi;
    EXPECT_EQ(InitMidiFileStruct(&midi, 0x10000, 480), 0);
    EXPECT_EQ(midi.tracks, nullptr);
    FreeMidiFileStruct(&midi);
    ASSERT_EQ(InitMidiFileStruct(&midi, 0xFFFF, 480), 1);
    EXPECT_EQ(WordValue(midi.header.trackCount), 0xFFFF);
    EXPECT_EQ(AddMetaEventEndOfTrack(&midi.tracks[0xFFFE]), 1);
    FreeMidiFileStruct(&midi);
}

TEST_F(MidiBuilder, FiveEventBytesAddThirteenBytes) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 2, 480), 1);
    ASSERT_EQ(AddEventProgramChange(&midi.tracks[1], 0, 25), 1);  // 00 C0 19
    ASSERT_EQ(AddEventProgramChange(&midi.tracks[1], 1, 26), 1);  // 00 C1 1A
    ASSERT_EQ(DwordValue(midi.tracks[1].header.length), 6u);
    // Five bytes: drop the last one by hand.
    midi.tracks[1].header.length = static_cast<Dword>(5);
    const Bytes bytes = BufferBytes(midi);
    ASSERT_EQ(bytes.size(), 14u + 8u + 8u + 5u);
    EXPECT_EQ(Bytes(bytes.begin() + 22, bytes.end()),
              (Bytes{0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x05, 0x00, 0xC0, 0x19, 0x00, 0xC1}));
    EXPECT_EQ(SavedBytes(midi), bytes);
    FreeMidiFileStruct(&midi);
}

void FillSampleModel(MidiFileStruct *midi) {
    MidiTrackChunk *conductor = &midi->tracks[0];
    AddMetaEventSetTempo(conductor, 500000);
    AddMetaEventTrackName(conductor, "Title");
    AddMetaEventTimeSignature(conductor, 4, 2, 24, 8);
    conductor->pendingDelta = 1920;
    AddMetaEventMarker(conductor, "Verse");
    AddMetaEventEndOfTrack(conductor);
    MidiTrackChunk *guitar = &midi->tracks[1];
    AddMetaEventTrackName(guitar, "Guitar");
    AddEventProgramChange(guitar, 0, 25);
    AddEventController(guitar, 0, Volume, 104);
    AddEventNoteOn(guitar, 0, 67, 95);
    AddEventNoteOn(guitar, 0, 71, 95);
    guitar->pendingDelta = 1920;
    AddEventNoteOff(guitar, 0, 67, 80);
    AddEventNoteOff(guitar, 0, 71, 80);
    AddMetaEventEndOfTrack(guitar);
}

TEST_F(MidiBuilder, StreamAndBufferGiveTheSameBytesTwiceWithoutChangingTheModel) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 3, 480), 1);
    FillSampleModel(&midi);
    AddMetaEventEndOfTrack(&midi.tracks[2]);
    midi.tracks[2].pendingDelta = 7;  // pending ticks stay pending

    MidiFileStruct before = midi;
    std::vector<MidiTrackChunk> chunksBefore(midi.tracks, midi.tracks + 3);
    std::vector<Bytes> eventsBefore;
    for (const MidiTrackChunk &track : chunksBefore) eventsBefore.push_back(EventBytes(track));

    const Bytes firstBuffer = BufferBytes(midi);
    const Bytes firstStream = SavedBytes(midi);
    const Bytes secondBuffer = BufferBytes(midi);
    const Bytes secondStream = SavedBytes(midi);
    EXPECT_EQ(firstBuffer, firstStream);
    EXPECT_EQ(firstBuffer, secondBuffer);
    EXPECT_EQ(firstStream, secondStream);

    std::uint32_t expectedSize = 14;
    for (const MidiTrackChunk &track : chunksBefore) expectedSize += 8 + DwordValue(track.header.length);
    EXPECT_EQ(firstBuffer.size(), expectedSize);

    EXPECT_EQ(DwordValue(before.header.header.type), DwordValue(midi.header.header.type));
    EXPECT_EQ(DwordValue(before.header.header.length), DwordValue(midi.header.header.length));
    EXPECT_EQ(WordValue(before.header.format), WordValue(midi.header.format));
    EXPECT_EQ(WordValue(before.header.trackCount), WordValue(midi.header.trackCount));
    EXPECT_EQ(WordValue(before.header.division), WordValue(midi.header.division));
    EXPECT_EQ(before.tracks, midi.tracks);
    for (int index = 0; index < 3; ++index) {
        EXPECT_TRUE(SameChunk(chunksBefore[index], midi.tracks[index])) << index;
        EXPECT_EQ(EventBytes(midi.tracks[index]), eventsBefore[index]) << index;
    }

    smf::File parsed;
    std::string error;
    ASSERT_TRUE(smf::Parse(firstBuffer, &parsed, &error)) << error;
    EXPECT_EQ(smf::FirstMetaText(parsed.tracks[0], 0x06), "Verse");
    EXPECT_EQ(parsed.tracks[0].events.back().tick, 1920u);
    EXPECT_EQ(smf::NoteOffs(parsed.tracks[1]), (std::vector<smf::Note>{{1920, 0, 67, 80}, {1920, 0, 71, 80}}));
    FreeMidiFileStruct(&midi);
}

// A stream that accepts only its first `capacity` bytes; later writes come up short.
std::FILE *StreamTakingOnly(std::vector<char> *storage, std::size_t capacity) {
    storage->assign(capacity, 0);
    std::FILE *stream = fmemopen(storage->data(), capacity, "wb");
    if (stream != nullptr) std::setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

TEST_F(MidiBuilder, StreamWriteStopsAtTheFirstFailure) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 2, 480), 1);
    AddEventNoteOn(&midi.tracks[0], 0, 60, 95);
    AddMetaEventEndOfTrack(&midi.tracks[0]);  // the last chunk stays empty
    const Bytes whole = BufferBytes(midi);
    ASSERT_EQ(whole.size(), 14u + 8u + 8u + 8u);
    for (std::size_t capacity = 1; capacity <= whole.size(); ++capacity) {
        std::vector<char> storage;
        std::FILE *stream = StreamTakingOnly(&storage, capacity);
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(SaveMidiFileStruct(&midi, stream), capacity == whole.size() ? 1 : 0) << "capacity " << capacity;
        std::fclose(stream);
        if (capacity == whole.size()) {
            EXPECT_EQ(std::memcmp(storage.data(), whole.data(), capacity), 0);
        }
    }
    FreeMidiFileStruct(&midi);
}

TEST_F(MidiBuilder, FreeingAChunkReleasesOnlyItsEvents) {
    MidiTrackChunk track;
    InitMidiTrackChunk(&track);
    track.pendingDelta = 9;
    ASSERT_EQ(AddEventNoteOn(&track, 0, 60, 95), 1);
    track.pendingDelta = 3;
    FreeMidiTrackChunk(&track);
    EXPECT_EQ(track.events, nullptr);
    EXPECT_EQ(DwordValue(track.header.length), 4u);
    EXPECT_EQ(track.pendingDelta, 3u);
    EXPECT_EQ(track.runningStatus, 0x90);
    FreeMidiTrackChunk(&track);  // a second release is harmless
    EXPECT_EQ(track.events, nullptr);
}

TEST_F(MidiBuilder, BufferAllocationFailureLeavesNullAndZero) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 1, 480), 1);
    AddMetaEventEndOfTrack(&midi.tracks[0]);
    Byte placeholder = static_cast<Byte>(0);
    Byte *buffer = &placeholder;
    FailAllocation(1);
    EXPECT_EQ(CreateMidiBuffer(&midi, &buffer), 0u);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(DwordValue(midi.tracks[0].header.length), 4u);
    FreeMidiFileStruct(&midi);
    DestroyMidiBuffer(nullptr);
}

// Chunk lengths whose total does not fit 32 bits must fail before anything
// is allocated or copied; a total of exactly 0xFFFFFFFF is still asked for.
TEST_F(MidiBuilder, BufferSizeThatDoesNotFitThirtyTwoBitsFails) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 2, 480), 1);
    struct Case {
        std::uint32_t first;
        std::uint32_t second;
    };
    const Case tooLarge[] = {{0xFFFFFFFF, 0}, {0xFFFFFFF8, 0}, {0xFFFFFFFF - 29, 0}, {0x80000000, 0x80000000},
                             {0x7FFFFFF0, 0x7FFFFFF2}};
    for (const Case &lengths : tooLarge) {
        midi.tracks[0].header.length = static_cast<Dword>(lengths.first);
        midi.tracks[1].header.length = static_cast<Dword>(lengths.second);
        Byte placeholder = static_cast<Byte>(0);
        Byte *buffer = &placeholder;
        const std::size_t allocationsBefore = TestHeap::Requests();
        EXPECT_EQ(CreateMidiBuffer(&midi, &buffer), 0u) << std::hex << lengths.first << " " << lengths.second;
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(TestHeap::Requests(), allocationsBefore) << "allocated for a size that wrapped";
    }
    // 14 + 8 + 8 + lengths = 0xFFFFFFFF exactly: asked for, and here refused by the heap.
    midi.tracks[0].header.length = static_cast<Dword>(0xFFFFFFFF - 30 - 5);
    midi.tracks[1].header.length = static_cast<Dword>(5);
    Byte *buffer = nullptr;
    FailAllocation(1);
    EXPECT_EQ(CreateMidiBuffer(&midi, &buffer), 0u);
    EXPECT_TRUE(TestHeap::FailureHappened());
    EXPECT_EQ(TestHeap::LargestRequest(), 0xFFFFFFFFu);
    EXPECT_EQ(buffer, nullptr);
    midi.tracks[0].header.length = static_cast<Dword>(0);
    midi.tracks[1].header.length = static_cast<Dword>(0);
    FreeMidiFileStruct(&midi);
}

// ---------------------------------------------------------------------------
// Event builders.

class EventBuilder : public MidiBuilder {
protected:
    void SetUp() override {
        MidiBuilder::SetUp();
        InitMidiTrackChunk(&track);
    }
    void TearDown() override {
        EXPECT_EQ(DwordValue(track.header.length), EventBytes(track).size());
        FreeMidiTrackChunk(&track);
        MidiBuilder::TearDown();
    }
    MidiTrackChunk track;
};

// Each step starts from the state the step before left.
TEST_F(EventBuilder, SequenceOfEventsWithRunningStatus) {
    // 1. First note on writes its status.
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOn(&track, 0, 60, 95); }), (Bytes{0x00, 0x90, 0x3C, 0x5F}));
    EXPECT_EQ(track.runningStatus, 0x90);
    // 2. Same kind and channel after 480 ticks: no status byte.
    track.pendingDelta = 480;
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOn(&track, 0, 64, 95); }), (Bytes{0x83, 0x60, 0x40, 0x5F}));
    EXPECT_EQ(track.pendingDelta, 0u);
    // 3. Another channel writes its status.
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOn(&track, 1, 64, 95); }), (Bytes{0x00, 0x91, 0x40, 0x5F}));
    // 4. Note off: status once, then running.
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOff(&track, 1, 64, 80); }), (Bytes{0x00, 0x81, 0x40, 0x50}));
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOff(&track, 1, 60, 80); }), (Bytes{0x00, 0x3C, 0x50}));
    EXPECT_EQ(track.runningStatus, 0x81);
    // 5. Controllers always carry their status.
    for (int repeat = 0; repeat < 2; ++repeat) {
        EXPECT_EQ(Appended(&track, [&] { return AddEventController(&track, 1, Volume, 127); }),
                  (Bytes{0x00, 0xB1, 0x07, 0x7F}));
    }
    EXPECT_EQ(track.runningStatus, 0xB1);
    // 6. The note off after a controller writes its status again.
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOff(&track, 1, 60, 80); }), (Bytes{0x00, 0x81, 0x3C, 0x50}));
    // 7. Program change.
    EXPECT_EQ(Appended(&track, [&] { return AddEventProgramChange(&track, 2, 25); }), (Bytes{0x00, 0xC2, 0x19}));
    EXPECT_EQ(track.runningStatus, 0xC2);
    // 8. Set tempo.
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventSetTempo(&track, 500000); }),
              (Bytes{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20}));
    EXPECT_EQ(track.runningStatus, 0xFF);
    // 9. Time signature.
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventTimeSignature(&track, 4, 2, 24, 8); }),
              (Bytes{0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08}));
    // 10. Track names and markers.
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventTrackName(&track, "abc"); }),
              (Bytes{0x00, 0xFF, 0x03, 0x03, 0x61, 0x62, 0x63}));
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventTrackName(&track, ""); }), (Bytes{0x00, 0xFF, 0x03, 0x00}));
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventMarker(&track, "abc"); }),
              (Bytes{0x00, 0xFF, 0x06, 0x03, 0x61, 0x62, 0x63}));
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventMarker(&track, ""); }), (Bytes{0x00, 0xFF, 0x06, 0x00}));
    // 11. A note event after a meta event writes its status, even on the
    // channel of the last note event.
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOff(&track, 1, 60, 80); }), (Bytes{0x00, 0x81, 0x3C, 0x50}));
    AddMetaEventMarker(&track, "x");
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOn(&track, 0, 60, 95); }), (Bytes{0x00, 0x90, 0x3C, 0x5F}));
    // 13. A delta of 0x200000 takes four bytes.
    track.pendingDelta = 0x200000;
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOn(&track, 0, 62, 95); }),
              (Bytes{0x81, 0x80, 0x80, 0x00, 0x3E, 0x5F}));
    // 12. End of track: delta 0, pending ticks left alone.
    track.pendingDelta = 100;
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventEndOfTrack(&track); }), (Bytes{0x00, 0xFF, 0x2F, 0x00}));
    EXPECT_EQ(track.pendingDelta, 100u);
    EXPECT_EQ(track.runningStatus, 0xFF);
}

TEST_F(EventBuilder, PitchWheelSendsItsFourteenBitsLowSevenFirst) {
    EXPECT_EQ(Appended(&track, [&] { return AddEventPitchWheel(&track, 1, 0x2000); }), (Bytes{0x00, 0xE1, 0x00, 0x40}));
    EXPECT_EQ(Appended(&track, [&] { return AddEventPitchWheel(&track, 1, 0); }), (Bytes{0x00, 0xE1, 0x00, 0x00}));
    EXPECT_EQ(Appended(&track, [&] { return AddEventPitchWheel(&track, 15, 0x3FFF); }), (Bytes{0x00, 0xEF, 0x7F, 0x7F}));
    EXPECT_EQ(Appended(&track, [&] { return AddEventPitchWheel(&track, 15, 0x7F80); }), (Bytes{0x00, 0xEF, 0x00, 0x7F}));
    EXPECT_EQ(track.runningStatus, 0xEF);
}

TEST_F(EventBuilder, LongTextHasATwoByteLengthAndAllItsBytes) {
    const std::string text(200, 'q');
    for (std::uint8_t metaType : {0x03, 0x06}) {
        const Bytes bytes = Appended(&track, [&] {
            return metaType == 0x03 ? AddMetaEventTrackName(&track, text.c_str()) : AddMetaEventMarker(&track, text.c_str());
        });
        Bytes expected = {0x00, 0xFF, metaType, 0x81, 0x48};
        expected.insert(expected.end(), text.begin(), text.end());
        EXPECT_EQ(bytes, expected);
    }
}

TEST_F(EventBuilder, TextBytesGoUnchangedAndAnAbsentTextIsEmpty) {
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventMarker(&track, "\xE9\x7F"); }),
              (Bytes{0x00, 0xFF, 0x06, 0x02, 0xE9, 0x7F}));
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventTrackName(&track, nullptr); }), (Bytes{0x00, 0xFF, 0x03, 0x00}));
}

TEST_F(EventBuilder, TempoKeepsItsLowTwentyFourBits) {
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventSetTempo(&track, 0x12345678); }),
              (Bytes{0x00, 0xFF, 0x51, 0x03, 0x34, 0x56, 0x78}));
}

TEST_F(EventBuilder, PendingDeltaPastTheLargestQuantityIsClamped) {
    track.pendingDelta = 0x10000000;
    EXPECT_EQ(Appended(&track, [&] { return AddEventProgramChange(&track, 0, 1); }),
              (Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0xC0, 0x01}));
    EXPECT_EQ(track.pendingDelta, 0u);
    track.pendingDelta = 0xFFFFFFFF;
    EXPECT_EQ(Appended(&track, [&] { return AddMetaEventMarker(&track, "m"); }),
              (Bytes{0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x06, 0x01, 'm'}));
    AddMetaEventEndOfTrack(&track);

    // The chunk is still a well-formed track.
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 1, 480), 1);
    MidiTrackChunk *held = &midi.tracks[0];
    std::swap(*held, track);
    smf::File parsed;
    std::string error;
    EXPECT_TRUE(smf::Parse(BufferBytes(midi), &parsed, &error)) << error;
    std::swap(*held, track);
    FreeMidiFileStruct(&midi);
}

// Every builder, failing to grow, leaves the chunk exactly as it was; the
// pending ticks then go with the next event that succeeds.
TEST_F(EventBuilder, FailedGrowthChangesNothing) {
    using Builder = int (*)(MidiTrackChunk *);
    const Builder builders[] = {
        [](MidiTrackChunk *chunk) { return AddEventNoteOff(chunk, 3, 60, 80); },
        [](MidiTrackChunk *chunk) { return AddEventNoteOn(chunk, 3, 60, 95); },
        [](MidiTrackChunk *chunk) { return AddEventController(chunk, 3, Volume, 100); },
        [](MidiTrackChunk *chunk) { return AddEventProgramChange(chunk, 3, 25); },
        [](MidiTrackChunk *chunk) { return AddMetaEventTrackName(chunk, "name"); },
        [](MidiTrackChunk *chunk) { return AddMetaEventMarker(chunk, "mark"); },
        [](MidiTrackChunk *chunk) { return AddMetaEventSetTempo(chunk, 500000); },
        [](MidiTrackChunk *chunk) { return AddMetaEventTimeSignature(chunk, 3, 2, 24, 8); },
        [](MidiTrackChunk *chunk) { return AddMetaEventEndOfTrack(chunk); },
    };
    for (std::size_t builderIndex = 0; builderIndex < sizeof builders / sizeof builders[0]; ++builderIndex) {
        const Builder build = builders[builderIndex];
        for (bool startEmpty : {true, false}) {
            MidiTrackChunk chunk;
            InitMidiTrackChunk(&chunk);
            if (!startEmpty) {
                ASSERT_EQ(AddEventNoteOn(&chunk, 3, 64, 95), 1);
                // Fill the buffer to its capacity, so that the event has to grow it.
                while (chunk.capacity - DwordValue(chunk.header.length) >= 3) {
                    ASSERT_EQ(AddEventNoteOn(&chunk, 3, 64, 95), 1);
                }
            }
            chunk.pendingDelta = 480;
            const MidiTrackChunk before = chunk;
            const Bytes bytesBefore = EventBytes(chunk);

            FailAllocation(1);
            EXPECT_EQ(build(&chunk), 0) << builderIndex;
            EXPECT_TRUE(TestHeap::FailureHappened()) << builderIndex;
            EXPECT_TRUE(SameChunk(before, chunk)) << builderIndex;
            EXPECT_EQ(EventBytes(chunk), bytesBefore) << builderIndex;

            EXPECT_EQ(build(&chunk), 1) << builderIndex;
            const Bytes after = EventBytes(chunk);
            ASSERT_GT(after.size(), bytesBefore.size() + 2);
            if (builderIndex == 8) {
                EXPECT_EQ(after[bytesBefore.size()], 0x00) << "end of track has delta 0";
                EXPECT_EQ(chunk.pendingDelta, 480u);
            } else {
                EXPECT_EQ(after[bytesBefore.size()], 0x83) << builderIndex << ": pending ticks lost";
                EXPECT_EQ(after[bytesBefore.size() + 1], 0x60) << builderIndex;
                EXPECT_EQ(chunk.pendingDelta, 0u);
            }
            FreeMidiTrackChunk(&chunk);
        }
    }
}

// A failed note event must not update the running status: the next note
// event of the same kind has to write its status byte.
TEST_F(EventBuilder, FailedNoteEventKeepsRunningStatus) {
    ASSERT_EQ(AddEventController(&track, 0, Volume, 1), 1);
    // Fill the buffer to its capacity, so that the note event has to grow it.
    while (track.capacity - DwordValue(track.header.length) >= 4) {
        ASSERT_EQ(AddEventController(&track, 0, Volume, 1), 1);
    }
    FailAllocation(1);
    EXPECT_EQ(AddEventNoteOn(&track, 0, 60, 95), 0);
    EXPECT_EQ(track.runningStatus, 0xB0);
    EXPECT_EQ(Appended(&track, [&] { return AddEventNoteOn(&track, 0, 60, 95); }), (Bytes{0x00, 0x90, 0x3C, 0x5F}));
}

// A chunk whose length would pass 32 bits refuses the event before growing.
TEST_F(EventBuilder, LengthThatWouldPassThirtyTwoBitsIsRefused) {
    ASSERT_EQ(AddEventNoteOn(&track, 0, 60, 95), 1);
    Byte *realEvents = track.events;
    for (std::uint32_t fakeLength : {0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFDu}) {
        track.header.length = static_cast<Dword>(fakeLength);
        const std::size_t allocationsBefore = TestHeap::Requests();
        EXPECT_EQ(AddEventProgramChange(&track, 0, 1), 0) << std::hex << fakeLength;
        EXPECT_EQ(AddMetaEventEndOfTrack(&track), 0) << std::hex << fakeLength;
        EXPECT_EQ(TestHeap::Requests(), allocationsBefore) << "grew past 32 bits";
        EXPECT_EQ(track.events, realEvents);
        EXPECT_EQ(DwordValue(track.header.length), fakeLength);
    }
    track.header.length = static_cast<Dword>(4);
}

// Fail each allocation of a whole build in turn: nothing leaks, and every
// chunk's length matches the bytes it holds.
TEST_F(MidiBuilder, EveryAllocationFailureLeavesAConsistentModel) {
    for (std::size_t failAt = 1;; ++failAt) {
        FailAllocation(failAt);
        MidiFileStruct midi;
        if (InitMidiFileStruct(&midi, 2, 480)) {
            FillSampleModel(&midi);
            for (int index = 0; index < 2; ++index) {
                const Bytes held = EventBytes(midi.tracks[index]);
                EXPECT_EQ(held.size(), DwordValue(midi.tracks[index].header.length));
            }
            Byte *buffer = nullptr;
            const std::uint32_t size = CreateMidiBuffer(&midi, &buffer);
            EXPECT_EQ(size == 0, buffer == nullptr);
            if (buffer != nullptr) {
                std::uint32_t expectedSize = 14 + 16 + DwordValue(midi.tracks[0].header.length) +
                                             DwordValue(midi.tracks[1].header.length);
                EXPECT_EQ(size, expectedSize);
            }
            DestroyMidiBuffer(buffer);
        }
        FreeMidiFileStruct(&midi);
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBlocksAtStart) << "leak when allocation " << failAt << " fails";
        if (!TestHeap::FailureHappened()) break;
        ASSERT_LT(failAt, 1000u);
    }
}

// ---------------------------------------------------------------------------
// A file for the independent reader check: written to the path in
// ZELTO_MIDI_CHECK_PATH when it is set, and always validated here.

void BuildReaderCheckModel(MidiFileStruct *midi) {
    MidiTrackChunk *conductor = &midi->tracks[0];
    AddMetaEventSetTempo(conductor, 500000);
    AddMetaEventTrackName(conductor, "Reader check");
    AddMetaEventTimeSignature(conductor, 4, 2, 24, 8);
    AddMetaEventMarker(conductor, "Intro");
    conductor->pendingDelta = 1920;
    AddMetaEventTimeSignature(conductor, 3, 3, 12, 8);
    AddMetaEventMarker(conductor, "Caf\xE9");
    conductor->pendingDelta = 0x200000;
    AddMetaEventSetTempo(conductor, 666666);
    AddMetaEventEndOfTrack(conductor);

    MidiTrackChunk *guitar = &midi->tracks[1];
    AddMetaEventTrackName(guitar, "Guitar");
    AddEventProgramChange(guitar, 0, 25);
    AddEventController(guitar, 0, Volume, 104);
    AddEventNoteOn(guitar, 0, 67, 95);
    AddEventNoteOn(guitar, 0, 71, 111);  // running status
    guitar->pendingDelta = 480;
    AddEventNoteOff(guitar, 0, 67, 80);
    AddEventNoteOff(guitar, 0, 71, 80);  // running status
    AddEventNoteOn(guitar, 1, 60, 127);
    guitar->pendingDelta = 0x0FFFFFFF;
    AddEventNoteOff(guitar, 1, 60, 80);
    guitar->pendingDelta = 5;  // pending at the end: not written
    AddMetaEventEndOfTrack(guitar);

    MidiTrackChunk *drums = &midi->tracks[2];
    AddMetaEventTrackName(drums, "");
    AddEventProgramChange(drums, 9, 0);
    AddEventController(drums, 9, Volume, 127);
    drums->pendingDelta = 0x3FFF;
    AddEventNoteOn(drums, 9, 36, 15);
    drums->pendingDelta = 0x4000;
    AddEventNoteOff(drums, 9, 36, 80);
    AddMetaEventEndOfTrack(drums);
}

TEST_F(MidiBuilder, ReaderCheckFile) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 3, 480), 1);
    BuildReaderCheckModel(&midi);
    const Bytes bytes = BufferBytes(midi);
    const Bytes streamBytes = SavedBytes(midi);
    EXPECT_EQ(streamBytes, bytes);

    // The stream form goes to the independent reader.
    if (const char *path = std::getenv("ZELTO_MIDI_CHECK_PATH")) {
        std::FILE *stream = std::fopen(path, "wb");
        ASSERT_NE(stream, nullptr) << path;
        EXPECT_EQ(SaveMidiFileStruct(&midi, stream), 1);
        EXPECT_EQ(std::fclose(stream), 0);
    }
    FreeMidiFileStruct(&midi);

    smf::File parsed;
    std::string error;
    ASSERT_TRUE(smf::Parse(bytes, &parsed, &error)) << error;
    ASSERT_EQ(parsed.tracks.size(), 3u);
    EXPECT_EQ(smf::NoteOns(parsed.tracks[1]),
              (std::vector<smf::Note>{{0, 0, 67, 95}, {0, 0, 71, 111}, {480, 1, 60, 127}}));
    EXPECT_EQ(parsed.tracks[1].events.back().tick, 480u + 0x0FFFFFFFu);
    EXPECT_EQ(smf::NoteOffs(parsed.tracks[2]), (std::vector<smf::Note>{{0x3FFF + 0x4000, 9, 36, 80}}));
}

}  // namespace
