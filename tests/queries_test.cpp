// queries_test.cpp - the 42 song queries through the public interface: songs
// composed with the test-side writer, loaded, and every field read back, with
// the bounds of every index and the answers given when no song is loaded.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "gp4_writer.h"
#include "zelto.h"

namespace {

constexpr std::uint32_t minusOne = 0xFFFFFFFFu;

// Every query as one callable taking two indexes (unused ones ignored), its
// result as a number so that "0 or null" is one test. Built from the export
// table, so a query added there is covered here too.
template <typename Result>
std::uintptr_t AsNumber(Result result) {
    if constexpr (std::is_pointer<Result>::value)
        return reinterpret_cast<std::uintptr_t>(result);
    else
        return static_cast<std::uintptr_t>(result);
}
template <typename Result>
std::uintptr_t Call(Result(ZELTO_CALL *query)(void), std::uint32_t, std::uint32_t) {
    return AsNumber(query());
}
template <typename Result>
std::uintptr_t Call(Result(ZELTO_CALL *query)(std::uint32_t), std::uint32_t first, std::uint32_t) {
    return AsNumber(query(first));
}
template <typename Result>
std::uintptr_t Call(Result(ZELTO_CALL *query)(std::uint32_t, std::uint32_t), std::uint32_t first,
                    std::uint32_t second) {
    return AsNumber(query(first, second));
}

struct Query {
    std::string name;
    int argumentBytes;
    std::function<std::uintptr_t(std::uint32_t, std::uint32_t)> call;
};

#define QUERY_ENTRY_Lifecycle(name, argumentBytes)
#define QUERY_ENTRY_Midi(name, argumentBytes)
#define QUERY_ENTRY_Query(name, argumentBytes) \
    {#name, argumentBytes, [](std::uint32_t first, std::uint32_t second) { return Call(&name, first, second); }},
#define ZELTO_EXPORT(group, result, name, parameters, argumentBytes) QUERY_ENTRY_##group(name, argumentBytes)
const std::vector<Query> allQueries = {
#include "zelto_exports.h"
};
#undef ZELTO_EXPORT

bool StartsWith(const std::string &text, const std::string &prefix) { return text.rfind(prefix, 0) == 0; }

// The queries whose first argument is a measure index, or a track index.
bool TakesMeasure(const Query &query) {
    return query.argumentBytes > 0 &&
           (StartsWith(query.name, "ZELTO_GetMeasure") || StartsWith(query.name, "ZELTO_IsMeasure"));
}
bool TakesTrack(const Query &query) { return query.argumentBytes > 0 && StartsWith(query.name, "ZELTO_GetTrack"); }

class Queries : public ::testing::Test {
  protected:
    void SetUp() override { ZELTO_Unload(); }
    void TearDown() override { ZELTO_Unload(); }

    static int Load(const gp4::Song &song) { return LoadBytes(gp4::WriteSong(song)); }
    static int LoadBytes(const gp4::Bytes &bytes) {
        std::string path = gp4::WriteTempFile(bytes, "queries.gp4");
        int loaded = ZELTO_Load(path.c_str());
        gp4::RemoveTempFile(path);
        return loaded;
    }

    static void ExpectEveryQueryAnswersNothing(const char *when) {
        const std::uint32_t arguments[][2] = {{0, 0}, {1, 1}, {3, 15}, {minusOne, minusOne}};
        for (const Query &query : allQueries)
            for (const auto &argument : arguments)
                EXPECT_EQ(query.call(argument[0], argument[1]), 0u)
                    << query.name << "(" << argument[0] << ", " << argument[1] << ") " << when;
    }
};

// Channel entries are packed and unaligned: read the instrument by value,
// never bind a reference to it.
std::int32_t Instrument(const ZELTO_MidiChannelInfo *entry) { return entry->instrument; }

std::string Text(const char *text) { return text != nullptr ? std::string(text) : std::string("<null>"); }

TEST_F(Queries, TheExportTableHolds42Queries) { EXPECT_EQ(allQueries.size(), 42u); }

TEST_F(Queries, WithNoSongEveryQueryAnswersZeroOrNull) {
    ZELTO_Init();
    ExpectEveryQueryAnswersNothing("after init");

    gp4::Song wrongVersion = gp4::MinimalSong();
    wrongVersion.version = "FICHIER GUITAR PRO v3.00";
    EXPECT_EQ(Load(wrongVersion), 0);
    ExpectEveryQueryAnswersNothing("after a failed load at the version");

    gp4::Bytes cutOff = gp4::WriteSong(gp4::FeatureRichSong());
    cutOff.pop_back();
    EXPECT_EQ(LoadBytes(cutOff), 0);
    ExpectEveryQueryAnswersNothing("after a failed load in the body");

    ASSERT_EQ(Load(gp4::FeatureRichSong()), 1);
    ZELTO_Unload();
    ExpectEveryQueryAnswersNothing("after unload");

    ASSERT_EQ(Load(gp4::FeatureRichSong()), 1);
    ZELTO_Free();
    ExpectEveryQueryAnswersNothing("after free");
}

TEST_F(Queries, SongInformationAndLyricsComeBackAsStored) {
    gp4::Song song = gp4::FeatureRichSong();
    ASSERT_EQ(Load(song), 1);
    EXPECT_EQ(Text(ZELTO_GetTitle()), song.title);
    EXPECT_EQ(Text(ZELTO_GetSubtitle()), song.subtitle);
    EXPECT_EQ(Text(ZELTO_GetInterpret()), song.interpret);
    EXPECT_EQ(Text(ZELTO_GetAlbum()), song.album);
    EXPECT_EQ(Text(ZELTO_GetAuthor()), song.author);
    EXPECT_EQ(Text(ZELTO_GetCopyright()), song.copyright);
    EXPECT_EQ(Text(ZELTO_GetTabAuthor()), song.tabAuthor);
    EXPECT_EQ(Text(ZELTO_GetInstructions()), song.instructions);

    ASSERT_EQ(ZELTO_GetNoticeLineCount(), song.noticeLines.size());
    for (std::uint32_t line = 0; line < song.noticeLines.size(); ++line)
        EXPECT_EQ(Text(ZELTO_GetNoticeLine(line)), song.noticeLines[line]) << "notice line " << line;
    EXPECT_EQ(ZELTO_GetNoticeLine(static_cast<std::uint32_t>(song.noticeLines.size())), nullptr);
    EXPECT_EQ(ZELTO_GetNoticeLine(minusOne), nullptr);

    EXPECT_EQ(ZELTO_IsTripletFeelEnabled(), song.tripletFeel);
    EXPECT_EQ(ZELTO_GetLyricsTrack(), song.lyricsTrack);
    for (std::uint32_t line = 0; line < 5; ++line)
        EXPECT_EQ(Text(ZELTO_GetLyricsLine(line)), song.lyrics[line].text) << "lyrics line " << line;
    EXPECT_EQ(ZELTO_GetLyricsLine(5), nullptr);
    EXPECT_EQ(ZELTO_GetLyricsLine(minusOne), nullptr);
}

TEST_F(Queries, EmptyTextsAreEmptyStringsAndMissingNoticeLinesAreNull) {
    gp4::Song song = gp4::MinimalSong();
    song.title = "";
    song.instructions = "";
    song.lyrics[4].text = "";
    ASSERT_EQ(Load(song), 1);
    ASSERT_NE(ZELTO_GetTitle(), nullptr);
    EXPECT_STREQ(ZELTO_GetTitle(), "");
    ASSERT_NE(ZELTO_GetInstructions(), nullptr);
    EXPECT_STREQ(ZELTO_GetInstructions(), "");
    ASSERT_NE(ZELTO_GetLyricsLine(4), nullptr);
    EXPECT_STREQ(ZELTO_GetLyricsLine(4), "");
    EXPECT_EQ(ZELTO_GetNoticeLineCount(), 0u);
    EXPECT_EQ(ZELTO_GetNoticeLine(0), nullptr);
}

TEST_F(Queries, ByteFieldsWidenWithoutSignExceptKeyAndTonality) {
    gp4::Song song = gp4::MinimalSong();
    song.tripletFeel = 0xFF;
    song.key = -1;
    song.octave = -3;
    song.tempo = 0xFFFFFFFFu;
    song.lyricsTrack = -7;
    gp4::MeasureHeader measure;
    measure.flags = 0xFF;
    measure.numerator = 0xFF;
    measure.denominator = 0x80;
    measure.repeatCount = 0xFE;
    measure.altEnding = 0x81;
    measure.markerColor = 0x80000001u;
    measure.tonality = -2;
    song.measures = {measure};
    ASSERT_EQ(Load(song), 1);

    EXPECT_EQ(ZELTO_IsTripletFeelEnabled(), 255u);
    EXPECT_EQ(ZELTO_GetKey(), -1);
    EXPECT_EQ(ZELTO_GetOctave(), -3);
    EXPECT_EQ(ZELTO_GetTempo(), 0xFFFFFFFFu);
    EXPECT_EQ(ZELTO_GetLyricsTrack(), -7);
    EXPECT_EQ(ZELTO_GetMeasureKeyNumerator(0), 255u);
    EXPECT_EQ(ZELTO_GetMeasureKeyDenominator(0), 128u);
    EXPECT_EQ(ZELTO_GetMeasureRepeatCount(0), 254u);
    EXPECT_EQ(ZELTO_GetMeasureAltEndingCount(0), 129u);
    EXPECT_EQ(ZELTO_GetMeasureMarkerColor(0), 0x80000001u);
    EXPECT_EQ(ZELTO_GetMeasureTonality(0), -2);

    ZELTO_Unload();
    song.key = 1;
    song.tripletFeel = 2;
    song.measures[0].tonality = 0x7F;
    ASSERT_EQ(Load(song), 1);
    EXPECT_EQ(ZELTO_GetKey(), 1);
    EXPECT_EQ(ZELTO_IsTripletFeelEnabled(), 2u);
    EXPECT_EQ(ZELTO_GetMeasureTonality(0), 127);
}

TEST_F(Queries, TheChannelTableIsHandedOutInPlace) {
    gp4::Song song = gp4::FeatureRichSong();
    song.channels[3][15].instrument = -5;
    ASSERT_EQ(Load(song), 1);

    const ZELTO_MidiChannelInfo *first = ZELTO_GetMidiChannel(0, 0);
    ASSERT_NE(first, nullptr);
    for (std::uint32_t port = 0; port < 4; ++port) {
        for (std::uint32_t channel = 0; channel < 16; ++channel) {
            const ZELTO_MidiChannelInfo *entry = ZELTO_GetMidiChannel(port, channel);
            const gp4::ChannelEntry &stored = song.channels[port][channel];
            ASSERT_NE(entry, nullptr);
            SCOPED_TRACE("port " + std::to_string(port) + " channel " + std::to_string(channel));
            EXPECT_EQ(reinterpret_cast<const char *>(entry) - reinterpret_cast<const char *>(first),
                      static_cast<std::ptrdiff_t>((port * 16 + channel) * 12));
            EXPECT_EQ(Instrument(entry), stored.instrument);
            EXPECT_EQ(entry->volume, stored.volume);
            EXPECT_EQ(entry->balance, stored.balance);
            EXPECT_EQ(entry->chorus, stored.chorus);
            EXPECT_EQ(entry->reverb, stored.reverb);
            EXPECT_EQ(entry->phaser, stored.phaser);
            EXPECT_EQ(entry->tremolo, stored.tremolo);
            EXPECT_EQ(entry->filler[0], stored.filler[0]);
            EXPECT_EQ(entry->filler[1], stored.filler[1]);
        }
    }
    const ZELTO_MidiChannelInfo *last = ZELTO_GetMidiChannel(3, 15);
    EXPECT_EQ(reinterpret_cast<const char *>(last) - reinterpret_cast<const char *>(first), 756);
    EXPECT_EQ(Instrument(last), -5);
    EXPECT_EQ(ZELTO_GetMidiChannel(3, 15), last);  // the same entry every time
    EXPECT_EQ(ZELTO_GetMidiChannel(4, 0), nullptr);
    EXPECT_EQ(ZELTO_GetMidiChannel(0, 16), nullptr);
    EXPECT_EQ(ZELTO_GetMidiChannel(minusOne, 0), nullptr);
    EXPECT_EQ(ZELTO_GetMidiChannel(0, minusOne), nullptr);
}

// Measure i carries flag byte i, so the 256 measures cover every
// combination; every presence test must follow its bit and every value
// must be the stored one exactly when its bit is set.
TEST_F(Queries, EveryMeasureFlagCombinationReadsBack) {
    gp4::Song song = gp4::MinimalSong();
    song.measures.clear();
    for (int flags = 0; flags < 256; ++flags) {
        gp4::MeasureHeader measure;
        measure.flags = static_cast<std::uint8_t>(flags);
        measure.numerator = static_cast<std::uint8_t>(flags);
        measure.denominator = static_cast<std::uint8_t>(255 - flags);
        measure.repeatCount = static_cast<std::uint8_t>(flags ^ 0x5A);
        measure.altEnding = static_cast<std::uint8_t>(flags / 2 + 1);
        measure.markerText = "marker " + std::to_string(flags);
        measure.markerColor = 0x01010101u * static_cast<std::uint32_t>(flags);
        measure.tonality = static_cast<std::int8_t>(flags);
        measure.tonalityType = 1;
        song.measures.push_back(measure);
    }
    song.beats.clear();  // every pair holds no beats
    ASSERT_EQ(Load(song), 1);
    ASSERT_EQ(ZELTO_GetMeasureCount(), 256u);

    for (std::uint32_t index = 0; index < 256; ++index) {
        const gp4::MeasureHeader &stored = song.measures[index];
        SCOPED_TRACE("measure " + std::to_string(index));
        auto bit = [&](std::uint8_t flag) { return (stored.flags & flag) != 0; };
        EXPECT_EQ(ZELTO_IsMeasureKeyNumeratorPresent(index), bit(0x01) ? 1 : 0);
        EXPECT_EQ(ZELTO_IsMeasureKeyDenominatorPresent(index), bit(0x02) ? 1 : 0);
        EXPECT_EQ(ZELTO_IsMeasureBeginRepeatPresent(index), bit(0x04) ? 1 : 0);
        EXPECT_EQ(ZELTO_IsMeasureEndRepeatPresent(index), bit(0x08) ? 1 : 0);
        EXPECT_EQ(ZELTO_IsMeasureMarkerPresent(index), bit(0x20) ? 1 : 0);
        EXPECT_EQ(ZELTO_IsMeasureTonalityPresent(index), bit(0x40) ? 1 : 0);
        EXPECT_EQ(ZELTO_IsMeasureDoubleBarPresent(index), bit(0x80) ? 1 : 0);
        EXPECT_EQ(ZELTO_GetMeasureKeyNumerator(index), bit(0x01) ? stored.numerator : 0u);
        EXPECT_EQ(ZELTO_GetMeasureKeyDenominator(index), bit(0x02) ? stored.denominator : 0u);
        EXPECT_EQ(ZELTO_GetMeasureRepeatCount(index), bit(0x08) ? stored.repeatCount : 0u);
        EXPECT_EQ(ZELTO_GetMeasureAltEndingCount(index), bit(0x10) ? stored.altEnding : 0u);
        EXPECT_EQ(Text(ZELTO_GetMeasureMarkerText(index)), bit(0x20) ? stored.markerText : "<null>");
        EXPECT_EQ(ZELTO_GetMeasureMarkerColor(index), bit(0x20) ? stored.markerColor : 0u);
        EXPECT_EQ(ZELTO_GetMeasureTonality(index), bit(0x40) ? stored.tonality : 0);
    }
}

TEST_F(Queries, AMeasureWithOnlyANumeratorHasNoDenominator) {
    gp4::Song song = gp4::FeatureRichSong();
    ASSERT_EQ(Load(song), 1);
    ASSERT_EQ(song.measures[2].flags & 0x03, 0x01);
    EXPECT_EQ(ZELTO_IsMeasureKeyNumeratorPresent(2), 1);
    EXPECT_EQ(ZELTO_GetMeasureKeyNumerator(2), 3u);
    EXPECT_EQ(ZELTO_IsMeasureKeyDenominatorPresent(2), 0);
    EXPECT_EQ(ZELTO_GetMeasureKeyDenominator(2), 0u);
    // Measure 1 has no marker.
    EXPECT_EQ(ZELTO_IsMeasureMarkerPresent(1), 0);
    EXPECT_EQ(ZELTO_GetMeasureMarkerText(1), nullptr);
    EXPECT_EQ(ZELTO_GetMeasureMarkerColor(1), 0u);
    EXPECT_EQ(Text(ZELTO_GetMeasureMarkerText(0)), "Intro");
    EXPECT_EQ(ZELTO_GetMeasureTonality(0), -2);
}

TEST_F(Queries, EveryTrackFieldComesBackAsStored) {
    gp4::Song song = gp4::FeatureRichSong();
    gp4::Track odd;
    odd.name = std::string(40, 'w');  // fills its field exactly
    odd.stringCount = 4;
    odd.tunings = {1, 2, 3, 4, 5, 6, -7};
    odd.port = 0;
    odd.channel = 0xFFFFFFFFu;
    odd.effectsChannel = 16;
    odd.frets = 0;
    odd.capo = 0x80000000u;
    odd.colour = 0xFFFFFFFFu;
    song.tracks.push_back(odd);
    for (auto &measure : song.beats) measure.push_back({});
    ASSERT_EQ(Load(song), 1);
    ASSERT_EQ(ZELTO_GetTrackCount(), song.tracks.size());

    for (std::uint32_t index = 0; index < song.tracks.size(); ++index) {
        const gp4::Track &stored = song.tracks[index];
        SCOPED_TRACE("track " + std::to_string(index));
        EXPECT_EQ(Text(ZELTO_GetTrackName(index)), stored.name);
        EXPECT_EQ(ZELTO_GetTrackStringCount(index), stored.stringCount);
        for (std::uint32_t string = 0; string < 7; ++string)
            EXPECT_EQ(ZELTO_GetTrackTuning(index, string), stored.tunings[string]) << "string " << string;
        EXPECT_EQ(ZELTO_GetTrackTuning(index, 7), 0);
        EXPECT_EQ(ZELTO_GetTrackTuning(index, minusOne), 0);
        EXPECT_EQ(ZELTO_GetTrackMidiPort(index), stored.port);
        EXPECT_EQ(ZELTO_GetTrackMidiChannel(index), stored.channel);
        EXPECT_EQ(ZELTO_GetTrackEffectsMidiChannel(index), stored.effectsChannel);
        EXPECT_EQ(ZELTO_GetTrackFretCount(index), stored.frets);
        EXPECT_EQ(ZELTO_GetTrackCapoHeight(index), stored.capo);
        EXPECT_EQ(ZELTO_GetTrackColor(index), stored.colour);
    }
    // A four-string track still reports its seventh tuning as stored.
    EXPECT_EQ(ZELTO_GetTrackTuning(3, 6), -7);
}

// With every field of the last measure and the last track non-zero, the
// index count - 1 must answer and the index count (and -1) must not.
TEST_F(Queries, IndexesStopAtTheStoredCounts) {
    gp4::Song song = gp4::FeatureRichSong();
    ASSERT_EQ(song.measures.back().flags, 0xFF);
    ASSERT_EQ(Load(song), 1);
    const std::uint32_t measureCount = ZELTO_GetMeasureCount();
    const std::uint32_t trackCount = ZELTO_GetTrackCount();
    ASSERT_EQ(measureCount, song.measures.size());
    ASSERT_EQ(trackCount, song.tracks.size());

    int measureQueries = 0, trackQueries = 0;
    for (const Query &query : allQueries) {
        if (TakesMeasure(query)) {
            ++measureQueries;
            EXPECT_NE(query.call(measureCount - 1, 0), 0u) << query.name << " of the last measure";
            EXPECT_EQ(query.call(measureCount, 0), 0u) << query.name << " at the measure count";
            EXPECT_EQ(query.call(minusOne, 0), 0u) << query.name << " at -1";
        } else if (TakesTrack(query)) {
            ++trackQueries;
            EXPECT_NE(query.call(trackCount - 1, 0), 0u) << query.name << " of the last track";
            EXPECT_EQ(query.call(trackCount, 0), 0u) << query.name << " at the track count";
            EXPECT_EQ(query.call(minusOne, 0), 0u) << query.name << " at -1";
        }
    }
    EXPECT_EQ(measureQueries, 14);
    EXPECT_EQ(trackQueries, 9);

    EXPECT_EQ(Text(ZELTO_GetMeasureMarkerText(measureCount - 1)), song.measures.back().markerText);
    EXPECT_EQ(Text(ZELTO_GetTrackName(trackCount - 1)), song.tracks.back().name);
    EXPECT_EQ(ZELTO_GetTrackTuning(trackCount - 1, 6), song.tracks.back().tunings[6]);
}

TEST_F(Queries, ASongWithoutMeasuresOrTracksAnswersOnlyItsHeader) {
    gp4::Song song;  // header only: no measures, no tracks
    song.noticeLines = {"only line"};
    ASSERT_EQ(Load(song), 1);
    EXPECT_EQ(ZELTO_GetMeasureCount(), 0u);
    EXPECT_EQ(ZELTO_GetTrackCount(), 0u);
    for (const Query &query : allQueries) {
        if (TakesMeasure(query) || TakesTrack(query)) {
            EXPECT_EQ(query.call(0, 0), 0u) << query.name;
        }
    }
    EXPECT_EQ(Text(ZELTO_GetNoticeLine(0)), "only line");
    EXPECT_EQ(ZELTO_GetNoticeLine(1), nullptr);
    EXPECT_EQ(ZELTO_GetTempo(), song.tempo);
    EXPECT_NE(ZELTO_GetMidiChannel(0, 0), nullptr);
}

TEST_F(Queries, TheOlderVersionReadsTheSameWay) {
    gp4::Song song = gp4::FeatureRichSong(1);
    ASSERT_EQ(Load(song), 1);
    EXPECT_EQ(Text(ZELTO_GetTitle()), song.title);
    EXPECT_EQ(ZELTO_IsTripletFeelEnabled(), 1u);
    EXPECT_EQ(ZELTO_GetTempo(), 90u);
    EXPECT_EQ(ZELTO_GetKey(), 2);
    EXPECT_EQ(ZELTO_GetOctave(), 1);
    EXPECT_EQ(Instrument(ZELTO_GetMidiChannel(1, 2)), song.channels[1][2].instrument);
}

}  // namespace
