// effect_songs.cpp - the comparison songs of the performed effects: bends,
// the tremolo bar, slides, vibrato, strums and mix-table transitions, one
// kind a song, each with curves and speeds whose sound is known.
#include "effect_songs.h"

namespace {

gp4::Beat Half(int string, int fret) { return gp4::NoteBeat(gp4::Duration::Half, {{string, fret}}); }

}  // namespace

void AddEffectSongs(std::vector<std::pair<std::string, gp4::Song>> *songs) {
    // A full-tone bend held, a bend and release, a pre-bend, a pre-bend released, a half-tone bend.
    songs->push_back({"fx_bends", gp4::OneTrackSong({{gp4::WithBend(Half(2, 7), 2, {{0, 0, 0}, {15, 100, 0}, {60, 100, 0}}),
                                           gp4::WithBend(Half(2, 7), 2, {{0, 0, 0}, {15, 100, 0}, {30, 100, 0}, {45, 0, 0}, {60, 0, 0}})},
                                          {gp4::WithBend(Half(2, 7), 2, {{0, 100, 0}, {60, 100, 0}}),
                                           gp4::WithBend(Half(2, 7), 2, {{0, 100, 0}, {30, 100, 0}, {60, 0, 0}})},
                                          {gp4::WithBend(Half(2, 7), 2, {{0, 0, 0}, {30, 50, 0}, {60, 50, 0}}), Half(2, 7)}})});

    gp4::Beat dive = gp4::WithBeatEffects(Half(3, 5), 0, 0x04);
    dive.effects.tremoloBar.points = {{0, 0, 0}, {30, -100, 0}, {60, 0, 0}};
    gp4::Beat dip = gp4::WithBeatEffects(Half(3, 5), 0, 0x04);
    dip.effects.tremoloBar.points = {{0, 0, 0}, {60, -200, 0}};
    songs->push_back({"fx_tremolo_bar", gp4::OneTrackSong({{dive, dip}, {Half(3, 5), Half(3, 5)}})});

    songs->push_back({"fx_slides", gp4::OneTrackSong({{gp4::WithSlide(gp4::QuarterNote(1, 5), 1, 1), gp4::QuarterNote(1, 8),
                                            gp4::WithSlide(gp4::QuarterNote(1, 8), 1, 2), gp4::QuarterNote(1, 5)},
                                           {gp4::WithSlide(gp4::QuarterNote(1, 7), 1, -1), gp4::WithSlide(gp4::QuarterNote(1, 7), 1, -2),
                                            gp4::WithSlide(gp4::QuarterNote(1, 7), 1, 3), gp4::WithSlide(gp4::QuarterNote(1, 7), 1, 4)}})});

    songs->push_back({"fx_vibrato", gp4::OneTrackSong({{gp4::WithNoteEffects(Half(1, 5), 1, 0, 0x40),
                                             gp4::WithBeatEffects(Half(1, 5), 0x02, 0)}})});

    gp4::Beat chord = gp4::WithBeatEffects(gp4::NoteBeat(gp4::Duration::Half, {{1, 0}, {2, 1}, {3, 0}, {4, 2}}), 0x40, 0);
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
