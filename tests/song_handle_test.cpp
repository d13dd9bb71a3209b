// song_handle_test.cpp - the song-handle interface of zelto_song.h: every
// record read back against the song the test-side writer wrote, bounds,
// failed opens, two songs at once, and renderings equal to the global song's.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "gp4_writer.h"
#include "zelto.h"
#include "zelto_performed.h"
#include "zelto_song.h"

extern "C" int ZeltoSongHandleCHost(const char *path);  // song_handle_c_host.c

namespace {

std::string WriteSongFile(const gp4::Song &song, const std::string &hint) {
    return gp4::WriteTempFile(gp4::WriteSong(song), hint);
}

// An open handle that closes itself.
struct OpenSong {
    ZELTO_Song *song = nullptr;
    std::int32_t result = -1;
    explicit OpenSong(const std::string &path) { result = ZELTO_SongOpen(path.c_str(), &song); }
    ~OpenSong() { ZELTO_SongClose(song); }
};

std::vector<unsigned char> Render(ZELTO_Song *song, std::uint32_t rendering) {
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    std::vector<unsigned char> bytes;
    if (ZELTO_SongCreateMidiBuffer(song, rendering, &buffer, &size) != ZELTO_SONG_OK) return bytes;
    bytes.assign(buffer, buffer + size);
    ZELTO_DestroyMidiBuffer(buffer);
    return bytes;
}

using BufferExport = int (*)(unsigned char **buffer, std::uint32_t *size);

std::vector<unsigned char> RenderGlobal(const std::string &path, BufferExport createBuffer = ZELTO_CreateMidiBuffer) {
    std::vector<unsigned char> bytes;
    ZELTO_Init();
    if (!ZELTO_Load(path.c_str())) return bytes;
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    if (createBuffer(&buffer, &size) && buffer != nullptr) bytes.assign(buffer, buffer + size);
    ZELTO_DestroyMidiBuffer(buffer);
    ZELTO_Unload();
    return bytes;
}

TEST(SongHandle, ReadsWhatTheWriterWrote) {
    const gp4::Song written = gp4::FeatureRichSong();
    OpenSong opened(WriteSongFile(written, "rich"));
    ASSERT_EQ(opened.result, ZELTO_SONG_OK);
    ZELTO_Song *song = opened.song;

    ZELTO_SongInfo info{};
    ASSERT_EQ(ZELTO_SongGetInfo(song, &info), 1);
    EXPECT_STREQ(info.version, written.version.c_str());
    EXPECT_EQ(std::string(info.title), written.title);
    EXPECT_EQ(std::string(info.instructions), written.instructions);
    EXPECT_EQ(info.noticeLineCount, written.noticeLines.size());
    EXPECT_EQ(info.tempo, written.tempo);
    EXPECT_EQ(info.key, written.key);
    EXPECT_EQ(info.lyricsTrack, written.lyricsTrack);
    EXPECT_EQ(info.measureCount, written.measures.size());
    EXPECT_EQ(info.trackCount, written.tracks.size());
    EXPECT_EQ(std::string(ZELTO_SongGetNoticeLine(song, 2)), written.noticeLines[2]);
    EXPECT_EQ(std::string(ZELTO_SongGetLyricsLine(song, 4)), written.lyrics[4].text);
    ZELTO_MidiChannelInfo entry{};
    ASSERT_EQ(ZELTO_SongGetMidiChannel(song, 3, 15, &entry), 1);
    EXPECT_EQ(entry.instrument, written.channels[3][15].instrument);
    EXPECT_EQ(entry.reverb, written.channels[3][15].reverb);
    EXPECT_EQ(entry.filler[1], written.channels[3][15].filler[1]);

    for (std::uint32_t measure = 0; measure < written.measures.size(); ++measure) {
        const gp4::MeasureHeader &w = written.measures[measure];
        ZELTO_SongMeasure header{};
        ASSERT_EQ(ZELTO_SongGetMeasure(song, measure, &header), 1);
        EXPECT_EQ(header.flags, w.flags);
        EXPECT_EQ(header.keyNumerator, (w.flags & gp4::MeasureBits::Numerator) ? w.numerator : 0u);
        EXPECT_EQ(header.altEndingCount, (w.flags & gp4::MeasureBits::AltEnding) ? w.altEnding : 0u);
        EXPECT_EQ(header.tonality, (w.flags & gp4::MeasureBits::Tonality) ? w.tonality : 0);
        EXPECT_EQ(header.tonalityType, (w.flags & gp4::MeasureBits::Tonality) ? w.tonalityType : 0u);
        if (w.flags & gp4::MeasureBits::Marker) {
            EXPECT_EQ(std::string(header.markerText), w.markerText);
            EXPECT_EQ(header.markerColor, w.markerColor);
        } else {
            EXPECT_EQ(header.markerText, nullptr);
        }
    }
    for (std::uint32_t track = 0; track < written.tracks.size(); ++track) {
        const gp4::Track &w = written.tracks[track];
        ZELTO_SongTrack record{};
        ASSERT_EQ(ZELTO_SongGetTrack(song, track, &record), 1);
        EXPECT_EQ(std::string(record.name), w.name);
        EXPECT_EQ(record.flags, w.flags);
        EXPECT_EQ(record.stringCount, w.stringCount);
        EXPECT_EQ(record.tunings[6], w.tunings[6]);
        EXPECT_EQ(record.midiChannel, w.channel);
        EXPECT_EQ(record.effectsMidiChannel, w.effectsChannel);
        EXPECT_EQ(record.capoHeight, w.capo);
        EXPECT_EQ(record.color, w.colour);
    }

    // The beat that carries every block, read back through the handle; every
    // other beat and note is compared field by field with what the writer
    // wrote by the Python package's tests and by the tool's `info --notes`.
    const gp4::Beat &loaded = written.beats[0][0][0];
    ZELTO_SongBeat beats[4];
    ZELTO_SongNote notes[7];
    std::uint32_t beatCount = 0, noteCount = 0;
    ASSERT_EQ(ZELTO_SongGetBeats(song, 0, 0, 1, beats, 4, &beatCount, notes, 7, &noteCount, nullptr), 1);
    EXPECT_EQ(beats[0].flags, loaded.flags);
    EXPECT_EQ(beats[0].stringFlags, loaded.stringFlags);
    ASSERT_EQ(beats[0].noteCount, 2u);
    EXPECT_EQ(beats[1].status, 2u);  // the rest
    EXPECT_EQ(beats[2].tuplet, 3);   // the dotted triplet
    EXPECT_EQ(beats[3].firstNote, 3u);
    const gp4::Note &every = loaded.notes[0];
    EXPECT_EQ(std::make_tuple(notes[0].string, notes[0].fret, notes[0].dynamic),
              std::make_tuple(1u, every.fret, every.dynamic));
    EXPECT_EQ(notes[0].timeIndependentDuration, every.timeIndependentDuration);
    EXPECT_EQ(notes[0].rightFingering, every.rightFingering);
    EXPECT_EQ(notes[0].effectFlags2, every.effects.flags2);
    EXPECT_EQ(notes[0].graceDuration, every.effects.graceDuration);
    EXPECT_EQ(notes[0].trillPeriod, every.effects.trillPeriod);
    EXPECT_EQ(notes[1].string, 6u);
    ZELTO_SongBend bend{};
    ZELTO_SongBendPoint points[4];
    ASSERT_EQ(ZELTO_SongGetBend(song, 0, 0, 0, 1, &bend, points, 4), 1);
    EXPECT_EQ(bend.pointCount, every.effects.bend.points.size());
    EXPECT_EQ(std::make_tuple(points[1].position, points[1].value, points[1].vibrato),
              std::make_tuple(3, 2, 1u));
    EXPECT_EQ(ZELTO_SongGetBend(song, 0, 0, 0, 6, &bend, points, 4), 0);  // a note without effects
    EXPECT_STREQ(ZELTO_SongGetBeatText(song, 0, 0, 0), "Intro riff");
    ZELTO_SongChordDiagram chord{};
    ASSERT_EQ(ZELTO_SongGetChordDiagram(song, 0, 0, 3, &chord), 1);
    EXPECT_STREQ(chord.name, "Cmaj7");
    EXPECT_EQ(std::make_tuple(chord.barreEnds[0], chord.fingerings[4], chord.showFingering),
              std::make_tuple(5u, 3, 1u));
    ZELTO_SongBeatEffect effect{};
    ASSERT_EQ(ZELTO_SongGetBeatEffect(song, 0, 0, 0, &effect), 1);
    EXPECT_EQ(std::make_tuple(effect.tappingType, effect.strokeSpeeds[1], effect.pickStroke),
              std::make_tuple(1u, 3u, 1u));
    ASSERT_EQ(ZELTO_SongGetTremoloBar(song, 0, 0, 0, &bend, points, 4), 1);
    EXPECT_EQ(bend.pointCount, 3u);
    ZELTO_SongMixTableChange mix{};
    ASSERT_EQ(ZELTO_SongGetMixTableChange(song, 0, 0, 0, &mix), 1);
    EXPECT_EQ(std::make_tuple(mix.instrument, mix.volume, mix.volumeDuration, mix.balance),
              std::make_tuple(30u, 12u, 2u, 0xFFu));
    EXPECT_EQ(std::make_tuple(mix.tempo, mix.applyToAllTracks), std::make_tuple(100, 1u));
}

TEST(SongHandle, EveryIndexIsChecked) {
    OpenSong opened(WriteSongFile(gp4::FeatureRichSong(), "bounds"));
    ASSERT_EQ(opened.result, ZELTO_SONG_OK);
    ZELTO_Song *song = opened.song;
    const std::uint32_t huge = 0xFFFFFFFFu;

    // The last valid index works; the next one and -1 give 0 or null with the output untouched.
    ZELTO_SongMeasure header{};
    header.flags = 77;
    EXPECT_EQ(ZELTO_SongGetMeasure(song, 3, &header), 1);
    header.flags = 77;
    EXPECT_EQ(ZELTO_SongGetMeasure(song, 4, &header), 0);
    EXPECT_EQ(ZELTO_SongGetMeasure(song, huge, &header), 0);
    EXPECT_EQ(header.flags, 77u);
    ZELTO_SongTrack record{};
    EXPECT_EQ(ZELTO_SongGetTrack(song, 2, &record), 1);
    EXPECT_EQ(ZELTO_SongGetTrack(song, 3, &record), 0);
    EXPECT_NE(ZELTO_SongGetNoticeLine(song, 2), nullptr);
    EXPECT_EQ(ZELTO_SongGetNoticeLine(song, 3), nullptr);
    EXPECT_NE(ZELTO_SongGetLyricsLine(song, 4), nullptr);
    EXPECT_EQ(ZELTO_SongGetLyricsLine(song, 5), nullptr);
    ZELTO_MidiChannelInfo entry{};
    EXPECT_EQ(ZELTO_SongGetMidiChannel(song, 4, 0, &entry), 0);
    EXPECT_EQ(ZELTO_SongGetMidiChannel(song, 0, 16, &entry), 0);

    // Beats: sizes come back with capacity 0, the arrays stay untouched.
    ZELTO_SongBeat beats[9];
    ZELTO_SongNote notes[16];
    std::uint32_t starts[3] = {9, 9, 9};
    std::memset(beats, 0xAB, sizeof beats);
    std::uint32_t beatCount = 0, noteCount = 0;
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 0, 1, nullptr, 0, &beatCount, nullptr, 0, &noteCount, nullptr), 0);
    EXPECT_EQ(beatCount, 4u);
    EXPECT_EQ(noteCount, 7u);
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 0, 1, beats, 4, &beatCount, notes, 6, &noteCount, starts), 0);
    EXPECT_EQ(beats[0].flags, 0xABABABABu);
    EXPECT_EQ(starts[0], 9u);
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 0, 1, beats, 4, &beatCount, notes, 7, &noteCount, nullptr), 1);
    // Two measures at once: their beats follow one another, the starts tell them apart.
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 0, 2, beats, 9, &beatCount, notes, 16, &noteCount, starts), 1);
    EXPECT_EQ(beatCount, 9u);
    EXPECT_EQ(starts[0], 0u);
    EXPECT_EQ(starts[1], 4u);
    EXPECT_EQ(starts[2], 9u);
    EXPECT_EQ(beats[4].measure, 1u);
    EXPECT_EQ(beats[4].firstNote, 7u);
    // The range and the track are checked, also against overflow.
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 3, 1, beats, 8, &beatCount, notes, 16, &noteCount, nullptr), 1);
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 3, 2, beats, 8, &beatCount, notes, 16, &noteCount, nullptr), 0);
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 4, 1, beats, 8, &beatCount, notes, 16, &noteCount, nullptr), 0);
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 1, huge, beats, 8, &beatCount, notes, 16, &noteCount, nullptr), 0);
    EXPECT_EQ(ZELTO_SongGetBeats(song, 3, 0, 1, beats, 8, &beatCount, notes, 16, &noteCount, nullptr), 0);
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 0, 1, beats, 8, nullptr, notes, 16, &noteCount, nullptr), 0);
    // An empty range, and a pair of no beats, are filled with nothing.
    EXPECT_EQ(ZELTO_SongGetBeats(song, 0, 4, 0, nullptr, 0, &beatCount, nullptr, 0, &noteCount, starts), 1);
    EXPECT_EQ(starts[0], 0u);
    EXPECT_EQ(ZELTO_SongGetBeats(song, 1, 1, 1, nullptr, 0, &beatCount, nullptr, 0, &noteCount, nullptr), 1);
    EXPECT_EQ(beatCount + noteCount, 0u);

    // Beat blocks: beat 0 of measure 0, track 0 has them all; the beat index and string are checked.
    ZELTO_SongBeatEffect effect{};
    ZELTO_SongBend bend{};
    ZELTO_SongBendPoint point{};
    EXPECT_NE(ZELTO_SongGetBeatText(song, 0, 0, 0), nullptr);
    EXPECT_EQ(ZELTO_SongGetBeatText(song, 0, 0, 4), nullptr);
    EXPECT_EQ(ZELTO_SongGetBeatEffect(song, 0, 0, 4, &effect), 0);
    EXPECT_EQ(ZELTO_SongGetBeatEffect(song, 0, 0, 1, &effect), 0);  // a rest without effects
    EXPECT_EQ(ZELTO_SongGetBend(song, 0, 0, 0, 1, &bend, &point, 1), 1);
    EXPECT_EQ(bend.pointCount, 4u);  // the count of all points, though one was asked for
    EXPECT_EQ(point.value, 0);
    EXPECT_EQ(ZELTO_SongGetBend(song, 0, 0, 0, 1, &bend, nullptr, 1), 0);
    EXPECT_EQ(ZELTO_SongGetBend(song, 0, 0, 0, 0, &bend, nullptr, 0), 0);
    EXPECT_EQ(ZELTO_SongGetBend(song, 0, 0, 0, 2, &bend, nullptr, 0), 0);  // no note on string 2
    EXPECT_EQ(ZELTO_SongGetBend(song, 0, 0, 0, 8, &bend, nullptr, 0), 0);
    EXPECT_EQ(ZELTO_SongGetTremoloBar(song, 0, 0, 0, &bend, nullptr, 0), 1);

    // A null song or output pointer is refused everywhere.
    ZELTO_SongInfo info{};
    EXPECT_EQ(ZELTO_SongGetInfo(nullptr, &info), 0);
    EXPECT_EQ(ZELTO_SongGetInfo(song, nullptr), 0);
    EXPECT_EQ(ZELTO_SongGetNoticeLine(nullptr, 0), nullptr);
    EXPECT_EQ(ZELTO_SongGetMeasure(nullptr, 0, &header), 0);
    EXPECT_EQ(ZELTO_SongGetTrack(song, 0, nullptr), 0);
    EXPECT_EQ(ZELTO_SongGetBeats(nullptr, 0, 0, 1, beats, 4, &beatCount, notes, 8, &noteCount, nullptr), 0);
    EXPECT_EQ(ZELTO_SongGetChordDiagram(song, 0, 0, 0, nullptr), 0);
    EXPECT_EQ(ZELTO_SongGetMixTableChange(nullptr, 0, 0, 0, nullptr), 0);
    unsigned char *buffer = reinterpret_cast<unsigned char *>(&info);
    std::uint32_t size = 5;
    EXPECT_EQ(ZELTO_SongCreateMidiBuffer(nullptr, ZELTO_SONG_MIDI_PLAIN, &buffer, &size), ZELTO_SONG_INVALID_ARGUMENT);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ZELTO_SongCreateMidiBuffer(song, 2, &buffer, &size), ZELTO_SONG_INVALID_ARGUMENT);
    EXPECT_EQ(ZELTO_SongCreateMidiBuffer(song, ZELTO_SONG_MIDI_PLAIN, nullptr, &size), ZELTO_SONG_INVALID_ARGUMENT);
    ZELTO_SongClose(nullptr);
}

TEST(SongHandle, AFailedOpenSaysWhy) {
    ZELTO_Song *song = reinterpret_cast<ZELTO_Song *>(&song);
    EXPECT_EQ(ZELTO_SongOpen("/nonexistent/song.gp4", &song), ZELTO_SONG_CANNOT_OPEN);
    EXPECT_EQ(song, nullptr);
    EXPECT_EQ(ZELTO_SongOpen(nullptr, &song), ZELTO_SONG_INVALID_ARGUMENT);
    EXPECT_EQ(ZELTO_SongOpen("song.gp4", nullptr), ZELTO_SONG_INVALID_ARGUMENT);

    gp4::Song other = gp4::MinimalSong();
    other.version = "FICHIER GUITAR PRO v3.00";
    EXPECT_EQ(ZELTO_SongOpen(WriteSongFile(other, "v3").c_str(), &song), ZELTO_SONG_OTHER_VERSION);
    EXPECT_EQ(song, nullptr);
    EXPECT_EQ(ZELTO_SongOpen(WriteSongFile(gp4::Song(), "empty").c_str(), &song), ZELTO_SONG_OK);
    ZELTO_SongClose(song);
    // A file without bytes, and a folder, are said as such, not as another version.
    const std::string nothing = gp4::WriteTempFile({}, "nothing");
    EXPECT_EQ(ZELTO_SongOpen(nothing.c_str(), &song), ZELTO_SONG_EMPTY);
    const std::string folder = nothing + ".folder";
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    EXPECT_EQ(ZELTO_SongOpen(folder.c_str(), &song), ZELTO_SONG_CANNOT_READ);
    EXPECT_EQ(song, nullptr);
    rmdir(folder.c_str());
    gp4::RemoveTempFile(nothing);
    gp4::Song badChord = gp4::MinimalSong();
    badChord.beats[0][0][0].flags |= gp4::BeatBits::Chord;
    badChord.beats[0][0][0].chord.format = 2;
    EXPECT_EQ(ZELTO_SongOpen(WriteSongFile(badChord, "chord").c_str(), &song), ZELTO_SONG_DAMAGED);

    gp4::Bytes whole = gp4::WriteSong(gp4::FeatureRichSong());
    gp4::Bytes cut(whole.begin(), whole.end() - 3);
    EXPECT_EQ(ZELTO_SongOpen(gp4::WriteTempFile(cut, "cut").c_str(), &song), ZELTO_SONG_CUT_OFF);
    EXPECT_EQ(song, nullptr);
    // Every prefix past the version field is cut off, wherever it ends (in
    // a string's text too), never out of memory.
    for (std::size_t length = 31; length < whole.size(); ++length) {
        const std::string path = gp4::WriteTempFile(gp4::Bytes(whole.begin(), whole.begin() + length), "prefix");
        ASSERT_EQ(ZELTO_SongOpen(path.c_str(), &song), ZELTO_SONG_CUT_OFF) << length;
        gp4::RemoveTempFile(path);
    }

    for (std::int32_t result = ZELTO_SONG_OK; result <= ZELTO_SONG_EMPTY; ++result)
        EXPECT_STRNE(ZELTO_SongResultText(result), ZELTO_SongResultText(-1)) << result;
}

TEST(SongHandle, TwoSongsOpenAtOnceStayApart) {
    const std::string firstPath = WriteSongFile(gp4::FeatureRichSong(0), "first");
    const std::string secondPath = WriteSongFile(gp4::FeatureRichSong(1), "second");
    const std::vector<unsigned char> firstAlone = RenderGlobal(firstPath);
    const std::vector<unsigned char> secondAlone = RenderGlobal(secondPath);
    const std::vector<unsigned char> secondPerformed = RenderGlobal(secondPath, ZELTO_CreatePerformedMidiBuffer);
    ASSERT_FALSE(secondPerformed.empty());
    ASSERT_FALSE(firstAlone.empty());
    ASSERT_NE(firstAlone, secondAlone);

    OpenSong first(firstPath);
    auto second = std::make_unique<OpenSong>(secondPath);
    ASSERT_EQ(first.result, ZELTO_SONG_OK);
    ASSERT_EQ(second->result, ZELTO_SONG_OK);
    // The global song is a third, separate song.
    ZELTO_Init();
    ASSERT_EQ(ZELTO_Load(secondPath.c_str()), 1);

    ZELTO_SongInfo firstInfo{}, secondInfo{};
    ZELTO_SongGetInfo(first.song, &firstInfo);
    ZELTO_SongGetInfo(second->song, &secondInfo);
    EXPECT_STREQ(firstInfo.title, "Feature rich");
    EXPECT_STREQ(secondInfo.title, "Second title");
    EXPECT_NE(firstInfo.tempo, secondInfo.tempo);
    EXPECT_EQ(Render(first.song, ZELTO_SONG_MIDI_PLAIN), firstAlone);
    EXPECT_EQ(Render(second->song, ZELTO_SONG_MIDI_PLAIN), secondAlone);
    EXPECT_EQ(Render(first.song, ZELTO_SONG_MIDI_PLAIN), firstAlone);  // again: the same bytes
    // The performed rendering of a handle is the global song's, and not the plain one.
    EXPECT_EQ(Render(second->song, ZELTO_SONG_MIDI_PERFORMED), secondPerformed);
    EXPECT_NE(secondPerformed, secondAlone);

    second.reset();
    ZELTO_Unload();
    ZELTO_SongGetInfo(first.song, &firstInfo);
    EXPECT_STREQ(firstInfo.title, "Feature rich");
    EXPECT_EQ(Render(first.song, ZELTO_SONG_MIDI_PLAIN), firstAlone);
}

TEST(SongHandle, WorksFromPlainC) {
    EXPECT_EQ(ZeltoSongHandleCHost(WriteSongFile(gp4::FeatureRichSong(), "c-host").c_str()), 0);
}

}  // namespace

namespace {

struct Budgeted {
    std::int32_t result = -1;
    std::uint32_t limit = 99;
    std::vector<unsigned char> bytes;
    bool nullBuffer = false;
};

Budgeted RenderWithin(ZELTO_Song *song, std::uint32_t rendering, std::uint32_t largestSize) {
    Budgeted made;
    unsigned char *buffer = reinterpret_cast<unsigned char *>(&made);
    std::uint32_t size = 7;
    made.result = ZELTO_SongCreateMidiBufferWithin(song, rendering, largestSize, &buffer, &size, &made.limit);
    made.nullBuffer = buffer == nullptr && size == 0;
    if (buffer != nullptr) made.bytes.assign(buffer, buffer + size);
    ZELTO_DestroyMidiBuffer(buffer);
    return made;
}

// A budget of the file's own size passes, one byte less is refused with the
// size as the limit passed, and no budget is the plain call; a budget far
// below the file stops early, both renderings alike.
TEST(SongHandle, SizeBudgetRefusesTheFileThatPassesIt) {
    gp4::Song written = gp4::FeatureRichSong();
    written.measures.resize(200);
    written.beats.resize(200, std::vector<std::vector<gp4::Beat>>(written.tracks.size()));
    for (auto &measure : written.beats)
        for (auto &track : measure)
            if (track.empty()) track.assign(8, gp4::NoteBeat(gp4::Duration::Eighth, {{1, 3}, {2, 5}}));
    OpenSong opened(WriteSongFile(written, "budget"));
    ASSERT_EQ(opened.result, ZELTO_SONG_OK);
    for (std::uint32_t rendering : {ZELTO_SONG_MIDI_PLAIN, ZELTO_SONG_MIDI_PERFORMED}) {
        const std::vector<unsigned char> whole = Render(opened.song, rendering);
        ASSERT_GT(whole.size(), 4096u);
        const std::uint32_t fileSize = static_cast<std::uint32_t>(whole.size());
        for (std::uint32_t budget : {0u, fileSize, fileSize + 1}) {
            const Budgeted made = RenderWithin(opened.song, rendering, budget);
            EXPECT_EQ(made.result, ZELTO_SONG_OK) << rendering << " " << budget;
            EXPECT_EQ(made.limit, ZELTO_SONG_LIMIT_NONE);
            EXPECT_EQ(made.bytes, whole);
        }
        for (std::uint32_t budget : {fileSize - 1, 1024u, 1u}) {
            const Budgeted made = RenderWithin(opened.song, rendering, budget);
            EXPECT_EQ(made.result, ZELTO_SONG_TOO_LONG) << rendering << " " << budget;
            EXPECT_EQ(made.limit, ZELTO_SONG_LIMIT_SIZE);
            EXPECT_TRUE(made.nullBuffer);
        }
    }
    std::uint32_t limit = 99;
    unsigned char *buffer = nullptr;
    EXPECT_EQ(ZELTO_SongCreateMidiBufferWithin(opened.song, 0, 0, &buffer, nullptr, &limit),
              ZELTO_SONG_INVALID_ARGUMENT);
    EXPECT_EQ(limit, ZELTO_SONG_LIMIT_NONE);
}

// A song past a render limit says which one, whatever the budget.
TEST(SongHandle, RenderLimitPassedIsNamed) {
    gp4::Song written = gp4::MinimalSong();
    gp4::MeasureHeader first = gp4::TimeSignature(4, 4);
    first.flags |= gp4::MeasureBits::BeginRepeat | gp4::MeasureBits::EndRepeat;
    first.repeatCount = 255;
    gp4::MeasureHeader closing;
    closing.flags = gp4::MeasureBits::EndRepeat;
    closing.repeatCount = 255;
    written.measures.assign(150, closing);
    written.measures[0] = first;
    written.beats.assign(150, {{}});
    OpenSong opened(WriteSongFile(written, "ticks"));
    ASSERT_EQ(opened.result, ZELTO_SONG_OK);
    for (std::uint32_t rendering : {ZELTO_SONG_MIDI_PLAIN, ZELTO_SONG_MIDI_PERFORMED}) {
        const Budgeted made = RenderWithin(opened.song, rendering, 1u << 20);
        EXPECT_EQ(made.result, ZELTO_SONG_TOO_LONG);
        EXPECT_EQ(made.limit, ZELTO_SONG_LIMIT_TICKS);
    }
}

}  // namespace
