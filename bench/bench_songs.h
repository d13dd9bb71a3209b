// bench_songs.h - the songs the benchmarks run on, in several shapes, composed
// as file bytes with the test-side Guitar Pro 4 writer.
#ifndef ZELTO_BENCH_BENCH_SONGS_H
#define ZELTO_BENCH_BENCH_SONGS_H

#include <cstdint>
#include <vector>

#include "gp4_writer.h"

namespace bench {

// A song of measureCount 4/4 measures (a short 3/4 bridge, markers, one
// repeated section per 32 measures) over six tracks: lead, rhythm chords,
// bass, drums, pad and a second lead. 200 measures is the typical song.
gp4::Bytes TypicalSong(std::uint32_t measureCount);

// 2,000 measures over 16 tracks of dense eighths and sixteenths, chords of
// four to six notes, and a repeated section in every other 16 measures.
gp4::Bytes BigSong();

// 200 long measures of quartersPerMeasure quarters over 24 tracks, each
// holding four whole notes or whole rests: a measure longer than 16 quarters
// keeps the same four beats and idles to its end.
gp4::Bytes SparseSong(std::uint32_t quartersPerMeasure);

// 300 measures over 8 tracks in which a mix-table change starts almost every
// beat: a tempo change on every quarter of the first track, instrument and
// volume changes on the others.
gp4::Bytes TempoChangeSong();

// 1,000 measures over 8 tracks, about 740 KB: the size of song that hosts
// convert by the collection.
gp4::Bytes CollectionSong();

// A song of measureCount 4/4 measures over five tracks as real songs have
// them: a lead that bends, slides, picks tremolo, ties and mutes now and then,
// strummed and palm-muted rhythm chords, bass, drums, and a pad or second
// lead; a chorus in every 32 measures played twice with two endings. 24 to
// 156 measures give 10 to 100 KB.
gp4::Bytes EffectSong(std::uint32_t measureCount, std::uint32_t seed);

// Twelve effect songs of 24 to 156 measures: a batch of real-world-like songs.
std::vector<gp4::Bytes> EffectSongBatch();

// Eight measures over two tracks, about 2 KB: the smallest songs hosts meet.
gp4::Bytes SmallSong();

}  // namespace bench

#endif  // ZELTO_BENCH_BENCH_SONGS_H
