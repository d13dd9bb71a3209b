// midi.h - the in-memory model of a Standard MIDI File of format 1, its
// serialisation to a stream or into one buffer, and the event builders that
// append encoded events to a track chunk.
#ifndef TALVOREN_MID_MIDI_H
#define TALVOREN_MID_MIDI_H

#include <cstdint>
#include <cstdio>

namespace Talvoren {

// The builder's units: distinct types, each exactly as wide as its unit, so
// an array of them is a contiguous run of bytes.
enum class Byte : std::uint8_t {};
enum class Word : std::uint16_t {};
enum class Dword : std::uint32_t {};

static_assert(sizeof(Byte) == 1 && sizeof(Word) == 2 && sizeof(Dword) == 4,
              "units are exactly as wide as their size");

// Byte order of units in a stream; any non-zero value is taken as BigEndian.
enum Endianness : std::uint32_t {
    LittleEndian = 0,
    BigEndian = 1,
};

// Controller numbers; the conversion sends only Volume.
enum MidiController : std::uint32_t {
    Volume = 7,
};

struct MidiChunkHeader {
    Dword type;    // four ASCII letters in file order in memory ("MThd", "MTrk")
    Dword length;  // data bytes after the chunk header, as a host integer
};

struct MidiHeaderChunk {
    MidiChunkHeader header;  // "MThd", length 6
    Word format;             // always 1
    Word trackCount;         // number of track chunks
    Word division;           // ticks per quarter note
};

struct MidiTrackChunk {
    MidiChunkHeader header;      // "MTrk"; length is the number of bytes in events
    Byte *events;                // encoded events, owned; null before the first
    std::uint32_t pendingDelta;  // ticks since the last event appended
    std::uint8_t runningStatus;  // status of the last channel event, 0xFF after a meta event
    std::uint32_t capacity;      // bytes allocated for events, of which header.length are used
};

struct MidiFileStruct {
    MidiHeaderChunk header;
    MidiTrackChunk *tracks;  // header.trackCount chunks, owned; chunk 0 comes first
};

// Set-up and release.
int InitMidiFileStruct(MidiFileStruct *midi, std::uint32_t trackCount, std::uint32_t division);
void FreeMidiFileStruct(MidiFileStruct *midi);
int InitMidiTrackChunk(MidiTrackChunk *track);
void FreeMidiTrackChunk(MidiTrackChunk *track);

// Serialisation; neither changes the model.
int SaveMidiFileStruct(const MidiFileStruct *midi, std::FILE *stream);
int SaveMidiTrackChunk(const MidiTrackChunk *track, std::FILE *stream);
std::uint32_t CreateMidiBuffer(const MidiFileStruct *midi, Byte **buffer);
// The bytes the model's file takes: its header chunk, and each track chunk
// with its header; counted in 64 bits, so that no sum wraps.
std::uint64_t GetMidiFileBytes(const MidiFileStruct *midi);
void DestroyMidiBuffer(Byte *buffer);
int BufferWriteTrackChunk(const MidiTrackChunk *track, Byte *buffer, std::uint32_t *position);

// Makes the chunk's buffer hold at least bytes bytes of events in all, so
// that appending up to that many needs no reallocation; header.length and the
// events held stay as they are. 1 when the room is there; 0 when the buffer
// could not grow (the chunk is then unchanged).
int ReserveEvents(MidiTrackChunk *track, std::uint32_t bytes);

// Event builders: each writes the chunk's pendingDelta as the event's delta
// time and clears it. 1 when appended, 0 when the buffer could not grow
// (the chunk is then unchanged).
//
// Appends count note events of one kind on one channel at one instant: kind
// 0x80 (note off) or 0x90 (note on), keys[i] with velocities[i]. The first
// carries the pending delta time, the others 0, and the status byte is left
// out where it repeats the last channel event's (running status). 1 when all
// were appended, also for a count of 0 (which changes nothing); 0 when the
// buffer could not grow, with the chunk unchanged.
inline int AddEventNotes(MidiTrackChunk *track, std::uint8_t kind, std::uint8_t channel, const std::uint8_t *keys,
                         const std::uint8_t *velocities, std::uint32_t count);
// One note event: AddEventNotes of one note.
int AddEventNoteOff(MidiTrackChunk *track, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity);
int AddEventNoteOn(MidiTrackChunk *track, std::uint8_t channel, std::uint8_t key, std::uint8_t velocity);
int AddEventController(MidiTrackChunk *track, std::uint8_t channel, MidiController controller, std::uint8_t value);
int AddEventProgramChange(MidiTrackChunk *track, std::uint8_t channel, std::uint8_t program);
// Pitch wheel: a 14-bit position (0x2000 is the centre), low seven bits first.
int AddEventPitchWheel(MidiTrackChunk *track, std::uint8_t channel, std::uint16_t wheel);
int AddMetaEventTrackName(MidiTrackChunk *track, const char *text);
int AddMetaEventMarker(MidiTrackChunk *track, const char *text);
int AddMetaEventSetTempo(MidiTrackChunk *track, std::uint32_t microsecondsPerQuarter);
int AddMetaEventTimeSignature(MidiTrackChunk *track, std::uint8_t numerator, std::uint8_t denominatorPower,
                              std::uint8_t clocksPerClick, std::uint8_t thirtySecondsPerQuarter);
// Appends 00 FF 2F 00; leaves pendingDelta alone.
int AddMetaEventEndOfTrack(MidiTrackChunk *track);

// Unit values as host integers.
inline std::uint32_t DwordValue(Dword unit) { return static_cast<std::uint32_t>(unit); }
inline std::uint16_t WordValue(Word unit) { return static_cast<std::uint16_t>(unit); }

// Writes a delta time below 0x4000 in its one or two bytes; returns the
// position after them.
inline Byte *WriteShortDeltaTime(Byte *write, std::uint32_t delta) {
    if (delta > 0x7F) *write++ = static_cast<Byte>(0x80 | (delta >> 7));
    *write++ = static_cast<Byte>(delta & 0x7F);
    return write;
}

// Writes count (at least 1) note events after their delta time: the status
// byte unless running status covers it, then key and velocity, each later
// event with a delta time of 0. Returns the position after them.
inline Byte *WriteNoteEvents(Byte *write, bool writeStatus, std::uint8_t status, const std::uint8_t *keys,
                             const std::uint8_t *velocities, std::uint32_t count) {
    if (writeStatus) *write++ = static_cast<Byte>(status);
    *write++ = static_cast<Byte>(keys[0]);
    *write++ = static_cast<Byte>(velocities[0]);
    for (std::uint32_t note = 1; note < count; ++note) {
        *write++ = static_cast<Byte>(0);
        *write++ = static_cast<Byte>(keys[note]);
        *write++ = static_cast<Byte>(velocities[note]);
    }
    return write;
}

// AddEventNotes for any delta time, any count and a buffer that may have to grow.
int AddEventNotesGrowing(MidiTrackChunk *track, std::uint8_t status, const std::uint8_t *keys,
                         const std::uint8_t *velocities, std::uint32_t count);

// The conversion sends every chord this way, so the common case is written
// here, where the caller can take it in: a delta time below 0x4000 and room
// for the notes already in the buffer.
inline int AddEventNotes(MidiTrackChunk *track, std::uint8_t kind, std::uint8_t channel, const std::uint8_t *keys,
                         const std::uint8_t *velocities, std::uint32_t count) {
    if (count == 0) return 1;
    const std::uint8_t status = static_cast<std::uint8_t>(kind | channel);
    const std::uint32_t delta = track->pendingDelta;
    const std::uint32_t length = DwordValue(track->header.length);
    // At most 2 delta bytes, a status byte and 3 bytes per note; counted in
    // 64 bits, so that no count and no length can wrap the sum.
    const std::uint64_t needed = std::uint64_t{length} + 3 + 3 * std::uint64_t{count};
    if (delta > 0x3FFF || track->events == nullptr || needed > track->capacity)
        return AddEventNotesGrowing(track, status, keys, velocities, count);
    Byte *write = WriteShortDeltaTime(track->events + length, delta);
    write = WriteNoteEvents(write, track->runningStatus != status, status, keys, velocities, count);
    track->pendingDelta = 0;
    track->header.length = static_cast<Dword>(write - track->events);
    track->runningStatus = status;
    return 1;
}

}  // namespace Talvoren

#endif  // TALVOREN_MID_MIDI_H
