// effect_songs.h - the comparison songs of the performed effects, added to
// the list make_compare_songs writes.
#ifndef ZELTO_TESTS_COMPARE_EFFECT_SONGS_H
#define ZELTO_TESTS_COMPARE_EFFECT_SONGS_H

#include <string>
#include <utility>
#include <vector>

#include "gp4_writer.h"

// Appends the songs, named fx_...
void AddEffectSongs(std::vector<std::pair<std::string, gp4::Song>> *songs);

#endif  // ZELTO_TESTS_COMPARE_EFFECT_SONGS_H
