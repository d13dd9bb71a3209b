// smf_check.h - a strict test-side reader of Standard MIDI Files: parses the
// bytes into plain records and rejects anything malformed, saying where.
// It knows the file layout on its own and shares nothing with the library.
#ifndef ZELTO_TESTS_SMF_CHECK_H
#define ZELTO_TESTS_SMF_CHECK_H

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace smf {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t metaStatus = 0xFF;

struct Event {
    std::size_t offset = 0;       // file offset of the event's delta time
    std::uint32_t delta = 0;      // delta time in ticks
    std::uint64_t tick = 0;       // absolute time: the sum of the deltas so far
    std::uint8_t status = 0;      // status byte, running status resolved; 0xFF for meta events
    bool statusOmitted = false;   // the status came from running status
    Bytes data;                   // channel event data bytes (1 or 2)
    std::uint8_t metaType = 0;    // meta events only
    Bytes metaData;               // meta events and system-exclusive events: the payload

    bool IsMeta() const { return status == metaStatus; }
    bool IsChannel() const { return status >= 0x80 && status < 0xF0; }
    std::uint8_t Kind() const { return static_cast<std::uint8_t>(status & 0xF0); }
    std::uint8_t Channel() const { return static_cast<std::uint8_t>(status & 0x0F); }
};

struct Track {
    std::size_t offset = 0;   // file offset of the "MTrk" chunk
    std::uint32_t length = 0; // chunk length from its header
    std::vector<Event> events;  // the closing end-of-track event included
};

struct File {
    std::uint16_t format = 0;
    std::uint16_t trackCount = 0;
    std::uint16_t division = 0;
    std::vector<Track> tracks;
};

// Parses and validates a whole file. The rules: an "MThd" chunk of length 6
// with format 0, 1 or 2 (format 0 with exactly one track) and a non-zero
// division; exactly trackCount "MTrk" chunks after it whose lengths add up to
// the buffer; delta times and lengths as variable-length quantities of at most
// 4 bytes; status bytes only of real event kinds (channel events, system
// exclusive, meta), running status only after a channel event; data bytes
// 0..127; meta types 0..127 and meta data inside the chunk; set tempo of
// length 3 with a value 1..0xFFFFFF; time signature of length 4; every track
// ending with FF 2F 00 and nothing after it.
// On failure returns false and, when error is not null, stores where and why,
// e.g. "track 2, event 17 (offset 0x123): data byte 0x90 above 127". Tracks
// and events are counted from 0, as in File::tracks and Track::events.
bool Parse(const std::uint8_t *data, std::size_t size, File *file, std::string *error);
bool Parse(const Bytes &bytes, File *file, std::string *error);

// Convenience for tests: the error text, empty when the bytes are a valid file.
std::string Check(const Bytes &bytes);

// One note event: a note-on (status 0x9n) or a note-off (status 0x8n).
struct Note {
    std::uint64_t tick = 0;
    std::uint8_t channel = 0;
    std::uint8_t key = 0;
    std::uint8_t velocity = 0;
};
bool operator==(const Note &left, const Note &right);
bool operator!=(const Note &left, const Note &right);
std::ostream &operator<<(std::ostream &stream, const Note &note);

std::vector<Note> NoteOns(const Track &track);
std::vector<Note> NoteOffs(const Track &track);
// The first note-on of the track for a key that already sounds on its
// channel, described; empty when every key is struck only while silent.
std::string FindKeyStruckWhileSounding(const Track &track);

// Meta events of one type, in track order.
std::vector<const Event *> MetaEvents(const Track &track, std::uint8_t metaType);
// The payload of the first meta event of that type as text; empty if none.
std::string FirstMetaText(const Track &track, std::uint8_t metaType);
// Set-tempo values (microseconds per quarter) with their ticks.
struct Tempo {
    std::uint64_t tick = 0;
    std::uint32_t microsecondsPerQuarter = 0;
};
std::vector<Tempo> Tempos(const Track &track);

// A readable listing of a parsed file, one event a line, for failure messages.
std::string Describe(const File &file);
std::string Describe(const Event &event);

}  // namespace smf

#endif  // ZELTO_TESTS_SMF_CHECK_H
