// smf_check.cpp - the strict Standard MIDI File parser and validator of the
// tests, and the small listing helpers built on its records.
#include "smf_check.h"

#include <cstdio>
#include <ostream>
#include <sstream>

namespace smf {

namespace {

std::string Hex(std::uint64_t value, int width = 2) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%0*llX", width, static_cast<unsigned long long>(value));
    return text;
}

// Walks one chunk's bytes and remembers where it is, for error messages.
struct Cursor {
    const std::uint8_t *data = nullptr;
    std::size_t position = 0;  // file offset of the next byte
    std::size_t end = 0;       // file offset just past the chunk

    bool AtEnd() const { return position >= end; }
    std::size_t Left() const { return end - position; }
};

struct Failure {
    std::string *error;
    bool Report(const std::string &where, const std::string &what) {
        if (error != nullptr) *error = where.empty() ? what : where + ": " + what;
        return false;
    }
};

std::string TrackPlace(std::size_t trackIndex) { return "track " + std::to_string(trackIndex); }

std::string EventPlace(std::size_t trackIndex, std::size_t eventIndex, std::size_t offset) {
    return TrackPlace(trackIndex) + ", event " + std::to_string(eventIndex) + " (offset " + Hex(offset, 1) + ")";
}

std::uint32_t BigEndian32(const std::uint8_t *bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           std::uint32_t{bytes[3]};
}

std::uint16_t BigEndian16(const std::uint8_t *bytes) {
    return static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]);
}

// Reads a variable-length quantity of at most 4 bytes inside the chunk.
// Returns an empty string on success, else what is wrong.
std::string ReadVarLen(Cursor *cursor, std::uint32_t *value, const char *what) {
    std::uint32_t result = 0;
    for (int byteCount = 0; byteCount < 4; ++byteCount) {
        if (cursor->AtEnd()) return std::string(what) + " runs past the end of the chunk";
        const std::uint8_t byte = cursor->data[cursor->position++];
        result = (result << 7) | (byte & 0x7F);
        if ((byte & 0x80) == 0) {
            *value = result;
            return std::string();
        }
    }
    return std::string(what) + " longer than 4 bytes";
}

// Data bytes that follow a channel status, by kind.
std::size_t ChannelDataCount(std::uint8_t status) {
    switch (status & 0xF0) {
        case 0xC0:
        case 0xD0: return 1;
        default: return 2;
    }
}

bool ParseTrack(Cursor cursor, std::size_t trackIndex, Track *track, Failure *failure) {
    std::uint8_t runningStatus = 0;  // 0: no channel status in effect
    std::uint64_t tick = 0;
    bool ended = false;
    while (!cursor.AtEnd()) {
        const std::size_t eventIndex = track->events.size();
        const std::string place = EventPlace(trackIndex, eventIndex, cursor.position);
        if (ended) return failure->Report(place, "bytes after the end-of-track event");
        Event event;
        event.offset = cursor.position;
        std::string problem = ReadVarLen(&cursor, &event.delta, "delta time");
        if (!problem.empty()) return failure->Report(place, problem);
        tick += event.delta;
        event.tick = tick;
        if (cursor.AtEnd()) return failure->Report(place, "delta time without an event");

        const std::uint8_t first = cursor.data[cursor.position];
        if (first & 0x80) {
            event.status = first;
            ++cursor.position;
        } else {
            if (runningStatus == 0) {
                return failure->Report(place, "data byte " + Hex(first) + " without a status in effect");
            }
            event.status = runningStatus;
            event.statusOmitted = true;
        }

        if (event.IsChannel()) {
            runningStatus = event.status;
            const std::size_t dataCount = ChannelDataCount(event.status);
            if (cursor.Left() < dataCount) {
                return failure->Report(place, "channel event " + Hex(event.status) + " cut short by the end of the chunk");
            }
            for (std::size_t index = 0; index < dataCount; ++index) {
                const std::uint8_t byte = cursor.data[cursor.position++];
                if (byte > 0x7F) return failure->Report(place, "data byte " + Hex(byte) + " above 127");
                event.data.push_back(byte);
            }
        } else if (event.status == 0xF0 || event.status == 0xF7) {
            runningStatus = 0;
            std::uint32_t length = 0;
            problem = ReadVarLen(&cursor, &length, "system-exclusive length");
            if (!problem.empty()) return failure->Report(place, problem);
            if (length > cursor.Left()) return failure->Report(place, "system-exclusive data runs past the end of the chunk");
            event.metaData.assign(cursor.data + cursor.position, cursor.data + cursor.position + length);
            cursor.position += length;
        } else if (event.status == metaStatus) {
            runningStatus = 0;
            if (cursor.AtEnd()) return failure->Report(place, "meta event without a type");
            event.metaType = cursor.data[cursor.position++];
            if (event.metaType > 0x7F) return failure->Report(place, "meta type " + Hex(event.metaType) + " above 127");
            std::uint32_t length = 0;
            problem = ReadVarLen(&cursor, &length, "meta length");
            if (!problem.empty()) return failure->Report(place, problem);
            if (length > cursor.Left()) {
                return failure->Report(place, "meta " + Hex(event.metaType) + " data of " + std::to_string(length) +
                                                  " bytes runs past the end of the chunk");
            }
            event.metaData.assign(cursor.data + cursor.position, cursor.data + cursor.position + length);
            cursor.position += length;
            if (event.metaType == 0x51) {
                if (length != 3) return failure->Report(place, "set tempo of length " + std::to_string(length) + ", not 3");
                const std::uint32_t tempo = (std::uint32_t{event.metaData[0]} << 16) |
                                            (std::uint32_t{event.metaData[1]} << 8) | event.metaData[2];
                if (tempo == 0) return failure->Report(place, "set tempo of 0 microseconds per quarter");
            } else if (event.metaType == 0x58 && length != 4) {
                return failure->Report(place, "time signature of length " + std::to_string(length) + ", not 4");
            } else if (event.metaType == 0x2F) {
                if (length != 0) return failure->Report(place, "end of track of length " + std::to_string(length) + ", not 0");
                ended = true;
            }
        } else {
            return failure->Report(place, "status byte " + Hex(event.status) + " is no event kind");
        }
        track->events.push_back(std::move(event));
    }
    if (!ended) return failure->Report(TrackPlace(trackIndex), "does not end with FF 2F 00");
    return true;
}

}  // namespace

bool Parse(const std::uint8_t *data, std::size_t size, File *file, std::string *error) {
    Failure failure{error};
    File parsed;
    if (data == nullptr && size != 0) return failure.Report("", "no data");
    if (size < 14) return failure.Report("header", "file of " + std::to_string(size) + " bytes is shorter than 14");
    if (data[0] != 'M' || data[1] != 'T' || data[2] != 'h' || data[3] != 'd') {
        return failure.Report("header", "does not start with \"MThd\"");
    }
    const std::uint32_t headerLength = BigEndian32(data + 4);
    if (headerLength != 6) return failure.Report("header", "length " + std::to_string(headerLength) + ", not 6");
    parsed.format = BigEndian16(data + 8);
    parsed.trackCount = BigEndian16(data + 10);
    parsed.division = BigEndian16(data + 12);
    if (parsed.format > 2) return failure.Report("header", "format " + std::to_string(parsed.format));
    if (parsed.format == 0 && parsed.trackCount != 1) {
        return failure.Report("header", "format 0 with " + std::to_string(parsed.trackCount) + " tracks");
    }
    if (parsed.division == 0) return failure.Report("header", "division 0");

    std::size_t position = 14;
    for (std::size_t trackIndex = 0; trackIndex < parsed.trackCount; ++trackIndex) {
        const std::string place = TrackPlace(trackIndex) + " (offset " + Hex(position, 1) + ")";
        if (size - position < 8) return failure.Report(place, "missing or cut-off chunk header");
        if (data[position] != 'M' || data[position + 1] != 'T' || data[position + 2] != 'r' || data[position + 3] != 'k') {
            return failure.Report(place, "chunk type is not \"MTrk\"");
        }
        Track track;
        track.offset = position;
        track.length = BigEndian32(data + position + 4);
        position += 8;
        if (track.length > size - position) {
            return failure.Report(place, "chunk length " + std::to_string(track.length) + " runs past the end of the file (" +
                                             std::to_string(size - position) + " bytes left)");
        }
        Cursor cursor{data, position, position + track.length};
        if (!ParseTrack(cursor, trackIndex, &track, &failure)) return false;
        position += track.length;
        parsed.tracks.push_back(std::move(track));
    }
    if (position != size) {
        return failure.Report("file", std::to_string(size - position) + " bytes after the last of " +
                                          std::to_string(parsed.trackCount) + " track chunks");
    }
    if (file != nullptr) *file = std::move(parsed);
    if (error != nullptr) error->clear();
    return true;
}

bool Parse(const Bytes &bytes, File *file, std::string *error) {
    return Parse(bytes.data(), bytes.size(), file, error);
}

std::string Check(const Bytes &bytes) {
    std::string error;
    if (Parse(bytes, nullptr, &error)) return std::string();
    return error.empty() ? std::string("invalid") : error;
}

bool operator==(const Note &left, const Note &right) {
    return left.tick == right.tick && left.channel == right.channel && left.key == right.key &&
           left.velocity == right.velocity;
}

bool operator!=(const Note &left, const Note &right) { return !(left == right); }

std::ostream &operator<<(std::ostream &stream, const Note &note) {
    return stream << "{tick " << note.tick << ", channel " << int{note.channel} << ", key " << int{note.key}
                  << ", velocity " << int{note.velocity} << "}";
}

namespace {

std::vector<Note> NotesOfKind(const Track &track, std::uint8_t kind) {
    std::vector<Note> notes;
    for (const Event &event : track.events) {
        if (!event.IsChannel() || event.Kind() != kind) continue;
        notes.push_back(Note{event.tick, event.Channel(), event.data[0], event.data[1]});
    }
    return notes;
}

}  // namespace

std::vector<Note> NoteOns(const Track &track) { return NotesOfKind(track, 0x90); }

std::vector<Note> NoteOffs(const Track &track) { return NotesOfKind(track, 0x80); }

std::string FindKeyStruckWhileSounding(const Track &track) {
    bool sounding[16][128] = {};
    for (std::size_t index = 0; index < track.events.size(); ++index) {
        const Event &event = track.events[index];
        if (!event.IsChannel() || (event.Kind() != 0x80 && event.Kind() != 0x90)) continue;
        bool &key = sounding[event.Channel()][event.data[0] & 0x7F];
        const bool on = event.Kind() == 0x90 && event.data[1] != 0;
        if (on && key) return "event " + std::to_string(index) + ": " + Describe(event);
        key = on;
    }
    return "";
}

std::vector<const Event *> MetaEvents(const Track &track, std::uint8_t metaType) {
    std::vector<const Event *> events;
    for (const Event &event : track.events) {
        if (event.IsMeta() && event.metaType == metaType) events.push_back(&event);
    }
    return events;
}

std::string FirstMetaText(const Track &track, std::uint8_t metaType) {
    for (const Event &event : track.events) {
        if (event.IsMeta() && event.metaType == metaType) {
            return std::string(event.metaData.begin(), event.metaData.end());
        }
    }
    return std::string();
}

std::vector<Tempo> Tempos(const Track &track) {
    std::vector<Tempo> tempos;
    for (const Event *event : MetaEvents(track, 0x51)) {
        const Bytes &bytes = event->metaData;
        tempos.push_back(Tempo{event->tick, (std::uint32_t{bytes[0]} << 16) | (std::uint32_t{bytes[1]} << 8) | bytes[2]});
    }
    return tempos;
}

std::string Describe(const Event &event) {
    std::ostringstream text;
    text << "tick " << event.tick << " (+" << event.delta << ") ";
    if (event.IsMeta()) {
        text << "meta " << Hex(event.metaType) << " [";
        for (std::size_t index = 0; index < event.metaData.size(); ++index) {
            text << (index ? " " : "") << Hex(event.metaData[index]);
        }
        text << "]";
    } else {
        text << "status " << Hex(event.status) << (event.statusOmitted ? " (running)" : "");
        for (std::uint8_t byte : event.data) text << " " << int{byte};
        if (!event.metaData.empty()) text << " [" << event.metaData.size() << " bytes]";
    }
    return text.str();
}

std::string Describe(const File &file) {
    std::ostringstream text;
    text << "format " << file.format << ", " << file.trackCount << " tracks, division " << file.division << "\n";
    for (std::size_t trackIndex = 0; trackIndex < file.tracks.size(); ++trackIndex) {
        const Track &track = file.tracks[trackIndex];
        text << "track " << trackIndex << " (" << track.length << " bytes)\n";
        for (const Event &event : track.events) text << "  " << Describe(event) << "\n";
    }
    return text.str();
}

}  // namespace smf
