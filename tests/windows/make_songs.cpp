// make_songs.cpp - writes the songs that the Windows host test and its Linux
// counterpart both load, and their list songs.txt, into one directory:
//
//     windows_make_songs OUTPUT_DIRECTORY
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "gp4_writer.h"

namespace {

struct NamedSong {
    std::string fileName;
    gp4::Bytes bytes;
};

// Sets the tempo of every beat's mix-table change (each beat with flag 0x10).
void SetMixTableTempos(gp4::Song &song, std::int32_t tempo) {
    for (auto &measure : song.beats)
        for (auto &track : measure)
            for (auto &beat : track)
                if (beat.flags & gp4::BeatBits::MixTable) beat.mix.tempo = tempo;
}

// The feature-rich song at a song tempo and a mix-table tempo well above the
// range where 60 / tempo x 1,000,000 equals the integer quotient, so that
// the floating-point rounding of both builds is compared.
gp4::Song FastSong(std::uint32_t songTempo, std::int32_t mixTableTempo) {
    gp4::Song song = gp4::FeatureRichSong(0);
    song.tempo = songTempo;
    SetMixTableTempos(song, mixTableTempo);
    song.title = "Tempo " + std::to_string(songTempo);
    return song;
}

// Nested and consecutive repeat sections, an end of repeat without a begin,
// and a time signature that a jump back must emit again.
gp4::Song RepeatSong() {
    gp4::Song song;
    song.title = "Repeats";
    song.tempo = 2000;
    song.tracks = {gp4::Track()};
    song.tracks[0].name = "Repeated";

    gp4::MeasureHeader first = gp4::TimeSignature(3, 4);
    first.flags |= gp4::MeasureBits::EndRepeat;  // no begin before it: jumps to 0
    first.repeatCount = 1;
    gp4::MeasureHeader begin = gp4::TimeSignature(4, 4);
    begin.flags |= gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::Marker;
    begin.markerText = "Chorus";
    gp4::MeasureHeader inner;
    inner.flags = gp4::MeasureBits::BeginRepeat;
    gp4::MeasureHeader innerEnd;
    innerEnd.flags = gp4::MeasureBits::EndRepeat | gp4::MeasureBits::AltEnding;
    innerEnd.repeatCount = 2;
    innerEnd.altEnding = 1;
    gp4::MeasureHeader outerEnd = gp4::TimeSignature(7, 8);
    outerEnd.flags |= gp4::MeasureBits::EndRepeat;
    outerEnd.repeatCount = 3;
    gp4::MeasureHeader tail;
    tail.flags = gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::EndRepeat | gp4::MeasureBits::DoubleBar;
    tail.repeatCount = 255;
    song.measures = {first, begin, inner, innerEnd, outerEnd, tail};

    song.beats.resize(song.measures.size());
    for (std::size_t measure = 0; measure < song.measures.size(); ++measure) {
        int fret = static_cast<int>(measure);
        song.beats[measure] = {{gp4::QuarterNote(1, fret), gp4::NoteBeat(gp4::Duration::Eighth, {{2, fret}}),
                                gp4::NoteBeat(gp4::Duration::Eighth, {{3, fret}, {4, fret + 2}}),
                                gp4::RestBeat(gp4::Duration::Quarter)}};
    }
    gp4::Beat &change = song.beats[2][0][0];
    change.flags |= gp4::BeatBits::MixTable;
    change.mix.instrument = 40;
    change.mix.volume = 9;
    change.mix.tempo = 5000;
    return song;
}

// More measures than the query dump lists one by one, two tracks with mix
// tables, every note length, dots and tuplets.
gp4::Song LongSong() {
    gp4::Song song;
    song.title = "Long";
    song.tempo = 65535;
    song.tripletFeel = 1;
    gp4::Track second;
    second.name = "Second";
    second.channel = 10;
    second.effectsChannel = 10;
    song.tracks = {gp4::Track(), second};
    const std::size_t measureCount = 600;
    for (std::size_t measure = 0; measure < measureCount; ++measure) {
        gp4::MeasureHeader header;
        if (measure % 50 == 0) header = gp4::TimeSignature(static_cast<std::uint8_t>(2 + measure / 50 % 6), 4);
        if (measure % 97 == 0) {
            header.flags |= gp4::MeasureBits::Marker;
            header.markerText = "Section " + std::to_string(measure);
        }
        song.measures.push_back(header);
        std::vector<gp4::Beat> lead;
        for (std::int8_t duration = gp4::Duration::Half; duration <= gp4::Duration::SixtyFourth; ++duration) {
            gp4::Beat beat = gp4::NoteBeat(duration, {{1 + (duration + 2) % 6, static_cast<int>(measure % 20)}});
            if (measure % 3 == 1) beat.flags |= gp4::BeatBits::Dotted;
            if (measure % 5 == 2) {
                beat.flags |= gp4::BeatBits::Tuplet;
                beat.tuplet = 3 + static_cast<std::int32_t>(measure % 4);
            }
            lead.push_back(beat);
        }
        gp4::Beat mix = gp4::NoteBeat(gp4::Duration::Whole, {{5, 3}, {6, 1}});
        mix.flags |= gp4::BeatBits::MixTable;
        mix.mix.volume = static_cast<std::uint8_t>(measure % 17);
        mix.mix.tempo = measure % 10 == 9 ? static_cast<std::int32_t>(30 + measure * 150) : -1;
        song.beats.push_back({lead, {mix}});
    }
    return song;
}

// Values outside the usual ranges: a signed key and tonality, a triplet-feel
// byte of 255, bytes above 0x7F in the strings, a seven-string track, and a
// song tempo of 0 with negative and tiny mix-table tempos.
gp4::Song OddValuesSong() {
    gp4::Song song = gp4::FeatureRichSong(1);
    song.title = "Caf\xE9 \x01\x7F\xFF";
    song.noticeLines = {"\xC0\xC1", "\"quoted\" \\ back"};
    song.tripletFeel = 255;
    song.key = -7;
    song.octave = -1;
    song.tempo = 0;
    int tempo = 0;
    static const std::int32_t mixTempos[] = {-2, 0, 1, 3, 0x7FFFFFFF};
    for (auto &measure : song.beats)
        for (auto &track : measure)
            for (auto &beat : track)
                if (beat.flags & gp4::BeatBits::MixTable) beat.mix.tempo = mixTempos[tempo++ % 5];
    song.measures[0].tonality = -128;
    return song;
}

gp4::Bytes Truncated(gp4::Bytes bytes, std::size_t keep) {
    bytes.resize(keep < bytes.size() ? keep : bytes.size() - 1);
    return bytes;
}

std::vector<NamedSong> AllSongs() {
    std::vector<NamedSong> songs;
    songs.push_back({"minimal.gp4", gp4::WriteSong(gp4::MinimalSong())});
    songs.push_back({"empty.gp4", gp4::WriteSong(gp4::Song())});
    songs.push_back({"rich.gp4", gp4::WriteSong(gp4::FeatureRichSong(0))});
    songs.push_back({"rich-v400.gp4", gp4::WriteSong(gp4::FeatureRichSong(1))});
    songs.push_back({"tempo-1874.gp4", gp4::WriteSong(FastSong(1874, 1875))});
    songs.push_back({"tempo-2000.gp4", gp4::WriteSong(FastSong(2000, 2001))});
    songs.push_back({"tempo-5000.gp4", gp4::WriteSong(FastSong(5000, 4999))});
    songs.push_back({"tempo-65535.gp4", gp4::WriteSong(FastSong(65535, 65536))});
    songs.push_back({"tempo-100000.gp4", gp4::WriteSong(FastSong(100000, 99999))});
    songs.push_back({"tempo-16777216.gp4", gp4::WriteSong(FastSong(16777216, 0x7FFFFFFE))});
    songs.push_back({"repeats.gp4", gp4::WriteSong(RepeatSong())});
    songs.push_back({"long.gp4", gp4::WriteSong(LongSong())});
    songs.push_back({"odd-values.gp4", gp4::WriteSong(OddValuesSong())});

    // Files the library must refuse, on both platforms alike.
    gp4::Song wrongVersion = gp4::MinimalSong();
    wrongVersion.version = "FICHIER GUITAR PRO v3.00";
    songs.push_back({"wrong-version.gp4", gp4::WriteSong(wrongVersion)});
    gp4::Bytes rich = gp4::WriteSong(gp4::FeatureRichSong(0));
    songs.push_back({"truncated-header.gp4", Truncated(rich, 200)});
    songs.push_back({"truncated-body.gp4", Truncated(rich, rich.size() - 3)});
    songs.push_back({"no-bytes.gp4", gp4::Bytes()});
    return songs;
}

bool WriteFile(const std::string &path, const gp4::Bytes &bytes) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(stream);
}

}  // namespace

int main(int argumentCount, char **arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: windows_make_songs OUTPUT_DIRECTORY\n");
        return 2;
    }
    const std::string directory = arguments[1];
    gp4::Bytes list;
    for (const NamedSong &song : AllSongs()) {
        if (!WriteFile(directory + "/" + song.fileName, song.bytes)) {
            std::fprintf(stderr, "windows_make_songs: cannot write %s/%s\n", directory.c_str(),
                         song.fileName.c_str());
            return 1;
        }
        gp4::WriteText(list, song.fileName + "\n");
    }
    if (!WriteFile(directory + "/songs.txt", list)) {
        std::fprintf(stderr, "windows_make_songs: cannot write %s/songs.txt\n", directory.c_str());
        return 1;
    }
    return 0;
}
