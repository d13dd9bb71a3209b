// midi_growth_test.cpp - how a track chunk's event buffer grows: geometrically,
// with a capacity beside the length, while the length counts exactly the
// bytes of events held and serialisation writes exactly those; and the
// appender of a chord's notes, which must write what one call per note writes.
#include "test_heap.h"
#include "mid/midi.cpp"
#include "smf_check.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using namespace Talvoren;
using Bytes = std::vector<std::uint8_t>;

Bytes EventBytes(const MidiTrackChunk &track) {
    const auto *first = reinterpret_cast<const std::uint8_t *>(track.events);
    return first == nullptr ? Bytes() : Bytes(first, first + DwordValue(track.header.length));
}

class ChunkGrowth : public ::testing::Test {
protected:
    void SetUp() override {
        liveBefore = TestHeap::LiveBlocks();
        TestHeap::Reset();
        InitMidiTrackChunk(&track);
    }
    void TearDown() override {
        FreeMidiTrackChunk(&track);
        TestHeap::Reset();
        EXPECT_EQ(TestHeap::LiveBlocks(), liveBefore) << "blocks leaked";
    }
    MidiTrackChunk track = {};
    std::size_t liveBefore = 0;
};

// Note-ons on alternating channels, so that every event writes its status:
// 4 bytes each.
void AppendNoteOns(MidiTrackChunk *track, std::uint32_t count) {
    for (std::uint32_t event = 0; event < count; ++event)
        ASSERT_EQ(AddEventNoteOn(track, static_cast<std::uint8_t>(event % 2), 60, 95), 1) << event;
}

TEST_F(ChunkGrowth, ReallocationsGrowWithTheLogarithmOfTheBytes) {
    AppendNoteOns(&track, 100000);
    const std::uint32_t length = DwordValue(track.header.length);
    EXPECT_EQ(length, 400000u);
    EXPECT_GE(track.capacity, length);
    EXPECT_LE(track.capacity, 2 * length);
    // 64 bytes doubled up to 400,000 takes 13 growths, the first allocation included.
    EXPECT_LE(TestHeap::Requests(), 14u);
    const Bytes held = EventBytes(track);
    for (std::uint32_t event = 0; event < 100000; ++event) {
        const Bytes expected = {0x00, static_cast<std::uint8_t>(0x90 + event % 2), 0x3C, 0x5F};
        ASSERT_TRUE(std::equal(expected.begin(), expected.end(), held.begin() + 4 * event)) << event;
    }
}

// Every growth at least doubles the room, so that a chunk never reallocates
// for every event; a large event gets the room it needs at once.
TEST_F(ChunkGrowth, EachGrowthAtLeastDoubles) {
    ASSERT_EQ(AddEventNoteOn(&track, 0, 60, 95), 1);
    std::uint32_t capacity = track.capacity;
    EXPECT_GE(capacity, 4u);
    for (std::uint32_t event = 0; event < 5000; ++event) {
        ASSERT_EQ(AddEventNoteOn(&track, static_cast<std::uint8_t>(event % 2), 60, 95), 1);
        if (track.capacity != capacity) {
            EXPECT_GE(track.capacity, 2 * capacity) << "after " << DwordValue(track.header.length) << " bytes";
            capacity = track.capacity;
        }
        EXPECT_LE(DwordValue(track.header.length), track.capacity);
    }
    const std::string longText(100000, 'x');
    const std::uint32_t lengthBefore = DwordValue(track.header.length);
    ASSERT_EQ(AddMetaEventMarker(&track, longText.c_str()), 1);
    EXPECT_EQ(DwordValue(track.header.length), lengthBefore + 1 + 2 + 3 + 100000);
    EXPECT_GE(track.capacity, DwordValue(track.header.length));
}

// The bytes past the length are spare room: the buffer form and the stream
// form hold exactly the length's bytes, the end of track included.
TEST_F(ChunkGrowth, SerialisationWritesOnlyTheBytesHeld) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 2, 480), 1);
    AppendNoteOns(&midi.tracks[0], 3);
    ASSERT_EQ(AddMetaEventEndOfTrack(&midi.tracks[0]), 1);
    ASSERT_EQ(AddMetaEventEndOfTrack(&midi.tracks[1]), 1);
    ASSERT_GT(midi.tracks[0].capacity, DwordValue(midi.tracks[0].header.length));

    Byte *buffer = nullptr;
    const std::uint32_t size = CreateMidiBuffer(&midi, &buffer);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(size, 14u + 8 + 16 + 8 + 4);
    const auto *first = reinterpret_cast<const std::uint8_t *>(buffer);
    const Bytes file(first, first + size);
    EXPECT_EQ(smf::Check(file), "");
    DestroyMidiBuffer(buffer);

    char *streamBytes = nullptr;
    std::size_t streamSize = 0;
    std::FILE *stream = open_memstream(&streamBytes, &streamSize);
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(SaveMidiFileStruct(&midi, stream), 1);
    std::fclose(stream);
    EXPECT_EQ(Bytes(streamBytes, streamBytes + streamSize), file);
    std::free(streamBytes);
    FreeMidiFileStruct(&midi);
}

// A growth that fails leaves buffer, capacity, length, pending ticks and
// running status as they were; the next append that can grow succeeds.
TEST_F(ChunkGrowth, FailedGrowthKeepsTheChunk) {
    ASSERT_EQ(AddEventNoteOn(&track, 0, 60, 95), 1);
    while (track.capacity - DwordValue(track.header.length) >= 3) ASSERT_EQ(AddEventNoteOn(&track, 0, 60, 95), 1);
    track.pendingDelta = 480;
    const MidiTrackChunk before = track;
    const Bytes bytesBefore = EventBytes(track);
    TestHeap::FailAllocation(1);
    EXPECT_EQ(AddEventNoteOff(&track, 0, 60, 80), 0);
    EXPECT_TRUE(TestHeap::FailureHappened());
    EXPECT_EQ(track.events, before.events);
    EXPECT_EQ(track.capacity, before.capacity);
    EXPECT_EQ(DwordValue(track.header.length), DwordValue(before.header.length));
    EXPECT_EQ(track.pendingDelta, 480u);
    EXPECT_EQ(track.runningStatus, before.runningStatus);
    EXPECT_EQ(EventBytes(track), bytesBefore);

    EXPECT_EQ(AddEventNoteOff(&track, 0, 60, 80), 1);
    EXPECT_GT(track.capacity, before.capacity);
    const Bytes after = EventBytes(track);
    ASSERT_EQ(after.size(), bytesBefore.size() + 5);
    EXPECT_EQ(Bytes(after.end() - 5, after.end()), (Bytes{0x83, 0x60, 0x80, 0x3C, 0x50}));
}

// A room that is still there takes the event without asking the heap.
TEST_F(ChunkGrowth, EventsThatFitAskForNothing) {
    ASSERT_EQ(AddEventNoteOn(&track, 0, 60, 95), 1);
    const std::size_t requests = TestHeap::Requests();
    TestHeap::FailAllocation(1, true);
    EXPECT_EQ(AddEventNoteOn(&track, 0, 61, 95), 1);
    EXPECT_EQ(AddMetaEventEndOfTrack(&track), 1);
    EXPECT_EQ(TestHeap::Requests(), requests);
    EXPECT_FALSE(TestHeap::FailureHappened());
}

// Released, the chunk has no room left; appending again starts a new buffer.
TEST_F(ChunkGrowth, ReleaseClearsTheCapacity) {
    AppendNoteOns(&track, 10);
    FreeMidiTrackChunk(&track);
    EXPECT_EQ(track.events, nullptr);
    EXPECT_EQ(track.capacity, 0u);
    InitMidiTrackChunk(&track);
    EXPECT_EQ(track.capacity, 0u);
    AppendNoteOns(&track, 1);
    EXPECT_EQ(EventBytes(track), (Bytes{0x00, 0x90, 0x3C, 0x5F}));
}

// A buffer put in place from outside, whose capacity is not known, is taken
// as full: the next event reallocates it rather than writing past its end.
TEST_F(ChunkGrowth, BufferOfUnknownCapacityIsReallocated) {
    track.events = static_cast<Byte *>(MemAlloc(2));
    track.events[0] = static_cast<Byte>(0x12);
    track.events[1] = static_cast<Byte>(0x34);
    track.header.length = static_cast<Dword>(2);
    Byte *outside = track.events;
    ASSERT_EQ(AddEventProgramChange(&track, 1, 7), 1);
    EXPECT_NE(track.events, outside);  // the test heap moves every reallocated block
    EXPECT_EQ(EventBytes(track), (Bytes{0x12, 0x34, 0x00, 0xC1, 0x07}));
}

// Sixteen chunks filled in turn each grow on their own, logarithmically.
TEST_F(ChunkGrowth, SixteenChunksInTurn) {
    MidiFileStruct midi;
    ASSERT_EQ(InitMidiFileStruct(&midi, 16, 480), 1);
    const std::size_t requests = TestHeap::Requests();
    for (std::uint32_t event = 0; event < 16 * 20000; ++event) {
        MidiTrackChunk *chunk = &midi.tracks[event % 16];
        chunk->pendingDelta += 120;
        ASSERT_EQ(AddEventNoteOn(chunk, static_cast<std::uint8_t>(event % 16), 60, 95), 1);
    }
    EXPECT_LE(TestHeap::Requests() - requests, 16u * 12);
    for (std::uint32_t chunk = 0; chunk < 16; ++chunk) {
        // Delta 120, then the note without its status: 3 bytes after the first.
        EXPECT_EQ(DwordValue(midi.tracks[chunk].header.length), 4u + 3 * 19999) << chunk;
    }
    FreeMidiFileStruct(&midi);
}

// ---------------------------------------------------------------------------
// A chord's notes in one call.

struct ChordCase {
    std::uint8_t kind;
    std::uint8_t channel;
    std::uint32_t pendingDelta;
    std::uint8_t previousStatus;  // 0: a fresh chunk, else the channel event appended before
    bool fullBuffer;              // the buffer has no room left before the chord
    std::vector<std::uint8_t> keys;
    std::vector<std::uint8_t> velocities;
};

// A chunk in the case's starting state: fresh, or after one event that sets
// the running status, with its buffer filled up to its capacity on request.
void Prepare(MidiTrackChunk *chunk, const ChordCase &chordCase) {
    const std::uint8_t previousKey = 60;
    const std::uint8_t previousVelocity = 64;
    InitMidiTrackChunk(chunk);
    if (chordCase.previousStatus != 0) {
        const std::uint8_t channel = chordCase.previousStatus & 0x0F;
        if ((chordCase.previousStatus & 0xF0) == 0xB0) {
            ASSERT_EQ(AddEventController(chunk, channel, Volume, 100), 1);
        } else {
            ASSERT_EQ(AddEventNotes(chunk, chordCase.previousStatus & 0xF0, channel, &previousKey, &previousVelocity, 1), 1);
        }
        // Filled with more events like the first, so that the running status
        // before the chord stays the first event's.
        while (chordCase.fullBuffer && chunk->capacity - DwordValue(chunk->header.length) >= 4) {
            if ((chordCase.previousStatus & 0xF0) == 0xB0) {
                ASSERT_EQ(AddEventController(chunk, channel, Volume, 100), 1);
            } else {
                ASSERT_EQ(AddEventNotes(chunk, chordCase.previousStatus & 0xF0, channel, &previousKey, &previousVelocity, 1), 1);
            }
        }
    }
    chunk->pendingDelta = chordCase.pendingDelta;
}

// Room reserved up front is used without a reallocation, and the events
// are those of a chunk that grew as it went; a reservation below the room
// held changes nothing.
TEST_F(ChunkGrowth, ReservedRoomTakesEventsWithoutReallocation) {
    ASSERT_EQ(AddEventProgramChange(&track, 3, 12), 1);
    const Bytes opening = EventBytes(track);
    ASSERT_EQ(ReserveEvents(&track, 4000), 1);
    EXPECT_EQ(track.capacity, 4000u);
    EXPECT_EQ(EventBytes(track), opening);
    const Byte *reserved = track.events;
    const std::size_t requests = TestHeap::Requests();
    AppendNoteOns(&track, 999);  // 3 + 999 x 4 bytes: 3999
    EXPECT_EQ(track.events, reserved);
    EXPECT_EQ(TestHeap::Requests(), requests);

    MidiTrackChunk grown;
    InitMidiTrackChunk(&grown);
    ASSERT_EQ(AddEventProgramChange(&grown, 3, 12), 1);
    AppendNoteOns(&grown, 999);
    EXPECT_EQ(EventBytes(track), EventBytes(grown));
    FreeMidiTrackChunk(&grown);

    ASSERT_EQ(ReserveEvents(&track, 100), 1);
    EXPECT_EQ(track.capacity, 4000u);
    EXPECT_EQ(track.events, reserved);
}

TEST_F(ChunkGrowth, RefusedReservationKeepsTheChunk) {
    AppendNoteOns(&track, 10);
    const MidiTrackChunk before = track;
    const Bytes bytesBefore = EventBytes(track);
    TestHeap::FailAllocation(1);
    EXPECT_EQ(ReserveEvents(&track, 1u << 20), 0);
    EXPECT_TRUE(TestHeap::FailureHappened());
    EXPECT_EQ(track.events, before.events);
    EXPECT_EQ(track.capacity, before.capacity);
    EXPECT_EQ(EventBytes(track), bytesBefore);
    AppendNoteOns(&track, 10);
    EXPECT_EQ(DwordValue(track.header.length), 80u);
}

// The bytes a chord must append, written out here: the delta time as a
// variable-length quantity (at most 0x0FFFFFFF), the status unless it repeats
// the running status, key and velocity, then 0, key, velocity per later note.
Bytes ExpectedChordBytes(const ChordCase &chordCase, std::uint8_t runningStatus) {
    Bytes bytes;
    if (chordCase.keys.empty()) return bytes;
    const std::uint32_t delta = chordCase.pendingDelta > 0x0FFFFFFF ? 0x0FFFFFFF : chordCase.pendingDelta;
    for (int shift = 21; shift > 0; shift -= 7)
        if (delta >> shift) bytes.push_back(static_cast<std::uint8_t>(0x80 | ((delta >> shift) & 0x7F)));
    bytes.push_back(static_cast<std::uint8_t>(delta & 0x7F));
    const std::uint8_t status = static_cast<std::uint8_t>(chordCase.kind | chordCase.channel);
    if (status != runningStatus) bytes.push_back(static_cast<std::uint8_t>(status));
    for (std::size_t note = 0; note < chordCase.keys.size(); ++note) {
        if (note > 0) bytes.push_back(static_cast<std::uint8_t>(0));
        bytes.push_back(static_cast<std::uint8_t>(chordCase.keys[note]));
        bytes.push_back(static_cast<std::uint8_t>(chordCase.velocities[note]));
    }
    return bytes;
}

TEST_F(ChunkGrowth, ChordGivesTheBytesWrittenOut) {
    const std::uint32_t deltas[] = {0, 1, 0x7F, 0x80, 0x3FFF, 0x4000, 0x1FFFFF, 0x200000, 0x0FFFFFFF, 0x10000000};
    std::mt19937 engine(7);
    for (int round = 0; round < 3000; ++round) {
        ChordCase chordCase;
        chordCase.kind = engine() % 2 ? 0x90 : 0x80;
        chordCase.channel = static_cast<std::uint8_t>(engine() % 16);
        chordCase.pendingDelta = deltas[engine() % 10];
        const std::uint8_t previous[] = {0, 0x80, 0x90, 0xB0};
        chordCase.previousStatus = previous[engine() % 4];
        // Now and then the previous event is on the chord's own channel and kind.
        if (chordCase.previousStatus != 0)
            chordCase.previousStatus |= engine() % 2 ? chordCase.channel : static_cast<std::uint8_t>(engine() % 16);
        chordCase.fullBuffer = engine() % 2 == 0;
        const std::size_t count = engine() % 5 == 0 ? engine() % 30 : engine() % 8;
        for (std::size_t note = 0; note < count; ++note) {
            chordCase.keys.push_back(static_cast<std::uint8_t>(engine() % 128));
            chordCase.velocities.push_back(static_cast<std::uint8_t>(engine() % 128));
        }

        MidiTrackChunk oneCall;
        Prepare(&oneCall, chordCase);
        Bytes expected = EventBytes(oneCall);
        const Bytes chord = ExpectedChordBytes(chordCase, oneCall.runningStatus);
        expected.insert(expected.end(), chord.begin(), chord.end());
        const std::uint8_t status = static_cast<std::uint8_t>(chordCase.kind | chordCase.channel);
        const std::uint8_t runningStatus = count == 0 ? oneCall.runningStatus : status;
        const std::uint32_t pendingDelta = count == 0 ? chordCase.pendingDelta : 0;
        ASSERT_EQ(AddEventNotes(&oneCall, chordCase.kind, chordCase.channel, chordCase.keys.data(),
                                chordCase.velocities.data(), static_cast<std::uint32_t>(count)),
                  1);
        EXPECT_EQ(EventBytes(oneCall), expected) << "round " << round;
        EXPECT_EQ(oneCall.pendingDelta, pendingDelta) << "round " << round;
        EXPECT_EQ(oneCall.runningStatus, runningStatus) << "round " << round;
        EXPECT_LE(DwordValue(oneCall.header.length), oneCall.capacity) << "round " << round;
        FreeMidiTrackChunk(&oneCall);
        if (HasFailure()) break;
    }
}

// No notes: nothing appended, the pending ticks wait for the next event.
TEST_F(ChunkGrowth, ChordOfNoNotesChangesNothing) {
    ASSERT_EQ(AddEventProgramChange(&track, 0, 1), 1);
    track.pendingDelta = 300;
    const Bytes before = EventBytes(track);
    TestHeap::FailAllocation(1, true);
    EXPECT_EQ(AddEventNotes(&track, 0x90, 0, nullptr, nullptr, 0), 1);
    EXPECT_FALSE(TestHeap::FailureHappened());
    EXPECT_EQ(EventBytes(track), before);
    EXPECT_EQ(track.pendingDelta, 300u);
    EXPECT_EQ(track.runningStatus, 0xC0);
}

// A chord that cannot grow the buffer appends none of its notes.
TEST_F(ChunkGrowth, FailedChordKeepsTheChunk) {
    ASSERT_EQ(AddEventNoteOn(&track, 2, 60, 95), 1);
    while (track.capacity - DwordValue(track.header.length) >= 3) ASSERT_EQ(AddEventNoteOn(&track, 2, 60, 95), 1);
    track.pendingDelta = 0x5000;
    const MidiTrackChunk before = track;
    const Bytes bytesBefore = EventBytes(track);
    const std::uint8_t keys[] = {40, 44, 47};
    const std::uint8_t velocities[] = {80, 80, 80};
    TestHeap::FailAllocation(1);
    EXPECT_EQ(AddEventNotes(&track, 0x80, 2, keys, velocities, 3), 0);
    EXPECT_TRUE(TestHeap::FailureHappened());
    EXPECT_EQ(track.events, before.events);
    EXPECT_EQ(track.capacity, before.capacity);
    EXPECT_EQ(EventBytes(track), bytesBefore);
    EXPECT_EQ(track.pendingDelta, 0x5000u);
    EXPECT_EQ(track.runningStatus, 0x92);
    EXPECT_EQ(AddEventNotes(&track, 0x80, 2, keys, velocities, 3), 1);
    const Bytes after = EventBytes(track);
    EXPECT_EQ(Bytes(after.begin() + static_cast<long>(bytesBefore.size()), after.end()),
              (Bytes{0x81, 0xA0, 0x00, 0x82, 40, 80, 0x00, 44, 80, 0x00, 47, 80}));
}

}  // namespace
