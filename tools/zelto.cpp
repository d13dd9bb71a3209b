// zelto.cpp - the zelto command-line tool: `zelto info` summarises a Guitar
// Pro 4 song as text or JSON, `zelto midi` converts songs to MIDI files.
//
// It uses the library only through its public C interface, zelto.h.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "zelto.h"

#ifndef ZELTO_VERSION
#define ZELTO_VERSION "0.0.0.0"
#endif

namespace fs = std::filesystem;

namespace {

// Exit statuses: every song done; a song failed; the command line was wrong.
constexpr int kExitSuccess = 0;
constexpr int kExitSongFailed = 1;
constexpr int kExitUsage = 2;

// The two version strings the library accepts, and the prefix every version
// string of the format starts with.
const char *const kAcceptedVersions[] = {"FICHIER GUITAR PRO v4.00", "FICHIER GUITAR PRO v4.06"};
const char kFormatPrefix[] = "FICHIER GUITAR PRO";
// The version field: one length byte and 30 bytes of text and filler.
constexpr std::size_t kVersionFieldSize = 31;

// A batch conversion draws a progress bar from this many songs on.
constexpr std::size_t kProgressBarMinimumSongs = 5;

// The channel table the library exposes: 4 ports of 16 channels.
constexpr std::uint32_t kMidiPortCount = 4;
constexpr std::uint32_t kMidiChannelsPerPort = 16;
// Every track record carries seven tunings, whatever its string count.
constexpr std::uint32_t kTuningSlots = 7;
constexpr std::uint32_t kLyricsLineCount = 5;

// ---------------------------------------------------------------------------
// Text of the song: 8-bit bytes in no declared character set.

void AppendUtf8(std::string &out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

bool IsValidUtf8(const std::string &text) {
    std::size_t position = 0;
    while (position < text.size()) {
        unsigned char lead = static_cast<unsigned char>(text[position]);
        std::size_t followers;
        std::uint32_t codePoint;
        if (lead < 0x80) {
            ++position;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            followers = 1;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            followers = 2;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            followers = 3;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (position + followers >= text.size()) return false;
        for (std::size_t index = 1; index <= followers; ++index) {
            unsigned char follower = static_cast<unsigned char>(text[position + index]);
            if ((follower & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (follower & 0x3F);
        }
        // Reject overlong forms, surrogates and values past U+10FFFF.
        if ((followers == 2 && codePoint < 0x800) || (followers == 3 && codePoint < 0x10000) ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
            return false;
        position += followers + 1;
    }
    return true;
}

// A song string for a person to read on a terminal: kept as it is when it is
// valid UTF-8, otherwise each byte taken as a Latin-1 character. Control
// characters (C0, DEL and C1) are shown as \xNN so that they cannot disturb
// the terminal.
std::string DisplayText(const std::string &text) {
    const bool utf8 = IsValidUtf8(text);
    std::string out;
    for (std::size_t index = 0; index < text.size(); ++index) {
        unsigned char byte = static_cast<unsigned char>(text[index]);
        // In UTF-8 the C1 controls U+0080 to U+009F are 0xC2 0x80 to 0xC2 0x9F.
        bool utf8Control = utf8 && byte == 0xC2 && index + 1 < text.size() &&
                           static_cast<unsigned char>(text[index + 1]) < 0xA0;
        if (utf8Control) byte = static_cast<unsigned char>(text[++index]);
        if (byte < 0x20 || byte == 0x7F || utf8Control || (!utf8 && byte >= 0x80 && byte < 0xA0)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else if (byte < 0x80 || utf8) {
            out += static_cast<char>(byte);
        } else {
            AppendUtf8(out, byte);
        }
    }
    return out;
}

// A song string as a JSON string literal. Each byte becomes the Unicode code
// point of the same value (the bytes read as Latin-1), so the original bytes
// come back exactly by encoding the decoded string as Latin-1.
std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char byte : text) {
        switch (byte) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                    out += escape;
                } else {
                    AppendUtf8(out, byte);
                }
        }
    }
    out += '"';
    return out;
}

// A string query's result in JSON: a string, or null for an absent string.
std::string JsonText(const char *text) { return text == nullptr ? "null" : JsonString(text); }

std::string JsonBool(int value) { return value ? "true" : "false"; }

std::string Number(long long value) { return std::to_string(value); }

// A path as given on the command line, for messages.
std::string DisplayPath(const fs::path &path) { return DisplayText(path.string()); }

// ---------------------------------------------------------------------------
// Music helpers for the summary.

// The note name of a MIDI note number, with middle C (60) as C4.
std::string NoteName(std::int32_t noteNumber) {
    static const char *const kNames[12] = {"C", "C#", "D", "D#", "E", "F",
                                           "F#", "G", "G#", "A", "A#", "B"};
    if (noteNumber < 0 || noteNumber > 127) return "?";
    return std::string(kNames[noteNumber % 12]) + std::to_string(noteNumber / 12 - 1);
}

// A colour field as #rrggbb: its first three bytes in the file are red, green
// and blue, which the library's little-endian value holds in its low bytes.
std::string ColourText(std::uint32_t colour) {
    char text[16];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour & 0xFF, (colour >> 8) & 0xFF,
                  (colour >> 16) & 0xFF);
    return text;
}

// ---------------------------------------------------------------------------
// Why a song did not load. The library answers only 0 or 1; the first bytes
// of the file tell a missing file, another format and another version apart
// from a damaged song.

std::string ExplainLoadFailure(const fs::path &songPath) {
    const std::string path = songPath.string();
    struct stat status;
    if (stat(path.c_str(), &status) != 0) return std::string("cannot open: ") + std::strerror(errno);
    if (S_ISDIR(status.st_mode)) return std::string("cannot read: ") + std::strerror(EISDIR);

    std::FILE *stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) return std::string("cannot open: ") + std::strerror(errno);
    unsigned char head[kVersionFieldSize];
    std::size_t got = std::fread(head, 1, sizeof head, stream);
    int readError = std::ferror(stream) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(stream);
    if (readError != 0) return std::string("cannot read: ") + std::strerror(readError);
    if (got == 0) return "not a Guitar Pro 4 song: the file is empty";
    if (got >= 4 && std::memcmp(head, "MThd", 4) == 0)
        return "not a Guitar Pro 4 song: it is a Standard MIDI File";

    std::size_t textLength = std::min<std::size_t>(head[0], got - 1);
    std::string version(reinterpret_cast<const char *>(head + 1), textLength);
    for (const char *accepted : kAcceptedVersions) {
        if (head[0] != std::strlen(accepted) || version.compare(0, textLength, accepted, textLength) != 0)
            continue;
        if (textLength < head[0]) return "damaged or cut off: the file ends inside its version string";
        return "damaged or cut off: the version \"" + version +
               "\" is right, but the song after it could not be read";
    }
    if (version.compare(0, std::strlen(kFormatPrefix), kFormatPrefix) != 0)
        return "not a Guitar Pro 4 song: the file does not start with a Guitar Pro version string";
    return "not a Guitar Pro 4 song: it is another version of the format (\"" + DisplayText(version) +
           "\"); only \"FICHIER GUITAR PRO v4.00\" and \"v4.06\" are read";
}

// Loads a song into the library, or says on standard error why it did not.
bool LoadSong(const fs::path &songPath, std::string &problem) {
    if (ZELTO_Load(songPath.string().c_str())) return true;
    problem = ExplainLoadFailure(songPath);
    return false;
}

void ReportSongError(const fs::path &songPath, const std::string &problem) {
    std::fprintf(stderr, "zelto: %s: %s\n", DisplayPath(songPath).c_str(), problem.c_str());
}

// ---------------------------------------------------------------------------
// zelto info: the readable summary.

std::string Field(const char *text) { return text == nullptr ? "(unreadable)" : DisplayText(text); }

void PrintLabelled(const char *label, const std::string &value) {
    std::printf("%-14s%s\n", label, value.c_str());
}

// A text that may hold several lines (lyrics), each line under the first
// indented to the value column.
void PrintMultiline(const char *label, const std::string &text) {
    std::size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        PrintLabelled(first ? label : "", DisplayText(line));
        first = false;
        start = end + 1;
    }
}

// What is worth telling about one measure header, with the time signature as
// it stands after this measure (running numerator and denominator).
std::string DescribeMeasure(std::uint32_t measure, std::uint32_t &numerator,
                            std::uint32_t &denominator) {
    std::vector<std::string> parts;
    bool numeratorGiven = ZELTO_IsMeasureKeyNumeratorPresent(measure);
    bool denominatorGiven = ZELTO_IsMeasureKeyDenominatorPresent(measure);
    if (numeratorGiven || denominatorGiven) {
        std::uint32_t newNumerator = numeratorGiven ? ZELTO_GetMeasureKeyNumerator(measure) : numerator;
        std::uint32_t newDenominator =
            denominatorGiven ? ZELTO_GetMeasureKeyDenominator(measure) : denominator;
        if (measure == 0 || newNumerator != numerator || newDenominator != denominator)
            parts.push_back("time " + Number(newNumerator) + "/" + Number(newDenominator));
        numerator = newNumerator;
        denominator = newDenominator;
    }
    if (ZELTO_IsMeasureBeginRepeatPresent(measure)) parts.push_back("repeat opens");
    if (ZELTO_IsMeasureEndRepeatPresent(measure)) {
        std::uint32_t repeatCount = ZELTO_GetMeasureRepeatCount(measure);
        parts.push_back("repeat closes, count " + Number(repeatCount) + " (section played " +
                        Number(repeatCount + 1) + " times)");
    }
    if (std::uint32_t ending = ZELTO_GetMeasureAltEndingCount(measure))
        parts.push_back("alternative ending " + Number(ending));
    if (ZELTO_IsMeasureMarkerPresent(measure)) {
        std::uint32_t colour = ZELTO_GetMeasureMarkerColor(measure);
        parts.push_back("marker \"" + Field(ZELTO_GetMeasureMarkerText(measure)) + "\" (colour " +
                        ColourText(colour) + ")");
    }
    if (ZELTO_IsMeasureTonalityPresent(measure))
        parts.push_back("tonality " + Number(ZELTO_GetMeasureTonality(measure)));
    if (ZELTO_IsMeasureDoubleBarPresent(measure)) parts.push_back("double bar");

    std::string description;
    for (const std::string &part : parts) description += (description.empty() ? "" : "; ") + part;
    return description;
}

// One row of the track table, as cells.
std::vector<std::string> TrackRow(std::uint32_t track) {
    std::uint32_t stringCount = ZELTO_GetTrackStringCount(track);
    std::string tuning;
    for (std::uint32_t string = 0; string < std::min(stringCount, kTuningSlots); ++string) {
        std::int32_t noteNumber = ZELTO_GetTrackTuning(track, string);
        tuning += (tuning.empty() ? "" : " ") + NoteName(noteNumber) + "(" + Number(noteNumber) + ")";
    }
    if (tuning.empty()) tuning = "-";
    std::uint32_t port = ZELTO_GetTrackMidiPort(track);
    std::uint32_t channel = ZELTO_GetTrackMidiChannel(track);
    // The track's entry of the channel table: port and channel are 1-based.
    const ZELTO_MidiChannelInfo *entry = ZELTO_GetMidiChannel(port - 1, channel - 1);
    return {Number(track + 1),
            Field(ZELTO_GetTrackName(track)),
            Number(stringCount),
            tuning,
            Number(port),
            Number(channel),
            Number(ZELTO_GetTrackEffectsMidiChannel(track)),
            entry ? Number(entry->instrument) : "-",
            entry ? Number(entry->volume) : "-",
            Number(ZELTO_GetTrackFretCount(track)),
            Number(ZELTO_GetTrackCapoHeight(track)),
            ColourText(ZELTO_GetTrackColor(track))};
}

// Width of a cell on the terminal: UTF-8 continuation bytes take no column.
std::size_t DisplayWidth(const std::string &cell) {
    std::size_t width = 0;
    for (unsigned char byte : cell)
        if ((byte & 0xC0) != 0x80) ++width;
    return width;
}

void PrintTable(const std::vector<std::vector<std::string>> &rows) {
    std::vector<std::size_t> widths;
    for (const auto &row : rows) {
        widths.resize(std::max(widths.size(), row.size()), 0);
        for (std::size_t column = 0; column < row.size(); ++column)
            widths[column] = std::max(widths[column], DisplayWidth(row[column]));
    }
    for (const auto &row : rows) {
        std::string line = " ";
        for (std::size_t column = 0; column < row.size(); ++column) {
            line += (column ? "  " : " ") + row[column];
            if (column + 1 < row.size()) line.append(widths[column] - DisplayWidth(row[column]), ' ');
        }
        std::printf("%s\n", line.c_str());
    }
}

void PrintSummary() {
    PrintLabelled("Title", Field(ZELTO_GetTitle()));
    PrintLabelled("Subtitle", Field(ZELTO_GetSubtitle()));
    PrintLabelled("Artist", Field(ZELTO_GetInterpret()));
    PrintLabelled("Album", Field(ZELTO_GetAlbum()));
    PrintLabelled("Author", Field(ZELTO_GetAuthor()));
    PrintLabelled("Copyright", Field(ZELTO_GetCopyright()));
    PrintLabelled("Tab author", Field(ZELTO_GetTabAuthor()));
    PrintLabelled("Instructions", Field(ZELTO_GetInstructions()));
    std::uint32_t noticeLineCount = ZELTO_GetNoticeLineCount();
    if (noticeLineCount == 0) PrintLabelled("Notice", "(none)");
    for (std::uint32_t line = 0; line < noticeLineCount; ++line)
        PrintLabelled(line == 0 ? "Notice" : "", Field(ZELTO_GetNoticeLine(line)));

    std::uint32_t tripletFeel = ZELTO_IsTripletFeelEnabled();
    PrintLabelled("Triplet feel", tripletFeel == 0   ? "off"
                                  : tripletFeel == 1 ? "on"
                                                     : "stored as " + Number(tripletFeel) + ", played as off");
    PrintLabelled("Tempo", Number(ZELTO_GetTempo()) + " quarter notes per minute");
    PrintLabelled("Key", Number(ZELTO_GetKey()));
    PrintLabelled("Octave", Number(ZELTO_GetOctave()));

    PrintLabelled("Lyrics track", Number(ZELTO_GetLyricsTrack()));
    bool anyLyrics = false;
    for (std::uint32_t line = 0; line < kLyricsLineCount; ++line) {
        const char *text = ZELTO_GetLyricsLine(line);
        if (text != nullptr && text[0] == '\0') continue;
        std::string label = "Lyrics " + Number(line + 1);
        if (text == nullptr)
            PrintLabelled(label.c_str(), "(unreadable)");
        else
            PrintMultiline(label.c_str(), text);
        anyLyrics = true;
    }
    if (!anyLyrics) PrintLabelled("Lyrics", "(none)");

    std::uint32_t measureCount = ZELTO_GetMeasureCount();
    std::printf("\nMeasures: %u\n", measureCount);
    std::uint32_t numerator = 0, denominator = 0;
    for (std::uint32_t measure = 0; measure < measureCount; ++measure) {
        std::string description = DescribeMeasure(measure, numerator, denominator);
        if (!description.empty()) std::printf("  %5u  %s\n", measure + 1, description.c_str());
    }

    std::uint32_t trackCount = ZELTO_GetTrackCount();
    std::printf("\nTracks: %u\n", trackCount);
    if (trackCount == 0) return;
    std::vector<std::vector<std::string>> rows = {{"#", "Name", "Strings", "Tuning", "Port",
                                                   "Channel", "Effects", "Program", "Volume",
                                                   "Frets", "Capo", "Colour"}};
    for (std::uint32_t track = 0; track < trackCount; ++track) rows.push_back(TrackRow(track));
    PrintTable(rows);
}

// ---------------------------------------------------------------------------
// zelto info --json: every query's answer in one document (see docs/json.md).

std::string ChannelJson(std::uint32_t port, std::uint32_t channel) {
    const ZELTO_MidiChannelInfo *entry = ZELTO_GetMidiChannel(port, channel);
    if (entry == nullptr) return "null";
    return "{\"instrument\": " + Number(entry->instrument) + ", \"volume\": " + Number(entry->volume) +
           ", \"balance\": " + Number(entry->balance) + ", \"chorus\": " + Number(entry->chorus) +
           ", \"reverb\": " + Number(entry->reverb) + ", \"phaser\": " + Number(entry->phaser) +
           ", \"tremolo\": " + Number(entry->tremolo) + ", \"filler\": [" + Number(entry->filler[0]) +
           ", " + Number(entry->filler[1]) + "]}";
}

std::string MeasureJson(std::uint32_t measure) {
    return "{\"index\": " + Number(measure) +
           ", \"keyNumeratorPresent\": " + JsonBool(ZELTO_IsMeasureKeyNumeratorPresent(measure)) +
           ", \"keyNumerator\": " + Number(ZELTO_GetMeasureKeyNumerator(measure)) +
           ", \"keyDenominatorPresent\": " + JsonBool(ZELTO_IsMeasureKeyDenominatorPresent(measure)) +
           ", \"keyDenominator\": " + Number(ZELTO_GetMeasureKeyDenominator(measure)) +
           ", \"beginRepeat\": " + JsonBool(ZELTO_IsMeasureBeginRepeatPresent(measure)) +
           ", \"endRepeat\": " + JsonBool(ZELTO_IsMeasureEndRepeatPresent(measure)) +
           ", \"repeatCount\": " + Number(ZELTO_GetMeasureRepeatCount(measure)) +
           ", \"altEndingCount\": " + Number(ZELTO_GetMeasureAltEndingCount(measure)) +
           ", \"markerPresent\": " + JsonBool(ZELTO_IsMeasureMarkerPresent(measure)) +
           ", \"markerText\": " + JsonText(ZELTO_GetMeasureMarkerText(measure)) +
           ", \"markerColor\": " + Number(ZELTO_GetMeasureMarkerColor(measure)) +
           ", \"tonalityPresent\": " + JsonBool(ZELTO_IsMeasureTonalityPresent(measure)) +
           ", \"tonality\": " + Number(ZELTO_GetMeasureTonality(measure)) +
           ", \"doubleBar\": " + JsonBool(ZELTO_IsMeasureDoubleBarPresent(measure)) + "}";
}

std::string TrackJson(std::uint32_t track) {
    std::string tunings;
    for (std::uint32_t string = 0; string < kTuningSlots; ++string)
        tunings += (string ? ", " : "") + Number(ZELTO_GetTrackTuning(track, string));
    return "{\"index\": " + Number(track) + ", \"name\": " + JsonText(ZELTO_GetTrackName(track)) +
           ", \"stringCount\": " + Number(ZELTO_GetTrackStringCount(track)) + ", \"tunings\": [" +
           tunings + "], \"midiPort\": " + Number(ZELTO_GetTrackMidiPort(track)) +
           ", \"midiChannel\": " + Number(ZELTO_GetTrackMidiChannel(track)) +
           ", \"effectsMidiChannel\": " + Number(ZELTO_GetTrackEffectsMidiChannel(track)) +
           ", \"fretCount\": " + Number(ZELTO_GetTrackFretCount(track)) +
           ", \"capoHeight\": " + Number(ZELTO_GetTrackCapoHeight(track)) +
           ", \"color\": " + Number(ZELTO_GetTrackColor(track)) + "}";
}

// Appends `  "key": value,` lines; the caller closes the object.
void AddMember(std::string &out, const char *key, const std::string &value, bool last = false) {
    out += std::string("  \"") + key + "\": " + value + (last ? "\n" : ",\n");
}

// Appends a JSON array whose items stand one per line at the given indent.
std::string JsonLines(const std::vector<std::string> &items, const std::string &indent) {
    if (items.empty()) return "[]";
    std::string out = "[\n";
    for (std::size_t index = 0; index < items.size(); ++index)
        out += indent + "  " + items[index] + (index + 1 < items.size() ? ",\n" : "\n");
    return out + indent + "]";
}

std::string SongJson() {
    std::string out = "{\n";
    AddMember(out, "format", "\"zelto-song\"");
    AddMember(out, "formatVersion", "1");
    AddMember(out, "title", JsonText(ZELTO_GetTitle()));
    AddMember(out, "subtitle", JsonText(ZELTO_GetSubtitle()));
    AddMember(out, "interpret", JsonText(ZELTO_GetInterpret()));
    AddMember(out, "album", JsonText(ZELTO_GetAlbum()));
    AddMember(out, "author", JsonText(ZELTO_GetAuthor()));
    AddMember(out, "copyright", JsonText(ZELTO_GetCopyright()));
    AddMember(out, "tabAuthor", JsonText(ZELTO_GetTabAuthor()));
    AddMember(out, "instructions", JsonText(ZELTO_GetInstructions()));
    std::uint32_t noticeLineCount = ZELTO_GetNoticeLineCount();
    AddMember(out, "noticeLineCount", Number(noticeLineCount));
    std::vector<std::string> noticeLines;
    for (std::uint32_t line = 0; line < noticeLineCount; ++line)
        noticeLines.push_back(JsonText(ZELTO_GetNoticeLine(line)));
    AddMember(out, "noticeLines", JsonLines(noticeLines, "  "));
    AddMember(out, "tripletFeel", Number(ZELTO_IsTripletFeelEnabled()));
    AddMember(out, "lyricsTrack", Number(ZELTO_GetLyricsTrack()));
    std::vector<std::string> lyricsLines;
    for (std::uint32_t line = 0; line < kLyricsLineCount; ++line)
        lyricsLines.push_back(JsonText(ZELTO_GetLyricsLine(line)));
    AddMember(out, "lyricsLines", JsonLines(lyricsLines, "  "));
    AddMember(out, "tempo", Number(ZELTO_GetTempo()));
    AddMember(out, "key", Number(ZELTO_GetKey()));
    AddMember(out, "octave", Number(ZELTO_GetOctave()));
    std::vector<std::string> ports;
    for (std::uint32_t port = 0; port < kMidiPortCount; ++port) {
        std::vector<std::string> channels;
        for (std::uint32_t channel = 0; channel < kMidiChannelsPerPort; ++channel)
            channels.push_back(ChannelJson(port, channel));
        ports.push_back(JsonLines(channels, "    "));
    }
    AddMember(out, "midiChannels", JsonLines(ports, "  "));
    std::uint32_t measureCount = ZELTO_GetMeasureCount();
    AddMember(out, "measureCount", Number(measureCount));
    std::vector<std::string> measures;
    for (std::uint32_t measure = 0; measure < measureCount; ++measure)
        measures.push_back(MeasureJson(measure));
    AddMember(out, "measures", JsonLines(measures, "  "));
    std::uint32_t trackCount = ZELTO_GetTrackCount();
    AddMember(out, "trackCount", Number(trackCount));
    std::vector<std::string> tracks;
    for (std::uint32_t track = 0; track < trackCount; ++track) tracks.push_back(TrackJson(track));
    AddMember(out, "tracks", JsonLines(tracks, "  "), true);
    return out + "}\n";
}

// ---------------------------------------------------------------------------
// Writing outputs: into a temporary file beside the target first, then moved
// into place in one step, so no half-written MIDI file is ever left behind.

// The temporary file being written, removed by the signal handler when the
// run is interrupted. Only async-signal-safe calls touch it there.
char gTemporaryPath[4096];
volatile std::sig_atomic_t gTemporaryActive = 0;

extern "C" void RemoveTemporaryAndExit(int signalNumber) {
    if (gTemporaryActive) {
#ifdef _WIN32
        _unlink(gTemporaryPath);
#else
        unlink(gTemporaryPath);
#endif
    }
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

void InstallInterruptHandlers() {
    std::signal(SIGINT, RemoveTemporaryAndExit);
    std::signal(SIGTERM, RemoveTemporaryAndExit);
#ifndef _WIN32
    std::signal(SIGHUP, RemoveTemporaryAndExit);
#endif
}

bool WriteAll(int descriptor, const unsigned char *data, std::size_t size) {
    while (size > 0) {
#ifdef _WIN32
        int written = _write(descriptor, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
        ssize_t written = write(descriptor, data, size);
#endif
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Creates a new, unique temporary file in `directory`, named after the target
// but starting with a dot and not ending in .mid; returns its descriptor.
int CreateTemporary(const fs::path &directory, const std::string &targetName) {
    std::string pattern = (directory / ("." + targetName + ".part-XXXXXX")).string();
    if (pattern.size() >= sizeof gTemporaryPath) {
        errno = ENAMETOOLONG;
        return -1;
    }
#ifdef _WIN32
    static unsigned attempt = 0;
    for (int tries = 0; tries < 100; ++tries) {
        std::string candidate = pattern.substr(0, pattern.size() - 6) +
                                std::to_string((_getpid() * 7919u + ++attempt) % 1000000u);
        std::snprintf(gTemporaryPath, sizeof gTemporaryPath, "%s", candidate.c_str());
        int descriptor = _open(gTemporaryPath, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
        if (descriptor >= 0 || errno != EEXIST) {
            if (descriptor >= 0) gTemporaryActive = 1;
            return descriptor;
        }
    }
    return -1;
#else
    std::memcpy(gTemporaryPath, pattern.c_str(), pattern.size() + 1);
    int descriptor = mkstemp(gTemporaryPath);
    if (descriptor < 0) return -1;
    gTemporaryActive = 1;
    // mkstemp makes the file private; give the output the usual permissions.
    mode_t mask = umask(0);
    umask(mask);
    fchmod(descriptor, 0666 & ~mask);
    return descriptor;
#endif
}

void DiscardTemporary() {
    if (!gTemporaryActive) return;
    std::remove(gTemporaryPath);
    gTemporaryActive = 0;
}

// Moves the finished temporary file to `target`. Without `force` an existing
// target is never replaced, even one that appeared while the song was written.
bool MoveTemporaryIntoPlace(const fs::path &target, bool force, std::string &problem) {
    const std::string targetText = target.string();
#ifdef _WIN32
    if (!MoveFileExA(gTemporaryPath, targetText.c_str(), force ? MOVEFILE_REPLACE_EXISTING : 0)) {
        DWORD error = GetLastError();
        problem = (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
                      ? "exists; use --force to overwrite it"
                      : "cannot write: error " + std::to_string(error);
        return false;
    }
    gTemporaryActive = 0;
    return true;
#else
    if (force) {
        if (rename(gTemporaryPath, targetText.c_str()) != 0) {
            problem = std::string("cannot write: ") + std::strerror(errno);
            return false;
        }
        gTemporaryActive = 0;
        return true;
    }
    // A hard link fails when the target exists, so no check can race a
    // file that appears in between.
    if (link(gTemporaryPath, targetText.c_str()) == 0) {
        unlink(gTemporaryPath);
        gTemporaryActive = 0;
        return true;
    }
    int linkError = errno;
    if (linkError == EEXIST) {
        problem = "exists; use --force to overwrite it";
        return false;
    }
    // File systems without hard links: check, then rename.
    struct stat status;
    if (lstat(targetText.c_str(), &status) == 0) {
        problem = "exists; use --force to overwrite it";
        return false;
    }
    if (rename(gTemporaryPath, targetText.c_str()) != 0) {
        problem = std::string("cannot write: ") + std::strerror(errno);
        return false;
    }
    gTemporaryActive = 0;
    return true;
#endif
}

// Writes `data` to `target` through a temporary file in the same directory.
bool WriteOutputFile(const fs::path &target, const unsigned char *data, std::size_t size, bool force,
                     std::string &problem) {
    fs::path directory = target.parent_path();
    if (directory.empty()) directory = ".";
    std::error_code error;
    if (!force && fs::symlink_status(target, error).type() != fs::file_type::not_found && !error) {
        problem = "exists; use --force to overwrite it";
        return false;
    }
    int descriptor = CreateTemporary(directory, target.filename().string());
    if (descriptor < 0) {
        problem = std::string("cannot write in ") + DisplayPath(directory) + ": " + std::strerror(errno);
        return false;
    }
    bool written = WriteAll(descriptor, data, size);
    int writeError = errno;
#ifdef _WIN32
    bool closed = _close(descriptor) == 0;
#else
    // The data must be on disk before the name points at it.
    bool closed = fsync(descriptor) == 0 || errno == EINVAL;
    if (!closed) writeError = errno;
    closed = (close(descriptor) == 0) && closed;
    if (!closed && writeError == 0) writeError = errno;
#endif
    if (!written || !closed) {
        DiscardTemporary();
        problem = std::string("cannot write: ") + std::strerror(writeError);
        return false;
    }
    if (!MoveTemporaryIntoPlace(target, force, problem)) {
        DiscardTemporary();
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// zelto midi: which songs, where their MIDI files go.

struct Conversion {
    fs::path song;
    fs::path output;  // empty: standard output
    std::string problem;  // set when the song cannot be converted at all
};

bool HasSongExtension(const fs::path &path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
    return extension == ".gp4";
}

// The MIDI file's name for a song: the song's name with .mid for its extension.
fs::path MidiName(const fs::path &song) { return song.filename().replace_extension(".mid"); }

// The songs of a folder and its subfolders (files ending in .gp4, in any
// case), in name order so that every run goes the same way.
std::vector<fs::path> FindSongs(const fs::path &folder, std::string &problem) {
    std::vector<fs::path> songs;
    std::error_code error;
    fs::recursive_directory_iterator entry(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        std::error_code typeError;
        if (entry->is_regular_file(typeError) && HasSongExtension(entry->path()))
            songs.push_back(entry->path());
    }
    if (error) problem = "cannot read the folder: " + error.message();
    std::sort(songs.begin(), songs.end());
    return songs;
}

// ---------------------------------------------------------------------------
// Progress bar for long batches, on standard error when it is a terminal.

struct Progress {
    bool shown = false;
    std::size_t total = 0;
    std::size_t done = 0;
    bool drawn = false;
};

bool IsTerminal(std::FILE *stream) {
#ifdef _WIN32
    return _isatty(_fileno(stream)) != 0;
#else
    return isatty(fileno(stream)) != 0;
#endif
}

std::size_t TerminalWidth() {
#ifndef _WIN32
    struct winsize size;
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col >= 20) return size.ws_col;
#endif
    return 80;
}

void ClearProgress(Progress &progress) {
    if (!progress.drawn) return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    progress.drawn = false;
}

void DrawProgress(Progress &progress, const fs::path &current) {
    if (!progress.shown) return;
    std::fflush(stdout);
    constexpr std::size_t kBarWidth = 30;
    std::size_t filled = progress.total ? progress.done * kBarWidth / progress.total : kBarWidth;
    std::string line = "[" + std::string(filled, '#') + std::string(kBarWidth - filled, '.') + "] " +
                       Number(progress.done) + "/" + Number(progress.total);
    if (!current.empty()) line += " " + DisplayPath(current.filename());
    std::size_t width = TerminalWidth() - 1;
    if (DisplayWidth(line) > width) {
        // Cut at a character boundary.
        std::size_t columns = 0, cut = 0;
        while (cut < line.size() && columns < width) {
            ++cut;
            while (cut < line.size() && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80) ++cut;
            ++columns;
        }
        line.resize(cut);
    }
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    progress.drawn = true;
}

// ---------------------------------------------------------------------------
// Command line.

const char kToolHelp[] =
    "Usage: zelto COMMAND [OPTIONS] ARGUMENTS\n"
    "\n"
    "Reads Guitar Pro 4 songs (.gp4).\n"
    "\n"
    "Commands:\n"
    "  info SONG.gp4            print a summary of the song (--json for scripts)\n"
    "  midi SONG.gp4|DIR ...    write the songs as Standard MIDI Files\n"
    "  help [COMMAND]           show this text or a command's help\n"
    "\n"
    "Options:\n"
    "  -h, --help               show help (after a command: that command's help)\n"
    "  --version                print the version\n"
    "\n"
    "Exit status: 0 on success, 1 when a song failed, 2 for wrong usage.\n";

const char kInfoHelp[] =
    "Usage: zelto info [--json] SONG.gp4\n"
    "\n"
    "Prints the song's information strings, notice lines, lyrics, tempo, key,\n"
    "octave and triplet feel, the measures where something changes (time\n"
    "signature, repeats, alternative endings, markers, tonality, double bars)\n"
    "and a table of the tracks.\n"
    "\n"
    "Options:\n"
    "  --json       print everything the library reports as one JSON document\n"
    "               (the shape is described in docs/json.md)\n"
    "  -h, --help   show this help\n"
    "\n"
    "Example:\n"
    "  zelto info examples/demo.gp4\n"
    "  zelto info --json song.gp4 | python3 -m json.tool\n";

const char kMidiHelp[] =
    "Usage: zelto midi [-f] [-o OUT] SONG.gp4|DIR ...\n"
    "\n"
    "Writes each song as a Standard MIDI File (format 1, 480 ticks per quarter).\n"
    "Without -o, SONG.gp4 becomes SONG.mid beside it. A folder stands for every\n"
    ".gp4 song in it and its subfolders. With several songs or a folder, -o names\n"
    "an output folder (made when missing; subfolders are kept), one line is\n"
    "printed per song and a summary at the end.\n"
    "\n"
    "An existing file is never overwritten without --force. Each file is written\n"
    "under a temporary name first and renamed when complete, so an interrupted\n"
    "run leaves no half-written MIDI file.\n"
    "\n"
    "Options:\n"
    "  -o, --output OUT   the MIDI file (one song), or the output folder;\n"
    "                     '-' writes the one song's MIDI data to standard output\n"
    "  -f, --force        overwrite existing MIDI files\n"
    "  -h, --help         show this help\n"
    "\n"
    "Examples:\n"
    "  zelto midi song.gp4                      # writes song.mid\n"
    "  zelto midi song.gp4 -o - | timidity -    # plays it at once\n"
    "  zelto midi a.gp4 b.gp4 songs/ -o midi/   # midi/a.mid, midi/b.mid, and one\n"
    "                                           # file per song found in songs/\n";

struct CommandLine {
    std::string command;
    bool help = false;
    bool json = false;
    bool force = false;
    bool outputGiven = false;
    std::string output;
    std::vector<std::string> operands;
};

int UsageError(const std::string &command, const std::string &message) {
    std::fprintf(stderr, "zelto: %s\n", message.c_str());
    std::fprintf(stderr, "Try 'zelto %s--help'.\n", command.empty() ? "" : (command + " ").c_str());
    return kExitUsage;
}

// Parses the options of a command; returns false (after reporting) on error.
bool ParseCommandOptions(int argumentCount, char **arguments, int first, CommandLine &line) {
    bool optionsEnded = false;
    for (int index = first; index < argumentCount; ++index) {
        std::string argument = arguments[index];
        if (optionsEnded || argument == "-" || argument.empty() || argument[0] != '-') {
            line.operands.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help") {
            line.help = true;
        } else if (line.command == "info" && argument == "--json") {
            line.json = true;
        } else if (line.command == "midi" && (argument == "-f" || argument == "--force")) {
            line.force = true;
        } else if (line.command == "midi" &&
                   (argument == "-o" || argument == "--output" || argument.rfind("--output=", 0) == 0)) {
            if (line.outputGiven) {
                UsageError(line.command, "-o given twice");
                return false;
            }
            if (argument.rfind("--output=", 0) == 0) {
                line.output = argument.substr(9);
            } else if (index + 1 < argumentCount) {
                line.output = arguments[++index];
            } else {
                UsageError(line.command, "option " + argument + " needs a file or folder name");
                return false;
            }
            if (line.output.empty()) {
                UsageError(line.command, "the output name is empty");
                return false;
            }
            line.outputGiven = true;
        } else if (line.command == "midi" && argument.size() > 2 && argument.rfind("-o", 0) == 0) {
            if (line.outputGiven) {
                UsageError(line.command, "-o given twice");
                return false;
            }
            line.output = argument.substr(2);
            line.outputGiven = true;
        } else {
            UsageError(line.command, "unknown option '" + argument + "'");
            return false;
        }
    }
    return true;
}

int RunInfo(const CommandLine &line) {
    if (line.operands.size() != 1)
        return UsageError("info", line.operands.empty() ? "info needs one song" : "info takes one song");
    fs::path songPath = line.operands[0];
    std::string problem;
    if (!LoadSong(songPath, problem)) {
        ReportSongError(songPath, problem);
        return kExitSongFailed;
    }
    if (line.json) {
        std::string document = SongJson();
        std::fwrite(document.data(), 1, document.size(), stdout);
    } else {
        PrintSummary();
    }
    ZELTO_Unload();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zelto: cannot write the summary: %s\n", std::strerror(errno));
        return kExitSongFailed;
    }
    return kExitSuccess;
}

// Renders the loaded song. The library answers 1 with a null buffer when it
// could build the file but not allocate the buffer for it.
bool RenderMidi(unsigned char *&buffer, std::uint32_t &size, std::string &problem) {
    buffer = nullptr;
    size = 0;
    if (!ZELTO_CreateMidiBuffer(&buffer, &size) || buffer == nullptr) {
        problem = "cannot render the MIDI file: out of memory";
        buffer = nullptr;
        return false;
    }
    return true;
}

// Converts one song; returns true when its MIDI file is in place.
bool ConvertSong(const Conversion &conversion, bool force, std::string &problem) {
    if (!LoadSong(conversion.song, problem)) return false;
    unsigned char *buffer;
    std::uint32_t size;
    bool rendered = RenderMidi(buffer, size, problem);
    ZELTO_Unload();
    if (!rendered) return false;

    bool written;
    if (conversion.output.empty()) {
#ifdef _WIN32
        _setmode(_fileno(stdout), _O_BINARY);
#endif
        written = std::fwrite(buffer, 1, size, stdout) == size && std::fflush(stdout) == 0;
        if (!written) problem = std::string("cannot write to standard output: ") + std::strerror(errno);
    } else {
        written = WriteOutputFile(conversion.output, buffer, size, force, problem);
        if (!written) problem = DisplayPath(conversion.output) + ": " + problem;
    }
    ZELTO_DestroyMidiBuffer(buffer);
    return written;
}

bool IsDirectory(const fs::path &path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

// Works out every song's output, or reports a usage error (returns false).
bool PlanConversions(const CommandLine &line, std::vector<Conversion> &plan, bool &batch) {
    bool anyFolder = false;
    for (const std::string &operand : line.operands)
        if (operand != "-" && IsDirectory(operand)) anyFolder = true;
    batch = line.operands.size() > 1 || anyFolder;

    const bool toStandardOutput = line.outputGiven && line.output == "-";
    if (toStandardOutput && batch) {
        UsageError("midi", "'-o -' writes one song to standard output; several songs need an output folder");
        return false;
    }
    if (toStandardOutput && IsTerminal(stdout)) {
        UsageError("midi", "standard output is a terminal; redirect it or name an output file");
        return false;
    }
    fs::path outputFolder;
    bool intoFolder = false;
    if (line.outputGiven && !toStandardOutput) {
        std::string output = line.output;
        bool namedAsFolder = output.back() == '/' || IsDirectory(output);
        if (batch || namedAsFolder) {
            std::error_code error;
            if (fs::exists(output, error) && !IsDirectory(output)) {
                UsageError("midi", "the output " + DisplayText(output) + " is not a folder");
                return false;
            }
            fs::create_directories(output, error);
            if (error) {
                std::fprintf(stderr, "zelto: cannot make the folder %s: %s\n", DisplayText(output).c_str(),
                             error.message().c_str());
                return false;
            }
            outputFolder = output;
            intoFolder = true;
        }
    }

    for (const std::string &operand : line.operands) {
        fs::path input = operand;
        if (IsDirectory(input)) {
            std::string problem;
            std::vector<fs::path> songs = FindSongs(input, problem);
            if (songs.empty() && problem.empty()) problem = "no .gp4 songs in this folder";
            if (!problem.empty()) plan.push_back({input, fs::path(), problem});
            for (const fs::path &song : songs) {
                fs::path output = song.parent_path() / MidiName(song);
                if (intoFolder)
                    output = outputFolder / song.lexically_relative(input).parent_path() / MidiName(song);
                plan.push_back({song, output, ""});
            }
        } else if (toStandardOutput) {
            plan.push_back({input, fs::path(), ""});
        } else if (intoFolder) {
            plan.push_back({input, outputFolder / MidiName(input), ""});
        } else if (line.outputGiven) {
            plan.push_back({input, fs::path(line.output), ""});
        } else {
            plan.push_back({input, input.parent_path() / MidiName(input), ""});
        }
    }

    // Two songs must not write the same file, and no song its own file.
    std::set<fs::path> outputs;
    for (Conversion &conversion : plan) {
        if (!conversion.problem.empty() || conversion.output.empty()) continue;
        std::error_code error;
        fs::path key = fs::weakly_canonical(conversion.output, error).lexically_normal();
        if (error) key = fs::absolute(conversion.output, error).lexically_normal();
        if (fs::equivalent(conversion.song, conversion.output, error) && !error)
            conversion.problem = "the MIDI file " + DisplayPath(conversion.output) + " would replace the song";
        else if (!outputs.insert(key).second)
            conversion.problem = "another song of this run also writes " + DisplayPath(conversion.output);
        else if (intoFolder) {
            std::error_code folderError;
            fs::create_directories(conversion.output.parent_path(), folderError);
        }
    }
    return true;
}

int RunMidi(const CommandLine &line) {
    if (line.operands.empty()) return UsageError("midi", "midi needs at least one song or folder");
    std::vector<Conversion> plan;
    bool batch = false;
    if (!PlanConversions(line, plan, batch)) return kExitUsage;

    InstallInterruptHandlers();
    Progress progress;
    progress.total = plan.size();
    progress.shown = batch && plan.size() >= kProgressBarMinimumSongs && IsTerminal(stderr);

    std::size_t converted = 0, failed = 0;
    for (const Conversion &conversion : plan) {
        DrawProgress(progress, conversion.song);
        std::string problem = conversion.problem;
        bool done = problem.empty() && ConvertSong(conversion, line.force, problem);
        ClearProgress(progress);
        if (done) {
            ++converted;
            if (!conversion.output.empty())
                std::printf("%s -> %s\n", DisplayPath(conversion.song).c_str(),
                            DisplayPath(conversion.output).c_str());
        } else {
            ++failed;
            ReportSongError(conversion.song, problem);
        }
        std::fflush(stdout);
        ++progress.done;
    }
    DrawProgress(progress, fs::path());
    ClearProgress(progress);
    if (batch) std::printf("%zu converted, %zu failed\n", converted, failed);
    std::fflush(stdout);
    return failed == 0 ? kExitSuccess : kExitSongFailed;
}

int RunHelp(const std::string &topic) {
    if (topic.empty()) std::fputs(kToolHelp, stdout);
    else if (topic == "info") std::fputs(kInfoHelp, stdout);
    else if (topic == "midi") std::fputs(kMidiHelp, stdout);
    else return UsageError("", "no help for '" + topic + "': unknown command");
    return kExitSuccess;
}

}  // namespace

int main(int argumentCount, char **arguments) {
    if (argumentCount < 2) {
        std::fputs(kToolHelp, stderr);
        return kExitUsage;
    }
    std::string first = arguments[1];
    if (first == "-h" || first == "--help") return RunHelp("");
    if (first == "--version" || first == "-V") {
        std::printf("zelto %s\n", ZELTO_VERSION);
        return kExitSuccess;
    }
    if (first == "help") {
        if (argumentCount > 3) return UsageError("", "help takes at most one command");
        return RunHelp(argumentCount == 3 ? arguments[2] : "");
    }
    if (first != "info" && first != "midi") {
        if (!first.empty() && first[0] == '-') return UsageError("", "unknown option '" + first + "'");
        return UsageError("", "unknown command '" + first + "'");
    }

    CommandLine line;
    line.command = first;
    if (!ParseCommandOptions(argumentCount, arguments, 2, line)) return kExitUsage;
    if (line.help) return RunHelp(line.command);

    ZELTO_Init();
    return line.command == "info" ? RunInfo(line) : RunMidi(line);
}
