// midi.cpp - the MIDI file builder: big-endian unit transfers and variable-length
// quantities, the format-1 file model with its stream and buffer serialisers,
// and the event builders that append encoded events to a track chunk.
#include "mid/midi.h"

#include <cstring>

#include "heap.h"

namespace Talvoren {

namespace {

// The largest value a four-byte variable-length quantity can hold. Larger
// values would need a fifth group; the writers clamp them to this value so that
// they never emit more than the four bytes GetVarLenLength reserves and never
// produce a malformed quantity.
constexpr std::uint32_t largestVarLen = 0x0FFFFFFF;

constexpr std::uint32_t headerChunkSize = 14;  // "MThd", length, three words
constexpr std::uint32_t chunkHeaderSize = 8;   // type and length
constexpr std::uint32_t largestTrackCount = 0xFFFF;
constexpr std::uint32_t largestLength = 0xFFFFFFFF;

Dword ChunkType(const char letters[4]) {
    Dword type;
    std::memcpy(&type, letters, sizeof type);
    return type;
}

// ---------------------------------------------------------------------------
// Stream transfers of units. LittleEndian moves the array as it lies in memory
// in one block; any other order moves one unit at a time, most significant
// byte first in the stream.

[[maybe_unused]] std::uint32_t FileReadDWord(Dword *values, std::uint32_t count, std::FILE *stream, Endianness order) {
    if (order == LittleEndian) {
        return static_cast<std::uint32_t>(std::fread(values, sizeof(Dword), count, stream));
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        unsigned char scratch[4];
        if (std::fread(scratch, 1, sizeof scratch, stream) < sizeof scratch) return index;
        values[index] = static_cast<Dword>((std::uint32_t{scratch[0]} << 24) | (std::uint32_t{scratch[1]} << 16) |
                                           (std::uint32_t{scratch[2]} << 8) | std::uint32_t{scratch[3]});
    }
    return count;
}

[[maybe_unused]] std::uint32_t FileReadWord(Word *values, std::uint32_t count, std::FILE *stream, Endianness order) {
    if (order == LittleEndian) {
        return static_cast<std::uint32_t>(std::fread(values, sizeof(Word), count, stream));
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        unsigned char scratch[2];
        if (std::fread(scratch, 1, sizeof scratch, stream) < sizeof scratch) return index;
        values[index] = static_cast<Word>((scratch[0] << 8) | scratch[1]);
    }
    return count;
}

std::uint32_t FileWriteDWord(const Dword *values, std::uint32_t count, std::FILE *stream, Endianness order) {
    if (order == LittleEndian) {
        return static_cast<std::uint32_t>(std::fwrite(values, sizeof(Dword), count, stream));
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        const std::uint32_t value = DwordValue(values[index]);
        const unsigned char scratch[4] = {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
                                          static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
        if (std::fwrite(scratch, 1, sizeof scratch, stream) < sizeof scratch) return index;
    }
    return count;
}

std::uint32_t FileWriteWord(const Word *values, std::uint32_t count, std::FILE *stream, Endianness order) {
    if (order == LittleEndian) {
        return static_cast<std::uint32_t>(std::fwrite(values, sizeof(Word), count, stream));
    }
    for (std::uint32_t index = 0; index < count; ++index) {
        const std::uint16_t value = WordValue(values[index]);
        const unsigned char scratch[2] = {static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
        if (std::fwrite(scratch, 1, sizeof scratch, stream) < sizeof scratch) return index;
    }
    return count;
}

// ---------------------------------------------------------------------------
// Variable-length quantities: groups of 7 bits, most significant first, bit 7
// set in every byte but the last.

// Reads one quantity. Reading stops at the end of the stream: a stream that
// ends before the first byte gives 0, one that ends inside a quantity gives
// the groups read so far.
[[maybe_unused]] std::uint32_t FileReadVarLen(std::FILE *stream) {
    int character = std::fgetc(stream);
    if (character == EOF) return 0;
    std::uint32_t value = static_cast<std::uint32_t>(character);
    if ((value & 0x80) == 0) return value;
    value &= 0x7F;
    for (;;) {
        character = std::fgetc(stream);
        if (character == EOF) return value;
        value = (value << 7) + (static_cast<std::uint32_t>(character) & 0x7F);
        if ((character & 0x80) == 0) return value;
    }
}

std::uint8_t GetVarLenLength(std::uint32_t value) {
    if (value <= 0x7F) return 1;
    if (value <= 0x3FFF) return 2;
    if (value < 0x200000) return 3;
    return 4;
}

// Encodes a value (clamped to largestVarLen) into at most four bytes, most
// significant group first; returns the number of bytes, which always equals
// GetVarLenLength(value).
std::uint32_t EncodeVarLen(std::uint32_t value, unsigned char encoded[4]) {
    if (value > largestVarLen) value = largestVarLen;
    std::uint32_t accumulator = value & 0x7F;
    while ((value >> 7) != 0) {
        value >>= 7;
        accumulator <<= 8;
        accumulator |= (value & 0x7F) | 0x80;
    }
    std::uint32_t byteCount = 0;
    for (;;) {
        const unsigned char emitted = static_cast<unsigned char>(accumulator);
        encoded[byteCount++] = emitted;
        if ((emitted & 0x80) == 0) return byteCount;
        accumulator >>= 8;
    }
}

[[maybe_unused]] void FileWriteVarLen(std::uint32_t value, std::FILE *stream) {
    unsigned char encoded[4];
    const std::uint32_t byteCount = EncodeVarLen(value, encoded);
    for (std::uint32_t index = 0; index < byteCount; ++index) std::fputc(encoded[index], stream);
}

void BufferWriteVarLen(std::uint32_t value, Byte *buffer, std::uint32_t *position) {
    unsigned char encoded[4];
    const std::uint32_t byteCount = EncodeVarLen(value, encoded);
    for (std::uint32_t index = 0; index < byteCount; ++index) {
        buffer[*position] = static_cast<Byte>(encoded[index]);
        ++*position;
    }
}

// ---------------------------------------------------------------------------
// Chunk headers and the header chunk.

int SaveMidiChunkHeader(const MidiChunkHeader *header, std::FILE *stream) {
    if (std::fwrite(&header->type, 1, sizeof header->type, stream) < sizeof header->type) return 0;
    if (FileWriteDWord(&header->length, 1, stream, BigEndian) == 0) return 0;
    return 1;
}

int SaveMidiHeaderChunk(const MidiHeaderChunk *header, std::FILE *stream) {
    if (!SaveMidiChunkHeader(&header->header, stream)) return 0;
    if (FileWriteWord(&header->format, 1, stream, BigEndian) == 0) return 0;
    if (FileWriteWord(&header->trackCount, 1, stream, BigEndian) == 0) return 0;
    if (FileWriteWord(&header->division, 1, stream, BigEndian) == 0) return 0;
    return 1;
}

void BufferWriteByte(std::uint8_t value, Byte *buffer, std::uint32_t *position) {
    buffer[*position] = static_cast<Byte>(value);
    ++*position;
}

void BufferWriteWordValue(Word unit, Byte *buffer, std::uint32_t *position) {
    const std::uint16_t value = WordValue(unit);
    BufferWriteByte(static_cast<std::uint8_t>(value >> 8), buffer, position);
    BufferWriteByte(static_cast<std::uint8_t>(value), buffer, position);
}

int BufferWriteMidiChunkHeader(const MidiChunkHeader *header, Byte *buffer, std::uint32_t *position) {
    std::memcpy(buffer + *position, &header->type, sizeof header->type);
    *position += sizeof header->type;
    const std::uint32_t length = DwordValue(header->length);
    BufferWriteByte(static_cast<std::uint8_t>(length >> 24), buffer, position);
    BufferWriteByte(static_cast<std::uint8_t>(length >> 16), buffer, position);
    BufferWriteByte(static_cast<std::uint8_t>(length >> 8), buffer, position);
    BufferWriteByte(static_cast<std::uint8_t>(length), buffer, position);
    return 1;
}

int BufferWriteMidiHeaderChunk(const MidiHeaderChunk *header, Byte *buffer, std::uint32_t *position) {
    BufferWriteMidiChunkHeader(&header->header, buffer, position);
    BufferWriteWordValue(header->format, buffer, position);
    BufferWriteWordValue(header->trackCount, buffer, position);
    BufferWriteWordValue(header->division, buffer, position);
    return 1;
}

// ---------------------------------------------------------------------------
// Event buffer growth shared by the builders.

// The room a chunk's first buffer has, enough for a track's opening events.
constexpr std::uint32_t firstCapacity = 64;

// Gives the chunk's buffer room for capacity bytes (at least firstCapacity),
// keeping the events held; 0 with the chunk unchanged when the heap refuses.
int ResizeEvents(MidiTrackChunk *track, std::uint32_t capacity) {
    if (capacity < firstCapacity) capacity = firstCapacity;
    void *grown = track->events == nullptr ? MemAlloc(capacity) : MemRealloc(track->events, capacity);
    if (grown == nullptr) return 0;
    track->events = static_cast<Byte *>(grown);
    track->capacity = capacity;
    return 1;
}

// Makes room in the chunk's buffer for extraBytes more bytes. A buffer that
// is full grows with one reallocation to twice its size (or to what the event
// needs, when that is more), so that appending n events costs a number of
// reallocations that grows with log n and copies every byte a bounded number
// of times; header.length still counts exactly the bytes of events held. A
// chunk whose capacity is not known (0) is taken as full. On failure (no
// memory, or a length that would pass 32 bits) returns 0 and the chunk keeps
// its old buffer, capacity and length.
int GrowEvents(MidiTrackChunk *track, std::uint32_t extraBytes) {
    const std::uint32_t length = DwordValue(track->header.length);
    if (extraBytes > largestLength - length) return 0;
    const std::uint32_t needed = length + extraBytes;
    if (track->events != nullptr && needed <= track->capacity) return 1;
    std::uint32_t capacity = track->capacity > largestLength / 2 ? largestLength : track->capacity * 2;
    if (capacity < needed) capacity = needed;
    return ResizeEvents(track, capacity);
}

// Makes room for the pending delta time and eventSize bytes, writes the delta
// time and clears it; returns 1 with position at the event's own bytes. When
// the buffer cannot grow it returns 0 and the chunk, pendingDelta and
// runningStatus included, is unchanged, so the ticks go with the next event.
int BeginEvent(MidiTrackChunk *track, std::uint32_t eventSize, std::uint32_t *position) {
    const std::uint32_t delta = track->pendingDelta;
    const std::uint32_t deltaSize = GetVarLenLength(delta);
    if (eventSize > largestLength - deltaSize) return 0;
    const std::uint32_t length = DwordValue(track->header.length);
    const bool fits = track->events != nullptr && length <= track->capacity &&
                      deltaSize + eventSize <= track->capacity - length;
    if (!fits && !GrowEvents(track, deltaSize + eventSize)) return 0;
    // Most events follow another at once or within 0x3FFF ticks: one or two
    // bytes, written here; longer delta times take the general encoder.
    if (delta <= 0x3FFF) {
        *position = static_cast<std::uint32_t>(WriteShortDeltaTime(track->events + length, delta) - track->events);
    } else {
        *position = length;
        BufferWriteVarLen(delta, track->events, position);
    }
    track->pendingDelta = 0;
    return 1;
}

void EndEvent(MidiTrackChunk *track, std::uint32_t position, std::uint8_t runningStatus) {
    track->header.length = static_cast<Dword>(position);
    track->runningStatus = runningStatus;
}

constexpr std::uint8_t metaStatus = 0xFF;

// Text meta events: FF, type, length as a variable-length quantity, text.
// A text longer than largestVarLen bytes is cut to that length, so the
// announced length always matches the bytes that follow; an absent (null)
// text is written as an empty one.
int AddMetaEventText(MidiTrackChunk *track, std::uint8_t metaType, const char *text) {
    std::size_t textSize = text == nullptr ? 0 : std::strlen(text);
    if (textSize > largestVarLen) textSize = largestVarLen;
    const std::uint32_t textLength = static_cast<std::uint32_t>(textSize);
    const std::uint32_t eventSize = 2 + GetVarLenLength(textLength) + textLength;
    std::uint32_t position;
    if (!BeginEvent(track, eventSize, &position)) return 0;
    BufferWriteByte(metaStatus, track->events, &position);
    BufferWriteByte(metaType, track->events, &position);
    BufferWriteVarLen(textLength, track->events, &position);
    if (textLength != 0) std::memcpy(track->events + position, text, textLength);
    position += textLength;
    EndEvent(track, position, metaStatus);
    return 1;
}

}  // namespace

// ---------------------------------------------------------------------------
// The file model.

int InitMidiTrackChunk(MidiTrackChunk *track) {
    std::memset(track, 0, sizeof *track);
    track->header.type = ChunkType("MTrk");
    return 1;
}

void FreeMidiTrackChunk(MidiTrackChunk *track) {
    MemFree(track->events);
    track->events = nullptr;
    track->capacity = 0;
}

// The header's track count is 16 bits wide, so a count above 65535 fails
// like a failed allocation: the array and the header would disagree.
int InitMidiFileStruct(MidiFileStruct *midi, std::uint32_t trackCount, std::uint32_t division) {
    midi->header.header.type = ChunkType("MThd");
    midi->header.header.length = static_cast<Dword>(6);
    midi->header.format = static_cast<Word>(1);
    midi->header.trackCount = static_cast<Word>(trackCount & 0xFFFF);
    midi->header.division = static_cast<Word>(division & 0xFFFF);
    midi->tracks = nullptr;
    if (trackCount > largestTrackCount) {
        FreeMidiFileStruct(midi);
        return 0;
    }
    // At least one chunk's room, so that an empty model still has an array.
    const std::size_t chunkCount = trackCount == 0 ? 1 : trackCount;
    midi->tracks = static_cast<MidiTrackChunk *>(MemAlloc(chunkCount * sizeof(MidiTrackChunk)));
    if (midi->tracks == nullptr) {
        FreeMidiFileStruct(midi);
        return 0;
    }
    for (std::uint32_t index = 0; index < trackCount; ++index) InitMidiTrackChunk(&midi->tracks[index]);
    return 1;
}

void FreeMidiFileStruct(MidiFileStruct *midi) {
    if (midi->tracks != nullptr) {
        const std::uint32_t trackCount = WordValue(midi->header.trackCount);
        for (std::uint32_t index = 0; index < trackCount; ++index) FreeMidiTrackChunk(&midi->tracks[index]);
    }
    MemFree(midi->tracks);
    midi->tracks = nullptr;
}

// ---------------------------------------------------------------------------
// Serialisation to a stream.

int SaveMidiTrackChunk(const MidiTrackChunk *track, std::FILE *stream) {
    if (!SaveMidiChunkHeader(&track->header, stream)) return 0;
    const std::uint32_t length = DwordValue(track->header.length);
    if (length == 0) return 1;
    if (std::fwrite(track->events, 1, length, stream) < length) return 0;
    return 1;
}

int SaveMidiFileStruct(const MidiFileStruct *midi, std::FILE *stream) {
    if (!SaveMidiHeaderChunk(&midi->header, stream)) return 0;
    const std::uint32_t trackCount = WordValue(midi->header.trackCount);
    if (midi->tracks == nullptr || trackCount == 0) return 1;
    for (std::uint32_t index = 0; index < trackCount; ++index) {
        if (!SaveMidiTrackChunk(&midi->tracks[index], stream)) return 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Serialisation into one buffer.

int BufferWriteTrackChunk(const MidiTrackChunk *track, Byte *buffer, std::uint32_t *position) {
    BufferWriteMidiChunkHeader(&track->header, buffer, position);
    const std::uint32_t length = DwordValue(track->header.length);
    if (length != 0) std::memcpy(buffer + *position, track->events, length);
    *position += length;
    return 1;
}

// A file whose total size does not fit 32 bits fails like a failed allocation.
std::uint32_t CreateMidiBuffer(const MidiFileStruct *midi, Byte **buffer) {
    const std::uint32_t trackCount = midi->tracks == nullptr ? 0 : WordValue(midi->header.trackCount);
    std::uint32_t size = headerChunkSize;
    for (std::uint32_t index = 0; index < trackCount; ++index) {
        const std::uint32_t length = DwordValue(midi->tracks[index].header.length);
        if (length > largestLength - chunkHeaderSize || size > largestLength - chunkHeaderSize - length) {
            *buffer = nullptr;
            return 0;
        }
        size += chunkHeaderSize + length;
    }
    Byte *block = static_cast<Byte *>(MemAlloc(size));
    if (block == nullptr) {
        *buffer = nullptr;
        return 0;
    }
    *buffer = block;
    std::uint32_t position = 0;
    BufferWriteMidiHeaderChunk(&midi->header, block, &position);
    for (std::uint32_t index = 0; index < trackCount; ++index) BufferWriteTrackChunk(&midi->tracks[index], block, &position);
    return position;
}

std::uint64_t GetMidiFileBytes(const MidiFileStruct *midi) {
    const std::uint32_t trackCount = midi->tracks == nullptr ? 0 : WordValue(midi->header.trackCount);
    std::uint64_t bytes = headerChunkSize;
    for (std::uint32_t index = 0; index < trackCount; ++index)
        bytes += chunkHeaderSize + std::uint64_t{DwordValue(midi->tracks[index].header.length)};
    return bytes;
}

void DestroyMidiBuffer(Byte *buffer) { MemFree(buffer); }

// ---------------------------------------------------------------------------
// Room for events ahead of them.

int ReserveEvents(MidiTrackChunk *track, std::uint32_t bytes) {
    if (track->events != nullptr && bytes <= track->capacity) return 1;
    return ResizeEvents(track, bytes);
}

// ---------------------------------------------------------------------------
// Event builders.

int AddEventNoteOff(MidiTrackChunk *track, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity) {
    return AddEventNotes(track, 0x80, channel, &key, &velocity, 1);
}

int AddEventNoteOn(MidiTrackChunk *track, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity) {
    return AddEventNotes(track, 0x90, channel, &key, &velocity, 1);
}

// The general path of AddEventNotes: any delta time, any count, and a buffer
// that may have to grow. Kept out of line, so that the common path stays short.
int AddEventNotesGrowing(MidiTrackChunk *track, std::uint8_t status, const std::uint8_t *keys,
                         const std::uint8_t *velocities, std::uint32_t count) {
    const bool writeStatus = track->runningStatus != status;
    const std::uint32_t deltaSize = GetVarLenLength(track->pendingDelta);
    // The first event: its delta time, status, key, velocity; each later one 0, key, velocity.
    const std::uint64_t size = std::uint64_t{deltaSize} + (writeStatus ? 3 : 2) + std::uint64_t{count - 1} * 3;
    if (size > largestLength) return 0;
    std::uint32_t position;
    if (!BeginEvent(track, static_cast<std::uint32_t>(size) - deltaSize, &position)) return 0;
    Byte *write = WriteNoteEvents(track->events + position, writeStatus, status, keys, velocities, count);
    EndEvent(track, static_cast<std::uint32_t>(write - track->events), status);
    return 1;
}

int AddEventController(MidiTrackChunk *track, std::uint8_t channel, MidiController controller, std::uint8_t value) {
    const std::uint8_t status = static_cast<std::uint8_t>(0xB0 | channel);
    std::uint32_t position;
    if (!BeginEvent(track, 3, &position)) return 0;
    BufferWriteByte(status, track->events, &position);
    BufferWriteByte(static_cast<std::uint8_t>(controller), track->events, &position);
    BufferWriteByte(value, track->events, &position);
    EndEvent(track, position, status);
    return 1;
}

int AddEventProgramChange(MidiTrackChunk *track, std::uint8_t channel, std::uint8_t program) {
    const std::uint8_t status = static_cast<std::uint8_t>(0xC0 | channel);
    std::uint32_t position;
    if (!BeginEvent(track, 2, &position)) return 0;
    BufferWriteByte(status, track->events, &position);
    BufferWriteByte(program, track->events, &position);
    EndEvent(track, position, status);
    return 1;
}

int AddEventPitchWheel(MidiTrackChunk *track, std::uint8_t channel, std::uint16_t wheel) {
    const std::uint8_t status = static_cast<std::uint8_t>(0xE0 | channel);
    std::uint32_t position;
    if (!BeginEvent(track, 3, &position)) return 0;
    BufferWriteByte(status, track->events, &position);
    BufferWriteByte(static_cast<std::uint8_t>(wheel & 0x7F), track->events, &position);
    BufferWriteByte(static_cast<std::uint8_t>((wheel >> 7) & 0x7F), track->events, &position);
    EndEvent(track, position, status);
    return 1;
}

int AddMetaEventTrackName(MidiTrackChunk *track, const char *text) { return AddMetaEventText(track, 0x03, text); }

int AddMetaEventMarker(MidiTrackChunk *track, const char *text) { return AddMetaEventText(track, 0x06, text); }

int AddMetaEventSetTempo(MidiTrackChunk *track, std::uint32_t microsecondsPerQuarter) {
    std::uint32_t position;
    if (!BeginEvent(track, 6, &position)) return 0;
    BufferWriteByte(metaStatus, track->events, &position);
    BufferWriteByte(0x51, track->events, &position);
    BufferWriteByte(0x03, track->events, &position);
    BufferWriteByte(static_cast<std::uint8_t>(microsecondsPerQuarter >> 16), track->events, &position);
    BufferWriteByte(static_cast<std::uint8_t>(microsecondsPerQuarter >> 8), track->events, &position);
    BufferWriteByte(static_cast<std::uint8_t>(microsecondsPerQuarter), track->events, &position);
    EndEvent(track, position, metaStatus);
    return 1;
}

int AddMetaEventTimeSignature(MidiTrackChunk *track, std::uint8_t numerator, std::uint8_t denominatorPower,
                              std::uint8_t clocksPerClick, std::uint8_t thirtySecondsPerQuarter) {
    std::uint32_t position;
    if (!BeginEvent(track, 7, &position)) return 0;
    BufferWriteByte(metaStatus, track->events, &position);
    BufferWriteByte(0x58, track->events, &position);
    BufferWriteByte(0x04, track->events, &position);
    BufferWriteByte(numerator, track->events, &position);
    BufferWriteByte(denominatorPower, track->events, &position);
    BufferWriteByte(clocksPerClick, track->events, &position);
    BufferWriteByte(thirtySecondsPerQuarter, track->events, &position);
    EndEvent(track, position, metaStatus);
    return 1;
}

// A fixed delta time of 0: ticks still pending when the track ends are not
// written and stay in pendingDelta.
int AddMetaEventEndOfTrack(MidiTrackChunk *track) {
    if (!GrowEvents(track, 4)) return 0;
    std::uint32_t position = DwordValue(track->header.length);
    BufferWriteByte(0x00, track->events, &position);
    BufferWriteByte(metaStatus, track->events, &position);
    BufferWriteByte(0x2F, track->events, &position);
    BufferWriteByte(0x00, track->events, &position);
    EndEvent(track, position, metaStatus);
    return 1;
}

}  // namespace Talvoren
