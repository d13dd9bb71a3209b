// song_description.h - what a song written by the test-side writer holds,
// beat by beat, as JSON: the shape of the tracks' "measures" of
// `zelto info --json --notes`, derived from the writer's description records
// alone, for the tests of the tool and of the Python package to compare with.
#ifndef ZELTO_TESTS_SONG_DESCRIPTION_H
#define ZELTO_TESTS_SONG_DESCRIPTION_H

#include <string>

#include "gp4_writer.h"

namespace gp4 {

// A JSON array with one object per track: {"index": t, "measures": [{"index":
// m, "beats": [...]}, ...]}. Fields the file does not carry are null or 0 as
// a reader of the file finds them.
std::string DescribeTracksJson(const Song &song);

}  // namespace gp4

#endif  // ZELTO_TESTS_SONG_DESCRIPTION_H
