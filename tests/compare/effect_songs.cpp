// effect_songs.cpp - the comparison songs of the performed effects: bends,
// the tremolo bar, slides, vibrato, strums and mix-table transitions, one
// kind a song, each with curves and speeds whose sound is known.
#include "effect_songs.h"

namespace {

gp4::Beat Half(int string, int fret) { return gp4::NoteBeat(gp4::Duration::Half, {{string, fret}}); }

gp4::Beat Bent(gp4::Beat beat, int string, std::vector<gp4::BendPoint> points) {
    beat = gp4::WithNoteEffects(beat, string, gp4::NoteEffectBits::Bend, 0);
    beat.notes[static_cast<std::size_t>(string - 1)].effects.bend.points = std::move(points);
    return beat;
}

gp4::Beat Slid(gp4::Beat beat, int string, std::int8_t slide) {
    beat = gp4::WithNoteEffects(beat, string, 0, gp4::NoteEffectBits::Slide);
    beat.notes[static_cast<std::size_t>(string - 1)].effects.slide = static_cast<std::uint8_t>(slide);
    return beat;
}

gp4::Beat WithBeatEffects(gp4::Beat beat, std::uint8_t flags1, std::uint8_t flags2) {
    beat.flags |= gp4::BeatBits::Effects;
    beat.effects.flags1 = flags1;
    beat.effects.flags2 = flags2;
    return beat;
}

}  // namespace

void AddEffectSongs(std::vector<std::pair<std::string, gp4::Song>> *songs) {
    // A full-tone bend held, a bend and release, a pre-bend, a pre-bend released, a half-tone bend.
    songs->push_back({"fx_bends", gp4::OneTrackSong({{Bent(Half(2, 7), 2, {{0, 0, 0}, {15, 100, 0}, {60, 100, 0}}),
                                           Bent(Half(2, 7), 2, {{0, 0, 0}, {15, 100, 0}, {30, 100, 0}, {45, 0, 0}, {60, 0, 0}})},
                                          {Bent(Half(2, 7), 2, {{0, 100, 0}, {60, 100, 0}}),
                                           Bent(Half(2, 7), 2, {{0, 100, 0}, {30, 100, 0}, {60, 0, 0}})},
                                          {Bent(Half(2, 7), 2, {{0, 0, 0}, {30, 50, 0}, {60, 50, 0}}), Half(2, 7)}})});

    gp4::Beat dive = WithBeatEffects(Half(3, 5), 0, 0x04);
    dive.effects.tremoloBar.points = {{0, 0, 0}, {30, -100, 0}, {60, 0, 0}};
    gp4::Beat dip = WithBeatEffects(Half(3, 5), 0, 0x04);
    dip.effects.tremoloBar.points = {{0, 0, 0}, {60, -200, 0}};
    songs->push_back({"fx_tremolo_bar", gp4::OneTrackSong({{dive, dip}, {Half(3, 5), Half(3, 5)}})});

    songs->push_back({"fx_slides", gp4::OneTrackSong({{Slid(gp4::QuarterNote(1, 5), 1, 1), gp4::QuarterNote(1, 8),
                                            Slid(gp4::QuarterNote(1, 8), 1, 2), gp4::QuarterNote(1, 5)},
                                           {Slid(gp4::QuarterNote(1, 7), 1, -1), Slid(gp4::QuarterNote(1, 7), 1, -2),
                                            Slid(gp4::QuarterNote(1, 7), 1, 3), Slid(gp4::QuarterNote(1, 7), 1, 4)}})});

    songs->push_back({"fx_vibrato", gp4::OneTrackSong({{gp4::WithNoteEffects(Half(1, 5), 1, 0, 0x40),
                                             WithBeatEffects(Half(1, 5), 0x02, 0)}})});

    gp4::Beat chord = WithBeatEffects(gp4::NoteBeat(gp4::Duration::Half, {{1, 0}, {2, 1}, {3, 0}, {4, 2}}), 0x40, 0);
    gp4::Beat down = chord;
    down.effects.strokeSpeeds = {4, 0};
    gp4::Beat up = chord;
    up.effects.strokeSpeeds = {0, 4};
    songs->push_back({"fx_strums", gp4::OneTrackSong({{down, up}})});

    gp4::Beat swell = gp4::QuarterNote(1, 5);
    swell.flags |= gp4::BeatBits::MixTable;
    swell.mix.volume = 5;
    swell.mix.volumeDuration = 4;
    swell.mix.tempo = 60;
    swell.mix.tempoDuration = 4;
    const gp4::Beat quarter = gp4::QuarterNote(1, 5);
    songs->push_back({"fx_transitions", gp4::OneTrackSong({{quarter, swell, quarter, quarter}, {quarter, quarter, quarter, quarter}})});
}
