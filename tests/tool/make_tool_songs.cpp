// make_tool_songs.cpp - writes the songs that the command-line tool's tests
// run the tool on, with the test-side song writer, and the library's plain
// and performed renderings of one of them.
//
// The values stored here are the ones tests/tool/test_tool.py expects back.
//
// Usage: make_tool_songs OUTDIR
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "gp4_writer.h"
#include "zelto.h"
#include "zelto_performed.h"

namespace {

using gp4::MeasureBits::AltEnding;
using gp4::MeasureBits::BeginRepeat;
using gp4::MeasureBits::Denominator;
using gp4::MeasureBits::DoubleBar;
using gp4::MeasureBits::EndRepeat;
using gp4::MeasureBits::Marker;
using gp4::MeasureBits::Numerator;
using gp4::MeasureBits::Tonality;

// Every field set to a value of its own, strings that need escaping in JSON,
// two tracks and six measures that use every measure flag.
gp4::Song FullSong() {
    gp4::Song song;
    song.version = "FICHIER GUITAR PRO v4.06";
    song.versionFiller = 0x55;
    song.title = "Tool \"Test\" Song";
    song.subtitle = "tab\there\nnew line";
    song.interpret = "Caf\xe9 Trio";       // Latin-1 e-acute
    song.album = "Gr\xc3\xbcn";            // UTF-8 u-umlaut, two bytes
    song.author = "Back\\slash";
    song.copyright = "";
    song.tabAuthor = "ctrl\x01\x1f\x7f";
    song.instructions = "Play it";
    song.noticeLines = {"Notice one", "Notice two"};
    song.tripletFeel = 2;
    song.lyricsTrack = 2;
    song.lyrics[0].text = "first line\r\nsecond line";
    song.lyrics[1].text = "";
    song.lyrics[2].text = "third";
    song.lyrics[3].text = "";
    song.lyrics[4].text = "last";
    song.tempo = 132;
    song.key = -3;
    song.octave = 1;
    for (auto &port : song.channels)
        for (gp4::ChannelEntry &entry : port) entry = gp4::ChannelEntry{0, 10, 8, 0, 0, 0, 0, {0, 0}};
    song.channels[0][0] = gp4::ChannelEntry{30, 12, 8, 0, 0, 0, 0, {0, 0}};
    song.channels[0][2] = gp4::ChannelEntry{33, 14, 8, 0, 0, 0, 0, {0, 0}};
    song.channels[3][15] = gp4::ChannelEntry{127, 15, 3, 4, 5, 6, 7, {1, 2}};

    gp4::MeasureHeader verse = gp4::TimeSignature(3, 4);
    verse.flags |= BeginRepeat | Marker;
    verse.markerText = "Verse";
    verse.markerColor = 0x0000FF00u;
    gp4::MeasureHeader closing;
    closing.flags = EndRepeat | AltEnding;
    closing.repeatCount = 2;
    closing.altEnding = 1;
    gp4::MeasureHeader numeratorOnly;
    numeratorOnly.flags = Numerator | Tonality | DoubleBar;
    numeratorOnly.numerator = 6;
    numeratorOnly.tonality = -2;
    numeratorOnly.tonalityType = 1;
    gp4::MeasureHeader denominatorOnly;
    denominatorOnly.flags = Denominator;
    denominatorOnly.denominator = 8;
    gp4::MeasureHeader plain;
    gp4::MeasureHeader coda;
    coda.flags = Marker | DoubleBar;
    coda.markerText = "Coda";
    coda.markerColor = 0x00FF0000u;
    song.measures = {verse, closing, numeratorOnly, denominatorOnly, plain, coda};

    gp4::Track lead;
    lead.name = "Lead";
    lead.stringCount = 6;
    lead.tunings = {64, 59, 55, 50, 45, 40, 35};
    lead.port = 1;
    lead.channel = 1;
    lead.effectsChannel = 2;
    lead.frets = 24;
    lead.capo = 2;
    lead.colour = 0x000000FFu;
    gp4::Track bass;
    bass.name = "Bass \xdc";  // Latin-1 U-umlaut
    bass.stringCount = 4;
    bass.tunings = {43, 38, 33, 28, 0, 0, 0};
    bass.port = 1;
    bass.channel = 3;
    bass.effectsChannel = 4;
    bass.frets = 20;
    bass.capo = 0;
    bass.colour = 0x00123456u;
    song.tracks = {lead, bass};

    song.beats.resize(song.measures.size());
    for (auto &measure : song.beats) {
        measure = {{gp4::QuarterNote(1, 3), gp4::QuarterNote(2, 1), gp4::RestBeat(gp4::Duration::Quarter)},
                   {gp4::NoteBeat(gp4::Duration::Half, {{3, 3}})}};
    }
    return song;
}

// The header of a song and nothing else: no notice lines, empty strings,
// no measures and no tracks.
gp4::Song BareSong() {
    gp4::Song song;
    song.version = "FICHIER GUITAR PRO v4.00";
    song.title = song.subtitle = song.interpret = song.album = "";
    song.author = song.copyright = song.tabAuthor = song.instructions = "";
    song.tempo = 90;
    return song;
}

// A whole song as another version of the format writes its header.
gp4::Song OtherVersionSong() {
    gp4::Song song = gp4::MinimalSong();
    song.version = "FICHIER GUITAR PRO v3.00";
    return song;
}

// Songs the export refuses for their length. Every measure closes a repeat
// played 256 times back to the first measure, so the measures played grow
// with the square of the measures stored: a small file of stacked repeats.
gp4::Song StackedRepeatsSong(std::size_t measureCount, std::uint8_t numerator, std::uint8_t denominator,
                             std::size_t beatsPerMeasure) {
    gp4::Song song = gp4::MinimalSong();
    gp4::MeasureHeader first = gp4::TimeSignature(numerator, denominator);
    first.flags |= BeginRepeat | EndRepeat;
    first.repeatCount = 255;
    gp4::MeasureHeader closing;
    closing.flags = EndRepeat;
    closing.repeatCount = 255;
    song.measures.assign(measureCount, closing);
    song.measures[0] = first;
    std::vector<gp4::Beat> beats(beatsPerMeasure, gp4::NoteBeat(gp4::Duration::ThirtySecond, {{1, 5}}));
    song.beats.assign(measureCount, {beats});
    return song;
}

bool Save(const std::string &folder, const char *name, const gp4::Song &song) {
    gp4::Bytes bytes = gp4::WriteSong(song);
    std::string path = folder + "/" + name;
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    if (std::fclose(out) != 0 || !written) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

// Beside the song NAME.gp4, the library's own renderings of it, for the
// tool's output to be compared with byte for byte: NAME.plain.mid from
// ZELTO_CreateMidiBuffer and NAME.performed.mid from
// ZELTO_CreatePerformedMidiBuffer.
bool SaveRenderings(const std::string &folder, const std::string &name) {
    using BufferExport = int (*)(unsigned char **buffer, std::uint32_t *size);
    const struct {
        const char *suffix;
        BufferExport createBuffer;
    } renderings[] = {{".plain.mid", ZELTO_CreateMidiBuffer}, {".performed.mid", ZELTO_CreatePerformedMidiBuffer}};
    ZELTO_Init();
    if (!ZELTO_Load((folder + "/" + name + ".gp4").c_str())) return false;
    bool saved = true;
    for (const auto &rendering : renderings) {
        unsigned char *buffer = nullptr;
        std::uint32_t size = 0;
        if (!rendering.createBuffer(&buffer, &size) || buffer == nullptr) {
            saved = false;
            continue;
        }
        const std::string path = folder + "/" + name + rendering.suffix;
        std::FILE *out = std::fopen(path.c_str(), "wb");
        saved = out != nullptr && std::fwrite(buffer, 1, size, out) == size && saved;
        if (out != nullptr && std::fclose(out) != 0) saved = false;
        ZELTO_DestroyMidiBuffer(buffer);
    }
    ZELTO_Unload();
    return saved;
}

}  // namespace

int main(int argumentCount, char **arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: make_tool_songs OUTDIR\n");
        return 2;
    }
    std::string folder = arguments[1];
    bool saved = Save(folder, "full.gp4", FullSong()) && Save(folder, "minimal.gp4", gp4::MinimalSong()) &&
                 Save(folder, "bare.gp4", BareSong()) && Save(folder, "v3.gp4", OtherVersionSong()) &&
                 // 150 empty measures of 4/4 (under 2 KB): more ticks than a MIDI file holds.
                 Save(folder, "too_many_ticks.gp4", StackedRepeatsSong(150, 4, 4, 0)) &&
                 // The same in 1/64: more measures played than the export takes.
                 Save(folder, "too_many_measures.gp4", StackedRepeatsSong(300, 1, 64, 0)) &&
                 // 28 measures of 32 notes: within both limits, but too many events.
                 Save(folder, "too_many_events.gp4", StackedRepeatsSong(28, 4, 4, 32)) &&
                 SaveRenderings(folder, "full");
    return saved ? 0 : 1;
}
