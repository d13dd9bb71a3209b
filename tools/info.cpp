// info.cpp - zelto info: the readable summary of a song and, with --json,
// every query's answer in one document.
#include "tool.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "text.h"
#include "zelto.h"

namespace fs = std::filesystem;

namespace Talvoren {

namespace {

// The channel table the library exposes: 4 ports of 16 channels.
constexpr std::uint32_t midiPortCount = 4;
constexpr std::uint32_t midiChannelsPerPort = 16;
// Every track record carries seven tunings, whatever its string count.
constexpr std::uint32_t tuningSlots = 7;
constexpr std::uint32_t lyricsLineCount = 5;

// ---------------------------------------------------------------------------
// Music helpers for the summary.

// The note name of a MIDI note number, with middle C (60) as C4.
std::string NoteName(std::int32_t noteNumber) {
    static const char *const noteNames[12] = {"C", "C#", "D", "D#", "E", "F", "F#", "G", "G#", "A", "A#", "B"};
    if (noteNumber < 0 || noteNumber > 127) return "?";
    return std::string(noteNames[noteNumber % 12]) + std::to_string(noteNumber / 12 - 1);
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
    for (std::uint32_t string = 0; string < std::min(stringCount, tuningSlots); ++string) {
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
    for (std::uint32_t line = 0; line < lyricsLineCount; ++line) {
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

// A track object; with its beats and notes (info --notes), their measures last.
std::string TrackJson(std::uint32_t track, const std::string *measures) {
    std::string tunings;
    for (std::uint32_t string = 0; string < tuningSlots; ++string)
        tunings += (string ? ", " : "") + Number(ZELTO_GetTrackTuning(track, string));
    return "{\"index\": " + Number(track) + ", \"name\": " + JsonText(ZELTO_GetTrackName(track)) +
           ", \"stringCount\": " + Number(ZELTO_GetTrackStringCount(track)) + ", \"tunings\": [" +
           tunings + "], \"midiPort\": " + Number(ZELTO_GetTrackMidiPort(track)) +
           ", \"midiChannel\": " + Number(ZELTO_GetTrackMidiChannel(track)) +
           ", \"effectsMidiChannel\": " + Number(ZELTO_GetTrackEffectsMidiChannel(track)) +
           ", \"fretCount\": " + Number(ZELTO_GetTrackFretCount(track)) +
           ", \"capoHeight\": " + Number(ZELTO_GetTrackCapoHeight(track)) +
           ", \"color\": " + Number(ZELTO_GetTrackColor(track)) +
           (measures != nullptr ? ", \"measures\": " + *measures : std::string()) + "}";
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

// The document; with trackMeasures (one per track) the beats and notes too,
// in formatVersion 2.
std::string SongJson(const std::vector<std::string> *trackMeasures) {
    std::string out = "{\n";
    AddMember(out, "format", "\"zelto-song\"");
    AddMember(out, "formatVersion", trackMeasures != nullptr ? "2" : "1");
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
    for (std::uint32_t line = 0; line < lyricsLineCount; ++line)
        lyricsLines.push_back(JsonText(ZELTO_GetLyricsLine(line)));
    AddMember(out, "lyricsLines", JsonLines(lyricsLines, "  "));
    AddMember(out, "tempo", Number(ZELTO_GetTempo()));
    AddMember(out, "key", Number(ZELTO_GetKey()));
    AddMember(out, "octave", Number(ZELTO_GetOctave()));
    std::vector<std::string> ports;
    for (std::uint32_t port = 0; port < midiPortCount; ++port) {
        std::vector<std::string> channels;
        for (std::uint32_t channel = 0; channel < midiChannelsPerPort; ++channel)
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
    for (std::uint32_t track = 0; track < trackCount; ++track) {
        const bool hasMeasures = trackMeasures != nullptr && track < trackMeasures->size();
        tracks.push_back(TrackJson(track, hasMeasures ? &(*trackMeasures)[track] : nullptr));
    }
    AddMember(out, "tracks", JsonLines(tracks, "  "), true);
    return out + "}\n";
}

}  // namespace

int RunInfo(const CommandLine &line) {
    if (line.operands.size() != 1)
        return UsageError("info", line.operands.empty() ? "info needs one song" : "info takes one song");
    if (line.notes && !line.json) return UsageError("info", "--notes goes with --json");
    fs::path songPath = line.operands[0];
    std::string problem;
    const fs::path readPath = ReadableSongPath(songPath, problem);
    if (readPath.empty() || !LoadSong(readPath, problem)) {
        ReportSongError(songPath, problem);
        return exitSongFailed;
    }
    std::vector<std::string> trackMeasures;
    if (line.notes && !TrackNotesJson(readPath, "    ", trackMeasures, problem)) {
        ZELTO_Unload();
        ReportSongError(songPath, problem);
        return exitSongFailed;
    }
    if (line.json) {
        std::string document = SongJson(line.notes ? &trackMeasures : nullptr);
        std::fwrite(document.data(), 1, document.size(), stdout);
    } else {
        PrintSummary();
    }
    ZELTO_Unload();
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "zelto: cannot write the summary: %s\n", std::strerror(errno));
        return exitSongFailed;
    }
    return exitSuccess;
}

}  // namespace Talvoren
