// export_test.cpp - the MIDI export through the public interface: songs from
// the test-side writer, loaded and rendered with ZELTO_CreateMidiBuffer, every
// buffer checked by the strict test-side reader; the conversion's examples,
// songs that no editor would write, and songs too costly to render.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "gp4_writer.h"
#include "smf_check.h"
#include "zelto.h"
#include "zelto_performed.h"

namespace {

// ---------------------------------------------------------------------------
// Helpers.

// Loads the song as the one global song; the caller unloads it.
bool LoadSong(const gp4::Song &song) {
    ZELTO_Unload();
    const std::string path = gp4::WriteTempFile(gp4::WriteSong(song), "export");
    const int loaded = ZELTO_Load(path.c_str());
    gp4::RemoveTempFile(path);
    return loaded == 1;
}

struct Export {
    int result = -1;
    smf::Bytes bytes;
    bool hadBuffer = false;
    std::uint32_t size = 0;
};

// One export of the loaded song, its buffer copied and released.
Export ExportLoaded() {
    Export exported;
    unsigned char *buffer = nullptr;
    exported.result = ZELTO_CreateMidiBuffer(&buffer, &exported.size);
    exported.hadBuffer = buffer != nullptr;
    if (buffer != nullptr) exported.bytes.assign(buffer, buffer + exported.size);
    ZELTO_DestroyMidiBuffer(buffer);
    return exported;
}

// Loads, exports and parses; a buffer the strict reader rejects fails the test.
smf::File Render(const gp4::Song &song, smf::Bytes *bytes = nullptr) {
    smf::File file;
    if (!LoadSong(song)) {
        ADD_FAILURE() << "the song did not load";
        return file;
    }
    const Export exported = ExportLoaded();
    ZELTO_Unload();
    EXPECT_EQ(exported.result, 1);
    EXPECT_TRUE(exported.hadBuffer);
    std::string error;
    EXPECT_TRUE(smf::Parse(exported.bytes, &file, &error)) << error;
    if (bytes != nullptr) *bytes = exported.bytes;
    return file;
}

// A song of one 4/4 measure and one track (channel 1, effects channel 1,
// first string tuned to 64) playing the given beats.
gp4::Song OneTrack(const std::vector<gp4::Beat> &beats, gp4::MeasureHeader measure = gp4::TimeSignature(4, 4)) {
    gp4::Song song;
    song.measures = {measure};
    gp4::Track track;
    track.effectsChannel = 1;
    song.tracks = {track};
    song.beats = {{beats}};
    return song;
}

gp4::Beat WithMix(gp4::Beat beat, const gp4::MixTable &mix) {
    beat.flags |= gp4::BeatBits::MixTable;
    beat.mix = mix;
    return beat;
}

// The channel events of a track other than notes: kind and data, with ticks.
struct ChannelEvent {
    std::uint64_t tick;
    std::uint8_t status;
    std::vector<std::uint8_t> data;
    bool operator==(const ChannelEvent &other) const {
        return tick == other.tick && status == other.status && data == other.data;
    }
};

std::ostream &operator<<(std::ostream &stream, const ChannelEvent &event) {
    stream << "{tick " << event.tick << ", status 0x" << std::hex << int{event.status} << std::dec;
    for (std::uint8_t byte : event.data) stream << ", " << int{byte};
    return stream << "}";
}

std::vector<ChannelEvent> SettingEvents(const smf::Track &track) {
    std::vector<ChannelEvent> events;
    for (const smf::Event &event : track.events)
        if (event.IsChannel() && (event.Kind() == 0xB0 || event.Kind() == 0xC0))
            events.push_back({event.tick, event.status, event.data});
    return events;
}

std::vector<smf::Note> Notes(std::initializer_list<smf::Note> notes) { return notes; }

smf::Note At(std::uint64_t tick, std::uint8_t key, std::uint8_t velocity, std::uint8_t channel = 0) {
    smf::Note note;
    note.tick = tick;
    note.channel = channel;
    note.key = key;
    note.velocity = velocity;
    return note;
}

std::vector<std::uint32_t> TempoValues(const smf::Track &track) {
    std::vector<std::uint32_t> values;
    for (const smf::Tempo &tempo : smf::Tempos(track)) values.push_back(tempo.microsecondsPerQuarter);
    return values;
}

// ---------------------------------------------------------------------------
// The entry points.

TEST(MidiExport, WholeNoteSongByteForByte) {
    gp4::Song song = OneTrack({gp4::NoteBeat(gp4::Duration::Whole, {{1, 3}})});
    song.beats[0][0][0].notes[0].flags = gp4::NoteBits::TypeAndFret;  // no dynamic
    smf::Bytes bytes;
    Render(song, &bytes);
    const smf::Bytes expected = {
        0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06, 0x00, 0x01, 0x00, 0x02, 0x01, 0xE0,
        // Conductor: set tempo 500,000, the title, 4/4, the end; all at 0.
        0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x1C,
        0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,
        0x00, 0xFF, 0x03, 0x05, 'T', 'i', 't', 'l', 'e',
        0x00, 0xFF, 0x58, 0x04, 0x04, 0x02, 0x18, 0x08,
        0x00, 0xFF, 0x2F, 0x00,
        // Track 1: name, program 25, volume 104, note-on 67/95, note-off at 1920.
        0x4D, 0x54, 0x72, 0x6B, 0x00, 0x00, 0x00, 0x1F,
        0x00, 0xFF, 0x03, 0x07, 'T', 'r', 'a', 'c', 'k', ' ', '1',
        0x00, 0xC0, 0x19,
        0x00, 0xB0, 0x07, 0x68,
        0x00, 0x90, 0x43, 0x5F,
        0x8F, 0x00, 0x80, 0x43, 0x50,
        0x00, 0xFF, 0x2F, 0x00,
    };
    EXPECT_EQ(bytes, expected);
}

TEST(MidiExport, TwoTracksHeaderAndSize) {
    gp4::Song song = gp4::MinimalSong();
    song.tracks.push_back(gp4::Track());
    song.beats[0].push_back({gp4::QuarterNote(2, 7), gp4::QuarterNote(3, 2)});
    smf::Bytes bytes;
    const smf::File file = Render(song, &bytes);
    const smf::Bytes header = {0x4D, 0x54, 0x68, 0x64, 0x00, 0x00, 0x00, 0x06,
                               0x00, 0x01, 0x00, 0x03, 0x01, 0xE0};
    ASSERT_GE(bytes.size(), header.size());
    EXPECT_EQ(smf::Bytes(bytes.begin(), bytes.begin() + 14), header);
    ASSERT_EQ(file.tracks.size(), 3u);
    std::size_t expectedSize = 14;
    for (const smf::Track &track : file.tracks) expectedSize += 8 + track.length;
    EXPECT_EQ(bytes.size(), expectedSize);
}

TEST(MidiExport, NoTracksGivesTheConductorAlone) {
    gp4::Song song;
    gp4::MeasureHeader second = gp4::TimeSignature(3, 4);
    second.flags |= gp4::MeasureBits::Marker;
    second.markerText = "Verse";
    song.measures = {gp4::TimeSignature(4, 4), second, gp4::MeasureHeader()};
    const smf::File file = Render(song);
    ASSERT_EQ(file.tracks.size(), 1u);
    const auto signatures = smf::MetaEvents(file.tracks[0], 0x58);
    ASSERT_EQ(signatures.size(), 2u);
    EXPECT_EQ(signatures[0]->tick, 0u);
    EXPECT_EQ(signatures[1]->tick, 1920u);
    EXPECT_EQ(signatures[1]->metaData, (smf::Bytes{3, 2, 24, 8}));
    const auto markers = smf::MetaEvents(file.tracks[0], 0x06);
    ASSERT_EQ(markers.size(), 1u);
    EXPECT_EQ(markers[0]->tick, 1920u);
    EXPECT_EQ(smf::FirstMetaText(file.tracks[0], 0x06), "Verse");
}

TEST(MidiExport, TwoExportsGiveIdenticalBuffers) {
    for (int variant = 0; variant < 2; ++variant) {
        ASSERT_TRUE(LoadSong(gp4::FeatureRichSong(variant)));
        unsigned char *first = nullptr;
        unsigned char *second = nullptr;
        std::uint32_t firstSize = 0, secondSize = 0;
        ASSERT_EQ(ZELTO_CreateMidiBuffer(&first, &firstSize), 1);
        ASSERT_EQ(ZELTO_CreateMidiBuffer(&second, &secondSize), 1);
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        ASSERT_EQ(firstSize, secondSize);
        EXPECT_EQ(smf::Bytes(first, first + firstSize), smf::Bytes(second, second + secondSize));
        EXPECT_EQ(smf::Check(smf::Bytes(first, first + firstSize)), "");
        ZELTO_DestroyMidiBuffer(first);
        ZELTO_DestroyMidiBuffer(second);
        ZELTO_Unload();
    }
}

TEST(MidiExport, NoSongLeavesHostVariablesUntouched) {
    ZELTO_Unload();
    unsigned char sentinel = 0;
    unsigned char *buffer = &sentinel;
    std::uint32_t size = 12345;
    EXPECT_EQ(ZELTO_CreateMidiBuffer(&buffer, &size), 0);
    EXPECT_EQ(buffer, &sentinel);
    EXPECT_EQ(size, 12345u);
}

// A null address for either output is refused with a song loaded, by both
// renderings, and the other output is left as it was.
TEST(MidiExport, NullOutputPointersAreRefusedAndNothingIsWritten) {
    ASSERT_TRUE(LoadSong(gp4::MinimalSong()));
    for (auto render : {ZELTO_CreateMidiBuffer, ZELTO_CreatePerformedMidiBuffer}) {
        unsigned char sentinel = 0;
        unsigned char *buffer = &sentinel;
        std::uint32_t size = 12345;
        EXPECT_EQ(render(nullptr, &size), 0);
        EXPECT_EQ(size, 12345u);
        EXPECT_EQ(render(&buffer, nullptr), 0);
        EXPECT_EQ(buffer, &sentinel);
        EXPECT_EQ(render(nullptr, nullptr), 0);
    }
    ZELTO_Unload();
}

TEST(MidiExport, BufferOutlivesTheSongAndNullIsReleasedHarmlessly) {
    ZELTO_DestroyMidiBuffer(nullptr);
    ASSERT_TRUE(LoadSong(gp4::MinimalSong()));
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    ASSERT_EQ(ZELTO_CreateMidiBuffer(&buffer, &size), 1);
    ZELTO_Unload();
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(smf::Check(smf::Bytes(buffer, buffer + size)), "");
    ZELTO_DestroyMidiBuffer(buffer);
}

// ---------------------------------------------------------------------------
// The conversion's timing and events.

TEST(MidiConversion, ConsecutiveQuartersReleaseBeforeTheNextStarts) {
    const smf::File file = Render(OneTrack({gp4::QuarterNote(1, 0), gp4::QuarterNote(1, 2)}));
    ASSERT_EQ(file.tracks.size(), 2u);
    std::vector<const smf::Event *> notes;
    for (const smf::Event &event : file.tracks[1].events)
        if (event.IsChannel() && (event.Kind() == 0x80 || event.Kind() == 0x90)) notes.push_back(&event);
    ASSERT_EQ(notes.size(), 5u);
    EXPECT_EQ(notes[1]->Kind(), 0x80);
    EXPECT_EQ(notes[1]->tick, 480u);
    EXPECT_EQ(notes[2]->Kind(), 0x90);
    EXPECT_EQ(notes[2]->tick, 480u);
    // The second ends at 960 and is released there, and again at the measure's end.
    EXPECT_EQ(smf::NoteOffs(file.tracks[1]), Notes({At(480, 64, 80), At(960, 66, 80), At(1920, 66, 80)}));
}

TEST(MidiConversion, RestsAndEmptyBeatsPassTimeAndApplyTheirMixTable) {
    gp4::MixTable louder;
    louder.volume = 10;
    louder.volumeDuration = 0;
    gp4::Beat empty = gp4::RestBeat(gp4::Duration::Quarter);
    empty.status = 0;
    const smf::File file = Render(OneTrack({gp4::RestBeat(gp4::Duration::Quarter),
                                            WithMix(empty, louder), gp4::QuarterNote(1, 0)}));
    EXPECT_EQ(smf::NoteOns(file.tracks[1]), Notes({At(960, 64, 95)}));
    EXPECT_EQ(smf::NoteOffs(file.tracks[1]), Notes({At(1440, 64, 80), At(1920, 64, 80)}));
    const std::vector<ChannelEvent> settings = SettingEvents(file.tracks[1]);
    ASSERT_EQ(settings.size(), 3u);
    EXPECT_EQ(settings[2], (ChannelEvent{480, 0xB0, {7, 80}}));
}

TEST(MidiConversion, EffectsChannelGetsTheMainChannelsSettings) {
    gp4::Song song = OneTrack({gp4::QuarterNote(1, 0)});
    song.channels[0][1].instrument = 40;  // the effects channel's own entry is not used
    song.channels[0][1].volume = 2;
    EXPECT_EQ(SettingEvents(Render(song).tracks[1]),
              (std::vector<ChannelEvent>{{0, 0xC0, {25}}, {0, 0xB0, {7, 104}}}));
    song.tracks[0].effectsChannel = 2;
    EXPECT_EQ(SettingEvents(Render(song).tracks[1]),
              (std::vector<ChannelEvent>{{0, 0xC0, {25}}, {0, 0xC1, {25}}, {0, 0xB0, {7, 104}}, {0, 0xB1, {7, 104}}}));
}

TEST(MidiConversion, MixTableTempoChangeGoesToTheConductor) {
    gp4::MixTable slower;
    slower.tempo = 90;
    const smf::File file = Render(OneTrack({gp4::QuarterNote(1, 0), WithMix(gp4::QuarterNote(1, 0), slower)}));
    const std::vector<smf::Tempo> tempos = smf::Tempos(file.tracks[0]);
    ASSERT_EQ(tempos.size(), 2u);
    EXPECT_EQ(tempos[1].tick, 480u);
    EXPECT_EQ(tempos[1].microsecondsPerQuarter, 666666u);
    EXPECT_EQ(SettingEvents(file.tracks[1]).size(), 2u);  // the start's program and volume only
}

TEST(MidiConversion, RepeatJumpEmitsTheTimeSignatureAgain) {
    gp4::Song song;
    gp4::MeasureHeader first = gp4::TimeSignature(4, 4);
    first.flags |= gp4::MeasureBits::BeginRepeat;
    gp4::MeasureHeader second = gp4::TimeSignature(3, 4);
    second.flags |= gp4::MeasureBits::EndRepeat;
    second.repeatCount = 1;
    song.measures = {first, second, gp4::MeasureHeader()};
    const smf::File file = Render(song);
    std::vector<std::uint64_t> ticks;
    for (const smf::Event *event : smf::MetaEvents(file.tracks[0], 0x58)) ticks.push_back(event->tick);
    EXPECT_EQ(ticks, (std::vector<std::uint64_t>{0, 1920, 3360, 5280}));
}

TEST(MidiConversion, TimeSignatureComesBeforeTheMarker) {
    gp4::MeasureHeader measure = gp4::TimeSignature(6, 8);
    measure.flags |= gp4::MeasureBits::Marker;
    const smf::File file = Render(OneTrack({}, measure));
    const std::vector<smf::Event> &events = file.tracks[0].events;
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[2].metaType, 0x58);
    EXPECT_EQ(events[2].metaData, (smf::Bytes{6, 3, 12, 8}));
    EXPECT_EQ(events[3].metaType, 0x06);
}

TEST(MidiConversion, ShortMeasureReleasesItsLastBeatTwice) {
    const smf::File file = Render(OneTrack({gp4::QuarterNote(1, 0), gp4::QuarterNote(1, 0),
                                            gp4::NoteBeat(gp4::Duration::Half, {{2, 1}})}));
    // Quarter, quarter and half fill 1920: only the measure's end releases the half.
    EXPECT_EQ(smf::NoteOffs(file.tracks[1]), Notes({At(480, 64, 80), At(960, 64, 80), At(1920, 60, 80)}));
    const smf::File shorter = Render(OneTrack({gp4::QuarterNote(1, 0), gp4::QuarterNote(1, 0), gp4::QuarterNote(1, 0)}));
    EXPECT_EQ(smf::NoteOffs(shorter.tracks[1]),
              Notes({At(480, 64, 80), At(960, 64, 80), At(1440, 64, 80), At(1920, 64, 80)}));
}

TEST(MidiConversion, BeatsAreCutAtTheBarLine) {
    const gp4::Beat half = gp4::NoteBeat(gp4::Duration::Half, {{1, 0}});
    const smf::File halves = Render(OneTrack({half, half}, gp4::TimeSignature(3, 4)));
    EXPECT_EQ(smf::NoteOns(halves.tracks[1]), Notes({At(0, 64, 95), At(960, 64, 95)}));
    EXPECT_EQ(smf::NoteOffs(halves.tracks[1]), Notes({At(960, 64, 80), At(1440, 64, 80)}));
    const gp4::Beat quarter = gp4::QuarterNote(1, 0);
    const smf::File quarters = Render(OneTrack({quarter, quarter, quarter, quarter}, gp4::TimeSignature(3, 4)));
    EXPECT_EQ(smf::NoteOns(quarters.tracks[1]).size(), 3u);
}

TEST(MidiConversion, MeasureOfNumeratorZeroPlaysNothing) {
    gp4::Song song = OneTrack({gp4::QuarterNote(1, 0)}, gp4::TimeSignature(0, 4));
    song.measures[0].flags |= gp4::MeasureBits::Marker;
    song.measures.push_back(gp4::TimeSignature(4, 4));
    song.beats.push_back({{gp4::QuarterNote(1, 5)}});
    const smf::File file = Render(song);
    const auto signatures = smf::MetaEvents(file.tracks[0], 0x58);
    ASSERT_EQ(signatures.size(), 2u);
    EXPECT_EQ(signatures[0]->metaData, (smf::Bytes{0, 2, 24, 8}));
    EXPECT_EQ(signatures[1]->tick, 0u);
    EXPECT_EQ(smf::MetaEvents(file.tracks[0], 0x06).size(), 1u);
    EXPECT_EQ(smf::NoteOns(file.tracks[1]), Notes({At(0, 69, 95)}));
}

TEST(MidiConversion, KeysVelocitiesAndNoteTypes) {
    gp4::Beat chord = gp4::NoteBeat(gp4::Duration::Quarter, {{1, 3}, {2, 0}, {3, 1}, {6, 12}});
    for (std::size_t slot = 0; slot < 7; ++slot) chord.notes[slot].flags |= gp4::NoteBits::Dynamic;
    chord.notes[0].dynamic = 1;
    chord.notes[1].dynamic = 8;
    chord.notes[2].type = 2;  // tie: released, not sounded
    chord.notes[5].dynamic = 5;
    gp4::Beat dead = gp4::NoteBeat(gp4::Duration::Quarter, {{4, 2}});
    dead.notes[3].type = 3;
    gp4::Song song = OneTrack({chord, dead});
    song.tracks[0].capo = 5;  // not added
    const smf::File file = Render(song);
    EXPECT_EQ(smf::NoteOns(file.tracks[1]), Notes({At(0, 67, 15), At(0, 59, 127), At(0, 52, 79)}));
    EXPECT_EQ(smf::NoteOffs(file.tracks[1]),
              Notes({At(480, 67, 80), At(480, 59, 80), At(480, 56, 80), At(480, 52, 80),
                     At(960, 52, 80), At(1920, 52, 80)}));
}

// ---------------------------------------------------------------------------
// Songs outside the format's ranges: each converts to a well-formed file.

TEST(UnusualSongs, ChannelOutsideOneToSixteenSendsNoChannelEvents) {
    for (std::uint32_t channel : {0u, 17u, 0xFFFFFFFFu}) {
        gp4::MixTable change;
        change.instrument = 3;
        change.volume = 3;
        change.tempo = 100;
        gp4::Song song = OneTrack({WithMix(gp4::QuarterNote(1, 0), change), gp4::QuarterNote(2, 0)});
        song.tracks[0].channel = channel;
        song.tracks[0].effectsChannel = 1;
        const smf::File file = Render(song);
        SCOPED_TRACE("channel " + std::to_string(channel));
        ASSERT_EQ(file.tracks[1].events.size(), 2u);
        EXPECT_EQ(file.tracks[1].events[0].metaType, 0x03);
        EXPECT_EQ(file.tracks[1].events[1].metaType, 0x2F);
        EXPECT_EQ(TempoValues(file.tracks[0]), (std::vector<std::uint32_t>{500000, 600000}));
    }
}

TEST(UnusualSongs, EffectsChannelOutsideOneToSixteenIsTheMainChannel) {
    for (std::uint32_t effects : {0u, 17u, 200u}) {
        gp4::Song song = OneTrack({gp4::QuarterNote(1, 0)});
        song.tracks[0].channel = 5;
        song.tracks[0].effectsChannel = effects;
        EXPECT_EQ(SettingEvents(Render(song).tracks[1]),
                  (std::vector<ChannelEvent>{{0, 0xC4, {25}}, {0, 0xB4, {7, 104}}}))
            << "effects channel " << effects;
    }
}

TEST(UnusualSongs, PortOutsideOneToFourFindsNoTableEntry) {
    for (std::uint32_t port : {0u, 5u, 0x80000000u}) {
        gp4::MixTable change;
        change.instrument = 7;
        gp4::Song song = OneTrack({gp4::QuarterNote(1, 0), WithMix(gp4::QuarterNote(1, 1), change)});
        song.tracks[0].port = port;
        const smf::File file = Render(song);
        EXPECT_EQ(SettingEvents(file.tracks[1]), (std::vector<ChannelEvent>{{480, 0xC0, {7}}})) << "port " << port;
        EXPECT_EQ(smf::NoteOns(file.tracks[1]).size(), 2u);
    }
    gp4::Song lastEntry = OneTrack({});
    lastEntry.tracks[0].port = 4;
    lastEntry.tracks[0].channel = 16;
    lastEntry.tracks[0].effectsChannel = 16;
    lastEntry.channels[3][15].instrument = 99;
    lastEntry.channels[3][15].volume = 1;
    EXPECT_EQ(SettingEvents(Render(lastEntry).tracks[1]),
              (std::vector<ChannelEvent>{{0, 0xCF, {99}}, {0, 0xBF, {7, 8}}}));
}

TEST(UnusualSongs, KeyAbove127IsNeitherSoundedNorReleased) {
    gp4::Song song = OneTrack({gp4::NoteBeat(gp4::Duration::Quarter, {{1, 64}, {2, 68}, {3, 3}})});
    song.tracks[0].tunings[0] = 64;   // 128
    song.tracks[0].tunings[1] = 59;   // 127, the highest key
    song.tracks[0].tunings[2] = 300;  // low byte 44: 47
    const smf::File file = Render(song);
    EXPECT_EQ(smf::NoteOns(file.tracks[1]), Notes({At(0, 127, 95), At(0, 47, 95)}));
    EXPECT_EQ(smf::NoteOffs(file.tracks[1]), Notes({At(480, 127, 80), At(480, 47, 80), At(1920, 127, 80), At(1920, 47, 80)}));
}

TEST(UnusualSongs, ProgramAbove127IsNotSent) {
    gp4::MixTable high;
    high.instrument = 128;
    gp4::MixTable highest;
    highest.instrument = 127;
    for (std::int32_t instrument : {200, -1, 128}) {
        gp4::Song song = OneTrack({WithMix(gp4::QuarterNote(1, 0), high), WithMix(gp4::QuarterNote(1, 0), highest)});
        song.channels[0][0].instrument = instrument;
        EXPECT_EQ(SettingEvents(Render(song).tracks[1]),
                  (std::vector<ChannelEvent>{{0, 0xB0, {7, 104}}, {480, 0xC0, {127}}}))
            << "instrument " << instrument;
    }
    gp4::Song lowByte = OneTrack({});
    lowByte.channels[0][0].instrument = 0x100 + 33;  // its low byte is sent
    EXPECT_EQ(SettingEvents(Render(lowByte).tracks[1])[0], (ChannelEvent{0, 0xC0, {33}}));
}

TEST(UnusualSongs, SongTempoKeepsWithinTwentyFourBits) {
    const struct {
        std::uint32_t tempo, value;
    } cases[] = {{0, 0xFFFFFF}, {1, 0xFFFFFF}, {3, 0xFFFFFF}, {4, 15000000}, {100, 600000},
                 {60000000, 1}, {60000001, 1}, {0xFFFFFFFFu, 1}};
    for (const auto &each : cases) {
        gp4::Song song = OneTrack({});
        song.tempo = each.tempo;
        EXPECT_EQ(TempoValues(Render(song).tracks[0]), std::vector<std::uint32_t>{each.value}) << "tempo " << each.tempo;
    }
}

TEST(UnusualSongs, MixTableTempos) {
    const std::int32_t tempos[] = {-5, -1, 0, 0x7FFFFFFF, INT32_MIN, 2};
    std::vector<gp4::Beat> beats;
    for (std::int32_t tempo : tempos) {
        gp4::MixTable mix;
        mix.tempo = tempo;
        beats.push_back(WithMix(gp4::RestBeat(gp4::Duration::Eighth), mix));
    }
    EXPECT_EQ(TempoValues(Render(OneTrack(beats)).tracks[0]),
              (std::vector<std::uint32_t>{500000, 0xFFFFFF, 1, 0xFFFFFF}));
}

TEST(UnusualSongs, StringCountAbove7SoundsSevenStrings) {
    for (std::uint32_t stringCount : {7u, 8u, 0xFFFFFFFFu}) {
        gp4::Song song = OneTrack({gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {4, 0}, {7, 0}})});
        song.tracks[0].stringCount = stringCount;
        song.tracks[0].tunings[6] = 30;
        const smf::File file = Render(song);
        EXPECT_EQ(smf::NoteOns(file.tracks[1]), Notes({At(0, 64, 95), At(0, 50, 95), At(0, 30, 95)}));
        EXPECT_EQ(smf::NoteOffs(file.tracks[1]).size(), 6u);
    }
    gp4::Song four = OneTrack({gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {4, 0}, {7, 0}})});
    four.tracks[0].stringCount = 4;  // the seventh string's note is ignored
    EXPECT_EQ(smf::NoteOns(Render(four).tracks[1]), Notes({At(0, 64, 95), At(0, 50, 95)}));
}

TEST(UnusualSongs, DenominatorZeroCountsAsFour) {
    gp4::MeasureHeader numeratorOnly;
    numeratorOnly.flags = gp4::MeasureBits::Numerator;
    numeratorOnly.numerator = 3;
    gp4::Song song = OneTrack({gp4::NoteBeat(gp4::Duration::Whole, {{1, 0}})}, numeratorOnly);
    song.measures.push_back(gp4::TimeSignature(5, 0));
    song.beats.push_back({{gp4::NoteBeat(gp4::Duration::Whole, {{1, 0}})}});
    const smf::File file = Render(song);
    const auto signatures = smf::MetaEvents(file.tracks[0], 0x58);
    ASSERT_EQ(signatures.size(), 2u);
    EXPECT_EQ(signatures[0]->metaData, (smf::Bytes{3, 2, 24, 8}));
    EXPECT_EQ(signatures[1]->tick, 1440u);
    EXPECT_EQ(signatures[1]->metaData, (smf::Bytes{5, 2, 24, 8}));
    // 3/4 cuts the first whole note; the second ends before its 5/4 measure does.
    EXPECT_EQ(smf::NoteOffs(file.tracks[1]),
              Notes({At(1440, 64, 80), At(1440 + 1920, 64, 80), At(1440 + 2400, 64, 80)}));
}

TEST(UnusualSongs, DurationCodesOutsideTheRange) {
    const smf::File file = Render(OneTrack({gp4::NoteBeat(5, {{1, 0}}), gp4::NoteBeat(-3, {{1, 1}})}));
    EXPECT_EQ(smf::NoteOns(file.tracks[1]), Notes({At(0, 64, 95), At(30, 65, 95)}));
    EXPECT_EQ(smf::NoteOffs(file.tracks[1]), Notes({At(30, 64, 80), At(1920, 65, 80)}));
}

TEST(UnusualSongs, TrackCountTheFileCannotHold) {
    gp4::Song song;
    song.tracks.assign(65535, gp4::Track());
    ASSERT_TRUE(LoadSong(song));
    unsigned char sentinel = 0;
    unsigned char *buffer = &sentinel;
    std::uint32_t size = 777;
    EXPECT_EQ(ZELTO_CreateMidiBuffer(&buffer, &size), 0);
    EXPECT_EQ(buffer, &sentinel);
    EXPECT_EQ(size, 777u);
    ZELTO_Unload();

    song.tracks.pop_back();  // 65,534 tracks and the conductor: the largest file
    const smf::File file = Render(song);
    EXPECT_EQ(file.trackCount, 65535u);
    EXPECT_EQ(file.tracks.size(), 65535u);
}

TEST(UnusualSongs, EverythingAtOnceStaysWellFormed) {
    gp4::Song song = gp4::FeatureRichSong(1);
    song.tempo = 0;
    for (std::size_t index = 0; index < song.tracks.size(); ++index) {
        song.tracks[index].stringCount = 200;
        song.tracks[index].tunings = {127, 126, -1, 0x7FFFFFFF, 1000, 0, 255};
        song.tracks[index].port = static_cast<std::uint32_t>(index * 3);
        song.tracks[index].channel = static_cast<std::uint32_t>(index * 8 + 1);
        song.tracks[index].effectsChannel = 99;
    }
    for (auto &measureBeats : song.beats)
        for (auto &trackBeats : measureBeats)
            for (gp4::Beat &beat : trackBeats) {
                beat.stringFlags = 0xFF;
                for (gp4::Note &note : beat.notes) {
                    note.flags |= gp4::NoteBits::Dynamic;
                    note.dynamic = 200;
                    note.fret = 250;
                }
            }
    Render(song);  // parsed by the strict reader
}

// ---------------------------------------------------------------------------
// Songs too costly to render.

// Under 10 KB: one measure of 255/1 that opens a repeat, then 200 ends of
// repeat that each go back to it 255 times. Played out, that would be about
// five million measures of 489,600 ticks each.
gp4::Song StackedRepeats() {
    gp4::Song song;
    gp4::MeasureHeader opening = gp4::TimeSignature(255, 1);
    opening.flags |= gp4::MeasureBits::BeginRepeat;
    song.measures.push_back(opening);
    gp4::MeasureHeader end;
    end.flags = gp4::MeasureBits::EndRepeat;
    end.repeatCount = 255;
    song.measures.insert(song.measures.end(), 200, end);
    song.tracks = {gp4::Track()};
    song.beats = {{{gp4::NoteBeat(gp4::Duration::Whole, {{1, 0}})}}};
    return song;
}

TEST(CostlySongs, StackedRepeatsAreRefusedQuickly) {
    const gp4::Song song = StackedRepeats();
    ASSERT_LT(gp4::WriteSong(song).size(), 10u * 1024);
    ASSERT_TRUE(LoadSong(song));
    for (int attempt = 0; attempt < 2; ++attempt) {
        unsigned char sentinel = 0;
        unsigned char *buffer = &sentinel;
        std::uint32_t size = 99;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(ZELTO_CreateMidiBuffer(&buffer, &size), 1);
        const auto elapsed = std::chrono::steady_clock::now() - started;
        RecordProperty("refusal_microseconds",
                       std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()));
        EXPECT_EQ(buffer, nullptr);
        EXPECT_EQ(size, 0u);
    }
    EXPECT_EQ(ZELTO_GetMeasureCount(), 201u);  // the song stays loaded
    ZELTO_Unload();
}

TEST(CostlySongs, StackedRepeatsWithinTheLimitsArePlayedOut) {
    // Three measures of 4/4: the first two play 256 times, then all three 255
    // times more; the whole note of the first measure sounds at every pass.
    gp4::Song song = StackedRepeats();
    song.measures.resize(3);
    song.measures[0] = gp4::TimeSignature(4, 4);
    song.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    smf::Bytes bytes;
    const smf::File file = Render(song, &bytes);
    const std::vector<smf::Note> starts = smf::NoteOns(file.tracks[1]);
    ASSERT_EQ(starts.size(), 511u);
    EXPECT_EQ(starts[1].tick, 2u * 1920);
    EXPECT_EQ(starts[256].tick, 513u * 1920);
    EXPECT_EQ(starts[257].tick, 516u * 1920);
    smf::Bytes again;
    Render(song, &again);
    EXPECT_EQ(again, bytes);
}

// ---------------------------------------------------------------------------
// A file for the independent reader check (export_read_check.py): written
// only when ZELTO_EXPORT_CHECK_PATH names where.

gp4::Song ReadCheckSong() {
    gp4::Song song;
    song.title = "Read check";
    song.tempo = 90;
    gp4::MeasureHeader first = gp4::TimeSignature(4, 4);
    first.flags |= gp4::MeasureBits::Marker;
    first.markerText = "Intro";
    gp4::MeasureHeader second = gp4::TimeSignature(3, 4);
    second.flags |= gp4::MeasureBits::EndRepeat;
    second.repeatCount = 1;
    song.measures = {first, second};
    gp4::Track guitar;
    guitar.name = "Guitar";
    guitar.effectsChannel = 1;
    gp4::Track bass;
    bass.name = "Bass";
    bass.stringCount = 4;
    bass.tunings = {43, 38, 33, 28, 0, 0, 0};
    bass.channel = 3;
    bass.effectsChannel = 3;
    song.channels[0][2].instrument = 33;
    song.channels[0][2].volume = 12;
    gp4::MixTable faster;
    faster.tempo = 120;
    gp4::Beat loud = gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {2, 1}});
    loud.notes[0].flags |= gp4::NoteBits::Dynamic;
    loud.notes[0].dynamic = 8;
    song.tracks = {guitar, bass};
    song.beats = {
        {{loud, gp4::NoteBeat(gp4::Duration::Eighth, {{1, 2}}), gp4::NoteBeat(gp4::Duration::Eighth, {{1, 3}}),
          gp4::NoteBeat(gp4::Duration::Half, {{3, 2}})},
         {gp4::NoteBeat(gp4::Duration::Whole, {{4, 5}})}},
        {{WithMix(gp4::RestBeat(gp4::Duration::Quarter), faster), gp4::NoteBeat(gp4::Duration::Half, {{6, 3}})},
         {gp4::NoteBeat(gp4::Duration::Half, {{1, 0}}), gp4::NoteBeat(gp4::Duration::Quarter, {{2, 2}})}},
    };
    return song;
}

TEST(ExportReadCheck, WritesTheFileForTheIndependentReader) {
    const char *path = std::getenv("ZELTO_EXPORT_CHECK_PATH");
    smf::Bytes bytes;
    Render(ReadCheckSong(), &bytes);
    if (path == nullptr) return;  // the song rendered; nobody asked for the file
    std::FILE *stream = std::fopen(path, "wb");
    ASSERT_NE(stream, nullptr) << path;
    EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), stream), bytes.size());
    EXPECT_EQ(std::fclose(stream), 0);
}

}  // namespace
