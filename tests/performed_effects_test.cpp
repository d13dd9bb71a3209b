// performed_effects_test.cpp - what the performed rendering does with pitch,
// attack and time: bends and the tremolo bar on the pitch wheel, slides,
// vibrato, strums, fade-ins, and mix-table transitions, on songs from the
// test-side writer, every buffer checked by the strict reader.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "gp4_writer.h"
#include "smf_check.h"
#include "zelto.h"
#include "zelto_performed.h"

namespace {

smf::File Render(const gp4::Song &song, int *result = nullptr) {
    smf::File file;
    ZELTO_Unload();
    const std::string path = gp4::WriteTempFile(gp4::WriteSong(song), "effects");
    EXPECT_EQ(ZELTO_Load(path.c_str()), 1);
    gp4::RemoveTempFile(path);
    unsigned char *buffer = nullptr;
    std::uint32_t size = 0;
    const int rendered = ZELTO_CreatePerformedMidiBuffer(&buffer, &size);
    if (result != nullptr) *result = rendered;
    EXPECT_TRUE(result != nullptr || rendered == 1);
    if (buffer != nullptr) {
        std::string error;
        EXPECT_TRUE(smf::Parse(smf::Bytes(buffer, buffer + size), &file, &error)) << error;
        for (const smf::Track &track : file.tracks)
            EXPECT_EQ(smf::FindKeyStruckWhileSounding(track), "") << "a key struck while it sounds";
    }
    ZELTO_DestroyMidiBuffer(buffer);
    ZELTO_Unload();
    return file;
}

// A channel event of one kind (0xB0 controller, 0xE0 wheel) with its tick.
struct Sent {
    std::uint64_t tick;
    std::uint32_t channel;
    std::uint32_t value;  // the controller's value, or the wheel's 14 bits
};

std::vector<Sent> Wheels(const smf::Track &track) {
    std::vector<Sent> sent;
    for (const smf::Event &event : track.events)
        if (event.IsChannel() && event.Kind() == 0xE0)
            sent.push_back({event.tick, event.Channel(), static_cast<std::uint32_t>(event.data[0] | (event.data[1] << 7u))});
    return sent;
}

std::vector<Sent> Controllers(const smf::Track &track, std::uint8_t controller) {
    std::vector<Sent> sent;
    for (const smf::Event &event : track.events)
        if (event.IsChannel() && event.Kind() == 0xB0 && event.data[0] == controller)
            sent.push_back({event.tick, event.Channel(), event.data[1]});
    return sent;
}

// The index of the first note-on in the track's events, or the event count.
std::size_t FirstNoteOn(const smf::Track &track, std::uint64_t tick) {
    for (std::size_t index = 0; index < track.events.size(); ++index) {
        const smf::Event &event = track.events[index];
        if (event.IsChannel() && event.Kind() == 0x90 && event.data[1] != 0 && event.tick == tick) return index;
    }
    return track.events.size();
}

// The wheel's last value at or before tick on a channel (centre before any).
std::uint32_t WheelAt(const std::vector<Sent> &wheels, std::uint64_t tick, std::uint32_t channel) {
    std::uint32_t value = 0x2000;
    for (const Sent &wheel : wheels)
        if (wheel.tick <= tick && wheel.channel == channel) value = wheel.value;
    return value;
}

// Semitones of a wheel position under a range (+range is 0x3FFF, -range 0).
double Semitones(std::uint32_t wheel, std::uint32_t range) {
    const double offset = static_cast<double>(wheel) - 0x2000;
    return offset * range / (offset >= 0 ? 0x1FFF : 0x2000);
}

gp4::Song SongOf(const std::vector<std::vector<gp4::Beat>> &measures) { return gp4::OneTrackSong(measures); }

gp4::Beat WithMix(gp4::Beat beat, const gp4::MixTable &mix) {
    beat.flags |= gp4::BeatBits::MixTable;
    beat.mix = mix;
    return beat;
}

// The pitch-bend range a chunk sets with RPN 0 on a channel, or 0.
std::uint32_t BendRange(const smf::Track &track, std::uint32_t channel) {
    std::uint32_t parameter = 0x3FFF;
    for (const smf::Event &event : track.events) {
        if (!event.IsChannel() || event.Kind() != 0xB0 || event.Channel() != channel) continue;
        if (event.data[0] == 101) parameter = (parameter & 0x7Fu) | static_cast<std::uint32_t>(event.data[1] << 7u);
        if (event.data[0] == 100) parameter = (parameter & ~0x7Fu) | event.data[1];
        if (event.data[0] == 6 && parameter == 0) return event.data[1];
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Bends and the tremolo bar.

TEST(PerformedBends, FullToneReachesOneToneAtTheTopPointAndReturns) {
    // A half note (960 ticks): up a tone by position 30 (tick 480), back by 60.
    const gp4::Beat half = gp4::NoteBeat(gp4::Duration::Half, {{2, 5}});
    const gp4::Song song = SongOf({{gp4::WithBend(half, 2, {{0, 0, 0}, {30, 100, 0}, {60, 0, 0}}), half}});
    const smf::File file = Render(song);
    ASSERT_EQ(file.tracks.size(), 2u);
    const smf::Track &track = file.tracks[1];
    EXPECT_EQ(BendRange(track, 1), 2u);  // on the effects channel, as wide as the largest bend
    const std::vector<Sent> wheels = Wheels(track);
    ASSERT_FALSE(wheels.empty());
    for (const Sent &wheel : wheels) EXPECT_EQ(wheel.channel, 1u);  // never the note channel
    EXPECT_DOUBLE_EQ(Semitones(WheelAt(wheels, 480, 1), 2), 2.0);
    EXPECT_NEAR(Semitones(WheelAt(wheels, 240, 1), 2), 1.0, 0.01);  // halfway up the straight line
    EXPECT_EQ(WheelAt(wheels, 960, 1), 0x2000u);
    // The bent note sounds on the effects channel, the unbent one after it on the note channel.
    const std::vector<smf::Note> ons = smf::NoteOns(track);
    ASSERT_EQ(ons.size(), 2u);
    EXPECT_EQ(ons[0].channel, 1u);
    EXPECT_EQ(ons[1].channel, 0u);

    // Half a tone is 50, and a two-tone bend widens the range.
    const gp4::Song wide = SongOf({{gp4::WithBend(half, 2, {{0, 50, 0}, {60, 50, 0}}), gp4::WithBend(half, 2, {{0, 200, 0}, {60, 200, 0}})}});
    const smf::File wideFile = Render(wide);
    const std::vector<Sent> wideWheels = Wheels(wideFile.tracks[1]);
    EXPECT_EQ(BendRange(wideFile.tracks[1], 1), 4u);
    EXPECT_NEAR(Semitones(WheelAt(wideWheels, 0, 1), 4), 1.0, 0.001);
    EXPECT_NEAR(Semitones(WheelAt(wideWheels, 960, 1), 4), 4.0, 0.001);
}

TEST(PerformedBends, PreBendStartsBentAndTheWheelIsCentredBeforeTheNextUnbentNote) {
    gp4::Song song = SongOf({{gp4::WithBend(gp4::QuarterNote(2, 5), 2, {{0, 100, 0}, {60, 100, 0}}), gp4::QuarterNote(2, 7)}});
    song.tracks[0].effectsChannel = 1;  // no effects channel: bent and unbent notes share the wheel
    const smf::File file = Render(song);
    const smf::Track &track = file.tracks[1];
    const std::vector<Sent> wheels = Wheels(track);
    ASSERT_GE(wheels.size(), 2u);
    // Bent before the note starts: the wheel event comes before the note-on at tick 0.
    EXPECT_EQ(wheels[0].tick, 0u);
    EXPECT_EQ(wheels[0].value, 0x3FFFu);
    std::size_t wheelIndex = 0;
    while (track.events[wheelIndex].Kind() != 0xE0) ++wheelIndex;
    EXPECT_LT(wheelIndex, FirstNoteOn(track, 0));
    // Back at centre at the next note's onset, before its note-on.
    EXPECT_EQ(wheels.back().tick, 480u);
    EXPECT_EQ(wheels.back().value, 0x2000u);
    std::size_t centreIndex = track.events.size();
    for (std::size_t index = 0; index < track.events.size(); ++index)
        if (track.events[index].Kind() == 0xE0 && track.events[index].tick == 480) centreIndex = index;
    EXPECT_LT(centreIndex, FirstNoteOn(track, 480));
}

TEST(PerformedBends, ATieHoldsTheBendOrReleasesItAlongItsOwnCurve) {
    const gp4::Beat bent = gp4::WithBend(gp4::QuarterNote(2, 5), 2, {{0, 0, 0}, {30, 100, 0}, {60, 100, 0}});
    gp4::Beat held = gp4::QuarterNote(2, 5);
    held.notes[1].type = 2;
    const gp4::Beat released = gp4::WithBend(held, 2, {{0, 100, 0}, {60, 0, 0}});
    const smf::File file = Render(SongOf({{bent, held, released, gp4::QuarterNote(2, 5)}}));
    const std::vector<Sent> wheels = Wheels(file.tracks[1]);
    ASSERT_EQ(smf::NoteOns(file.tracks[1]).size(), 2u);  // one note over three beats, then the last
    EXPECT_EQ(WheelAt(wheels, 900, 1), 0x3FFFu);          // held up through the plain tie
    EXPECT_NEAR(Semitones(WheelAt(wheels, 1200, 1), 2), 1.0, 0.01);  // halfway down the tie's release
    EXPECT_EQ(WheelAt(wheels, 1440, 1), 0x2000u);
}

TEST(PerformedBends, TremoloBarMovesEveryNoteOfTheBeat) {
    gp4::Beat chord = gp4::WithBeatEffects(gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {2, 0}}), 0, 0x04);
    chord.effects.tremoloBar.points = {{0, 0, 0}, {60, -100, 0}};  // a dive of a tone
    const smf::File file = Render(SongOf({{chord}}));
    const smf::Track &track = file.tracks[1];
    const std::vector<smf::Note> ons = smf::NoteOns(track);
    ASSERT_EQ(ons.size(), 2u);
    EXPECT_EQ(ons[0].channel, 1u);
    EXPECT_EQ(ons[1].channel, 1u);
    const std::vector<Sent> wheels = Wheels(track);
    ASSERT_FALSE(wheels.empty());
    EXPECT_EQ(wheels.back().tick, 480u);
    EXPECT_NEAR(Semitones(wheels.back().value, BendRange(track, 1)), -2.0, 0.001);
}

// ---------------------------------------------------------------------------
// Slides and vibrato.

TEST(PerformedSlides, SlidesGlideAwayIntoAndOnToTheNextNote) {
    const smf::File out = Render(SongOf({{gp4::WithSlide(gp4::QuarterNote(1, 5), 1, 3), gp4::WithSlide(gp4::QuarterNote(1, 5), 1, 4)}}));
    const std::vector<Sent> outWheels = Wheels(out.tracks[1]);
    const std::uint32_t range = BendRange(out.tracks[1], 1);
    EXPECT_EQ(WheelAt(outWheels, 0, 1), 0x2000u);  // the note starts where it is written
    EXPECT_NEAR(Semitones(WheelAt(outWheels, 479, 1), range), -7.0, 0.01);  // out downwards, at its end
    EXPECT_NEAR(Semitones(WheelAt(outWheels, 959, 1), range), 7.0, 0.01);   // out upwards

    const smf::File into = Render(SongOf({{gp4::WithSlide(gp4::QuarterNote(1, 5), 1, -1), gp4::WithSlide(gp4::QuarterNote(1, 5), 1, -2)}}));
    const std::vector<Sent> inWheels = Wheels(into.tracks[1]);
    EXPECT_NEAR(Semitones(WheelAt(inWheels, 0, 1), range), -4.0, 0.01);  // from below
    EXPECT_NEAR(Semitones(WheelAt(inWheels, 470, 1), range), 0.0, 0.01);
    EXPECT_NEAR(Semitones(WheelAt(inWheels, 480, 1), range), 4.0, 0.01);  // from above

    // A shift slide from fret 5 reaches fret 8 before the next note starts there.
    const smf::File shift = Render(SongOf({{gp4::WithSlide(gp4::QuarterNote(1, 5), 1, 1), gp4::QuarterNote(1, 8)}}));
    const std::vector<Sent> shiftWheels = Wheels(shift.tracks[1]);
    EXPECT_NEAR(Semitones(WheelAt(shiftWheels, 200, 1), range), 0.0, 0.01);
    EXPECT_NEAR(Semitones(WheelAt(shiftWheels, 479, 1), range), 3.0, 0.01);
    EXPECT_EQ(smf::NoteOns(shift.tracks[1]).back().key, 64u + 8u);
}

TEST(PerformedVibrato, OscillatesRegularlyAndWideVibratoWider) {
    gp4::Beat note = gp4::NoteBeat(gp4::Duration::Half, {{1, 5}});
    note.notes[0].flags |= gp4::NoteBits::Effects;
    note.notes[0].effects.flags2 = 0x40;
    const gp4::Beat wide = gp4::WithBeatEffects(gp4::NoteBeat(gp4::Duration::Half, {{1, 5}}), 0x02, 0);
    const smf::File file = Render(SongOf({{note, wide}}));
    const std::vector<Sent> wheels = Wheels(file.tracks[1]);
    const std::uint32_t range = BendRange(file.tracks[1], 1);
    double normalPeak = 0;
    double widePeak = 0;
    std::uint32_t normalPeaks = 0;
    for (const Sent &wheel : wheels) {
        const double semitones = Semitones(wheel.value, range);
        EXPECT_GE(semitones, 0.0);  // a finger's vibrato bends up from the note and back
        if (wheel.tick < 960) {
            if (semitones > normalPeak - 1e-9 && semitones > 0.49) ++normalPeaks;
            if (semitones > normalPeak) normalPeak = semitones;
        } else if (semitones > widePeak) {
            widePeak = semitones;
        }
    }
    EXPECT_NEAR(normalPeak, 0.5, 0.01);
    EXPECT_EQ(normalPeaks, 6u);  // one cycle every 160 ticks over 960
    EXPECT_NEAR(widePeak, 1.0, 0.01);
}

// ---------------------------------------------------------------------------
// Strums and fade-in.

TEST(PerformedStrums, DownStrokeStartsOnTheLowestStringAndUpStrokeOnTheHighest) {
    gp4::Beat chord = gp4::WithBeatEffects(gp4::NoteBeat(gp4::Duration::Quarter, {{1, 0}, {2, 0}, {3, 0}}), 0x40, 0);
    gp4::Beat down = chord;
    down.effects.strokeSpeeds = {4, 0};  // a sixteenth from the first string to the last
    gp4::Beat up = chord;
    up.effects.strokeSpeeds = {0, 3};
    const smf::File file = Render(SongOf({{down, up}}));
    const std::vector<smf::Note> ons = smf::NoteOns(file.tracks[1]);
    ASSERT_EQ(ons.size(), 6u);
    EXPECT_EQ(ons[0].key, 55u);  // string 3 first
    EXPECT_EQ(ons[0].tick, 0u);
    EXPECT_EQ(ons[1].key, 59u);
    EXPECT_EQ(ons[1].tick, 60u);
    EXPECT_EQ(ons[2].key, 64u);
    EXPECT_EQ(ons[2].tick, 120u);
    EXPECT_EQ(ons[3].key, 64u);  // string 1 first
    EXPECT_EQ(ons[3].tick, 480u);
    EXPECT_EQ(ons[4].tick, 510u);
    EXPECT_EQ(ons[5].key, 55u);
    EXPECT_EQ(ons[5].tick, 540u);
    // Every strummed note still ends with its beat.
    for (const smf::Note &off : smf::NoteOffs(file.tracks[1])) EXPECT_TRUE(off.tick == 480 || off.tick == 960);
}

TEST(PerformedStrums, FadeInSwellsTheBeatFromSilence) {
    const smf::File file = Render(SongOf({{gp4::WithBeatEffects(gp4::QuarterNote(1, 5), 0x10, 0), gp4::QuarterNote(1, 5)}}));
    const std::vector<Sent> expression = Controllers(file.tracks[1], 11);
    ASSERT_GE(expression.size(), 4u);
    EXPECT_EQ(expression.front().tick, 0u);
    EXPECT_EQ(expression.front().value, 0u);
    EXPECT_EQ(expression.back().tick, 480u);
    EXPECT_EQ(expression.back().value, 127u);
    for (std::size_t index = 1; index < expression.size(); ++index)
        EXPECT_GE(expression[index].value, expression[index - 1].value);
}

// ---------------------------------------------------------------------------
// Mix-table transitions.

TEST(PerformedTransitions, VolumeStepsOverItsBeatsAndTempoRampsToTheNewTempo) {
    gp4::MixTable mix;
    mix.volume = 5;  // controller 40, from the channel table's 13 (104)
    mix.volumeDuration = 4;
    mix.tempo = 60;
    mix.tempoDuration = 4;
    const gp4::Beat quarter = gp4::QuarterNote(1, 5);
    const smf::File file = Render(SongOf({{quarter, WithMix(quarter, mix), quarter, quarter}, {quarter, quarter}}));
    std::vector<Sent> volumes;
    for (const Sent &volume : Controllers(file.tracks[1], 7))
        if (volume.channel == 0 && volume.tick > 0) volumes.push_back(volume);
    ASSERT_EQ(volumes.size(), 4u);
    const std::uint32_t expected[4] = {88, 72, 56, 40};
    for (std::size_t step = 0; step < 4; ++step) {
        EXPECT_EQ(volumes[step].tick, 480 + step * 480) << step;
        EXPECT_EQ(volumes[step].value, expected[step]) << step;
    }
    const std::vector<smf::Tempo> tempos = smf::Tempos(file.tracks[0]);
    ASSERT_EQ(tempos.size(), 5u);  // the song's 120, then 105, 90, 75 and 60 a beat apart
    EXPECT_EQ(tempos[1].microsecondsPerQuarter, 60000000u / 105);
    EXPECT_EQ(tempos.back().tick, 1920u);  // on the fourth beat, in the next measure
    EXPECT_EQ(tempos.back().microsecondsPerQuarter, 1000000u);
}

TEST(PerformedTransitions, ChangeForAllTracksReachesEveryTrackAtItsTick) {
    gp4::Song song = SongOf({{gp4::QuarterNote(1, 5), gp4::QuarterNote(1, 5)}});
    song.tracks.push_back(song.tracks[0]);
    song.tracks[1].channel = 3;
    song.tracks[1].effectsChannel = 4;
    gp4::MixTable mix;
    mix.balance = 0;
    mix.applyToAllTracks = 0x02;
    song.beats[0].push_back({gp4::QuarterNote(1, 7), WithMix(gp4::QuarterNote(1, 7), mix)});
    const smf::File file = Render(song);
    for (std::size_t chunk = 1; chunk <= 2; ++chunk) {
        std::vector<Sent> pans;
        for (const Sent &pan : Controllers(file.tracks[chunk], 10))
            if (pan.tick > 0) pans.push_back(pan);
        ASSERT_EQ(pans.size(), 2u) << chunk;  // on the note and the effects channel
        EXPECT_EQ(pans[0].tick, 480u);
        EXPECT_EQ(pans[0].value, 0u);
    }
}

// ---------------------------------------------------------------------------
// Channels and hostile songs.

TEST(PerformedChannels, ABendOfOneTrackDoesNotCarryIntoAnotherOnItsChannel) {
    gp4::Song song = SongOf({{gp4::WithBend(gp4::QuarterNote(2, 5), 2, {{0, 0, 0}, {60, 100, 0}}), gp4::RestBeat(0)}});
    song.tracks[0].effectsChannel = 3;
    song.tracks.push_back(song.tracks[0]);
    song.tracks[1].channel = 3;  // the first track's effects channel is this one's note channel
    song.tracks[1].effectsChannel = 3;
    song.beats[0].push_back({gp4::RestBeat(0), gp4::QuarterNote(1, 0)});
    const smf::File file = Render(song);
    const std::vector<Sent> bent = Wheels(file.tracks[1]);
    ASSERT_FALSE(bent.empty());
    EXPECT_EQ(bent.back().tick, 480u);  // back at centre where the bent note ends
    EXPECT_EQ(bent.back().channel, 2u);
    EXPECT_EQ(bent.back().value, 0x2000u);
    EXPECT_TRUE(Wheels(file.tracks[2]).empty());

    // Held by a tie, the bend stays until the tie ends.
    song.beats[0][0][1] = gp4::QuarterNote(2, 5);
    song.beats[0][0][1].notes[1].type = 2;
    const std::vector<Sent> held = Wheels(Render(song).tracks[1]);
    ASSERT_FALSE(held.empty());
    EXPECT_EQ(held.back().value, 0x3FFFu);
}

TEST(PerformedChannels, ANoteThatCannotSoundKeepsTheTimeOfTheNotesAfterIt) {
    gp4::Beat unsendable = gp4::QuarterNote(1, 100);  // key 164: not a MIDI key
    unsendable.notes[0].flags |= gp4::NoteBits::Effects;
    unsendable.notes[0].effects.flags2 = 0x01;  // staccato: played as an attack
    const smf::File file = Render(SongOf({{gp4::RestBeat(0), unsendable, gp4::QuarterNote(1, 5)}}));
    const std::vector<smf::Note> ons = smf::NoteOns(file.tracks[1]);
    ASSERT_EQ(ons.size(), 1u);
    EXPECT_EQ(ons[0].tick, 960u);
}

TEST(PerformedChannels, HostileCurvesStayBoundedAndWellFormed) {
    std::vector<gp4::BendPoint> points;
    for (int point = 0; point < 10000; ++point) points.push_back({point % 61, (point * 37) % 301 - 150, 0});
    gp4::Beat bar = gp4::WithBeatEffects(gp4::NoteBeat(gp4::Duration::Eighth, {{1, 5}, {2, 5}, {3, 5}}), 0x13, 0x05);
    bar.effects.tremoloBar.points = {{0, 0, 0}, {30, -0x7FFFFFFF, 0}, {60, 0x7FFFFFFF, 0}, {-5, 40, 0}};
    gp4::Song song = SongOf({{gp4::WithBend(gp4::NoteBeat(gp4::Duration::Whole, {{1, 5}}), 1, points)}});
    for (int measure = 0; measure < 50; ++measure) song.beats.push_back({std::vector<gp4::Beat>(8, bar)});
    song.measures.resize(song.beats.size());
    int result = 0;
    const smf::File file = Render(song, &result);
    ASSERT_EQ(result, 1);
    const std::vector<Sent> wheels = Wheels(file.tracks[1]);
    EXPECT_LE(wheels.size(), 1920u / 10 + 1 + 50u * 8 * (240 / 10 + 4));  // about one a wheel step
    for (std::size_t index = 1; index < wheels.size(); ++index) EXPECT_GE(wheels[index].tick, wheels[index - 1].tick);
    EXPECT_EQ(smf::NoteOns(file.tracks[1]).size(), smf::NoteOffs(file.tracks[1]).size());
}

}  // namespace
