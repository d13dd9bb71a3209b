// song_access.cpp - opening, indexing and rendering a song: the one
// implementation under the global-song functions and the song handles.
#include "zelto/song_access.h"

#include <cstdio>
#include <cstring>

#include "gp/convert.h"

#include "heap.h"
#include "mid/midi.h"
#include "zelto_song.h"

namespace Talvoren {

namespace {

constexpr std::uint32_t ticksPerQuarter = 480;
constexpr std::uint32_t pulsesPerSixtyFourth = ticksPerQuarter / 16;  // one pulse is one tick
// The file's track count is 16 bits and holds one chunk more than the song has tracks.
constexpr std::uint32_t largestSongTrackCount = 0xFFFF - 1;

// The result code of a failed load.
std::int32_t LoadResult(LoadFailure failure) {
    switch (failure) {
    case LoadFailure::OtherVersion: return ZELTO_SONG_OTHER_VERSION;
    case LoadFailure::CutOff: return ZELTO_SONG_CUT_OFF;
    case LoadFailure::Damaged: return ZELTO_SONG_DAMAGED;
    case LoadFailure::None:
    case LoadFailure::OutOfMemory: break;
    }
    return ZELTO_SONG_OUT_OF_MEMORY;
}

// A load that found no song may have found no bytes: a stream that could
// not be read (a folder opens as a stream on some systems, and every read of
// it fails) or a file that holds none. Either is said as such rather than as
// another format.
std::int32_t RefineLoadResult(std::FILE *stream, std::int32_t result) {
    if (std::ferror(stream)) return ZELTO_SONG_CANNOT_READ;
    if (std::fseek(stream, 0, SEEK_END) == 0 && std::ftell(stream) == 0) return ZELTO_SONG_EMPTY;
    return result;
}

}  // namespace

std::int32_t OpenSongFile(const char *path, FileStruct **song) {
    *song = nullptr;
    if (path == nullptr) return ZELTO_SONG_INVALID_ARGUMENT;
    std::FILE *stream = std::fopen(path, "rb");
    if (stream == nullptr) return ZELTO_SONG_CANNOT_OPEN;
    FileStruct *loaded = static_cast<FileStruct *>(MemAlloc(sizeof(FileStruct)));
    std::int32_t result = ZELTO_SONG_OUT_OF_MEMORY;
    if (loaded != nullptr) {
        LoadFailure failure = LoadFailure::None;
        if (LoadFileStruct(loaded, stream, &failure)) {
            *song = loaded;
            result = ZELTO_SONG_OK;
        } else {
            MemFree(loaded);
            result = LoadResult(failure);
            if (result != ZELTO_SONG_OUT_OF_MEMORY) result = RefineLoadResult(stream, result);
        }
    }
    std::fclose(stream);
    return result;
}

void CloseSongFile(FileStruct *song) {
    if (song == nullptr) return;
    FreeFileStruct(song);
    MemFree(song);
}

const Measure *SongMeasureAt(const FileStruct *song, std::uint32_t measure) {
    if (song == nullptr || song->body.measures == nullptr) return nullptr;
    if (measure >= song->headers.pieceInfo.measureCount) return nullptr;
    return &song->body.measures[measure];
}

const Track *SongTrackAt(const FileStruct *song, std::uint32_t track) {
    if (song == nullptr || song->body.tracks == nullptr) return nullptr;
    if (track >= song->headers.pieceInfo.trackCount) return nullptr;
    return &song->body.tracks[track];
}

const char *SongNoticeLine(const FileStruct *song, std::uint32_t line) {
    if (song == nullptr) return nullptr;
    const TabInfo &info = song->headers.tabInfo;
    if (info.noticeLines == nullptr || line >= info.noticeLineCount) return nullptr;
    return info.noticeLines[line];
}

const char *SongLyricsLine(const FileStruct *song, std::uint32_t line) {
    if (song == nullptr || line >= lyricsLineCount) return nullptr;
    return song->headers.lyricsInfo.lyricsLines[line];
}

const MidiChannelInfo *SongMidiChannel(const FileStruct *song, std::uint32_t port, std::uint32_t channel) {
    if (song == nullptr || port >= midiPortCount || channel >= midiChannelCount) return nullptr;
    return &song->headers.pieceInfo.midiChannels[port][channel];
}

const MeasureTrackPair *SongPairAt(const FileStruct *song, std::uint32_t measure, std::uint32_t track) {
    if (SongMeasureAt(song, measure) == nullptr || SongTrackAt(song, track) == nullptr) return nullptr;
    if (song->body.measureTrackPairs == nullptr || song->body.measureTrackPairs[measure] == nullptr)
        return nullptr;
    return &song->body.measureTrackPairs[measure][track];
}

const Beat *SongBeatAt(const FileStruct *song, std::uint32_t measure, std::uint32_t track, std::uint32_t beat) {
    const MeasureTrackPair *pair = SongPairAt(song, measure, track);
    if (pair == nullptr || pair->beats == nullptr || beat >= pair->beatCount) return nullptr;
    return &pair->beats[beat];
}

const Note *BeatNoteOnString(const Beat &beat, std::uint32_t string) {
    if (string < 1 || string > noteSlotCount) return nullptr;
    if ((beat.stringFlags & StringBit(string - 1)) == 0) return nullptr;
    return &beat.notes[string - 1];
}

RenderOutcome RenderSongMidi(FileStruct *song, SongRendering render, unsigned char **buffer, std::uint32_t *size,
                             RenderBudget *budget) {
    if (song == nullptr) return RenderOutcome::SetUpFailed;
    const std::uint32_t trackCount = song->headers.pieceInfo.trackCount;
    if (trackCount > largestSongTrackCount) return RenderOutcome::TooManyTracks;

    MidiFileStruct midi;
    if (!InitMidiFileStruct(&midi, trackCount + 1, ticksPerQuarter)) return RenderOutcome::SetUpFailed;
    RenderOutcome outcome = RenderOutcome::ConversionFailed;
    *buffer = nullptr;
    *size = 0;
    if (render(song, &midi, pulsesPerSixtyFourth, budget)) {
        Byte *made = nullptr;
        const std::uint32_t madeSize = CreateMidiBuffer(&midi, &made);
        if (made != nullptr) {
            *buffer = reinterpret_cast<unsigned char *>(made);
            *size = madeSize;
            outcome = RenderOutcome::Rendered;
        } else {
            outcome = RenderOutcome::BufferFailed;
        }
    }
    FreeMidiFileStruct(&midi);
    return outcome;
}

RenderOutcome RenderSharedSongMidi(const FileStruct *song, SongRendering render, unsigned char **buffer,
                                   std::uint32_t *size, RenderBudget *budget) {
    if (song == nullptr) return RenderOutcome::SetUpFailed;
    // The performed rendering only reads the song.
    if (render != ToMidiWithin) return RenderSongMidi(const_cast<FileStruct *>(song), render, buffer, size, budget);
    const std::uint32_t measureCount = song->headers.pieceInfo.measureCount;
    const std::uint32_t trackCount = song->headers.pieceInfo.trackCount;
    FileStruct working = *song;  // shares the strings, beats and notes, which the conversion only reads
    Measure *measures = nullptr;
    Track *tracks = nullptr;
    RenderOutcome outcome = RenderOutcome::SetUpFailed;
    if (song->body.measures != nullptr && measureCount != 0) {
        measures = static_cast<Measure *>(MemAlloc(std::size_t{measureCount} * sizeof(Measure)));
        if (measures == nullptr) goto done;
        std::memcpy(measures, song->body.measures, std::size_t{measureCount} * sizeof(Measure));
        working.body.measures = measures;
    }
    if (song->body.tracks != nullptr && trackCount != 0) {
        tracks = static_cast<Track *>(MemAlloc(std::size_t{trackCount} * sizeof(Track)));
        if (tracks == nullptr) goto done;
        std::memcpy(tracks, song->body.tracks, std::size_t{trackCount} * sizeof(Track));
        working.body.tracks = tracks;
    }
    outcome = RenderSongMidi(&working, render, buffer, size, budget);
done:
    MemFree(tracks);
    MemFree(measures);
    return outcome;
}

}  // namespace Talvoren
