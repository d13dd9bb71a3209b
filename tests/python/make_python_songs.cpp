// make_python_songs.cpp - writes the songs the Python package's tests read,
// with the test-side writer, and beside each what the tests compare with:
// NAME.tracks.json, the beats and notes as the writer wrote them, and
// NAME.mid and NAME.performed.mid, the song's plain export and performed
// rendering by the C library's global song.
//
// Usage: make_python_songs OUTDIR
#include <cstdio>
#include <string>

#include "gp4_writer.h"
#include "song_description.h"
#include "zelto.h"
#include "zelto_performed.h"

namespace {

bool Save(const std::string &path, const void *bytes, std::size_t size) {
    std::FILE *out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool written = std::fwrite(bytes, 1, size, out) == size;
    if (std::fclose(out) != 0 || !written) {
        std::perror(path.c_str());
        return false;
    }
    return true;
}

bool SaveBytes(const std::string &path, const gp4::Bytes &bytes) { return Save(path, bytes.data(), bytes.size()); }

using BufferExport = int (*)(unsigned char **buffer, std::uint32_t *size);

// A rendering of the song file at songPath, as the global song gives it.
bool SaveExport(const std::string &songPath, BufferExport createBuffer, const std::string &midiPath) {
    ZELTO_Init();
    if (!ZELTO_Load(songPath.c_str())) return false;
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    const bool saved = createBuffer(&buffer, &size) && buffer != nullptr && Save(midiPath, buffer, size);
    ZELTO_DestroyMidiBuffer(buffer);
    ZELTO_Unload();
    return saved;
}

bool SaveSong(const std::string &folder, const std::string &name, const gp4::Song &song) {
    const std::string base = folder + "/" + name;
    const std::string description = gp4::DescribeTracksJson(song) + "\n";
    return SaveBytes(base + ".gp4", gp4::WriteSong(song)) &&
           Save(base + ".tracks.json", description.data(), description.size()) &&
           SaveExport(base + ".gp4", ZELTO_CreateMidiBuffer, base + ".mid") &&
           SaveExport(base + ".gp4", ZELTO_CreatePerformedMidiBuffer, base + ".performed.mid");
}

// A longer song whose repeats are walked several times: the plain
// rendering's pass counters are busy for a while.
gp4::Song RepeatedSong() {
    gp4::Song song = gp4::FeatureRichSong(0);
    const std::size_t measureCount = 160;
    song.measures.resize(measureCount);
    song.beats.resize(measureCount, std::vector<std::vector<gp4::Beat>>(song.tracks.size()));
    for (std::size_t measure = 4; measure < measureCount; ++measure)
        for (std::size_t track = 0; track < song.tracks.size(); ++track)
            for (int beat = 0; beat < 8; ++beat)
                song.beats[measure][track].push_back(
                    gp4::NoteBeat(gp4::Duration::Eighth, {{1 + beat % 4, static_cast<int>((measure + track) % 20)}}));
    song.measures[8].flags |= gp4::MeasureBits::BeginRepeat;
    song.measures[120].flags |= gp4::MeasureBits::EndRepeat;
    song.measures[120].repeatCount = 3;
    return song;
}

}  // namespace

int main(int argumentCount, char **arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: make_python_songs OUTDIR\n");
        return 2;
    }
    const std::string folder = arguments[1];
    gp4::Song otherVersion = gp4::MinimalSong();
    otherVersion.version = "FICHIER GUITAR PRO v3.00";
    gp4::Song badChord = gp4::MinimalSong();
    badChord.beats[0][0][0].flags |= gp4::BeatBits::Chord;
    badChord.beats[0][0][0].chord.format = 2;
    const gp4::Bytes rich = gp4::WriteSong(gp4::FeatureRichSong(0));
    const bool saved = SaveSong(folder, "rich", gp4::FeatureRichSong(0)) &&
                       SaveSong(folder, "second", gp4::FeatureRichSong(1)) &&
                       SaveSong(folder, "minimal", gp4::MinimalSong()) &&
                       SaveSong(folder, "repeats", RepeatedSong()) &&
                       SaveBytes(folder + "/cut.gp4", gp4::Bytes(rich.begin(), rich.end() - 5)) &&
                       SaveBytes(folder + "/v3.gp4", gp4::WriteSong(otherVersion)) &&
                       SaveBytes(folder + "/badchord.gp4", gp4::WriteSong(badChord));
    return saved ? 0 : 1;
}
