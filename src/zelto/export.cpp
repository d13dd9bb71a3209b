// export.cpp - the MIDI export entry points: the loaded song as a Standard
// MIDI File of format 1 in one heap buffer, and the release of that buffer.
#include <cstdint>

#include "gp/convert.h"
#include "gp/song.h"
#include "mid/midi.h"
#include "zelto.h"
#include "zelto/global.h"
#include "zelto/render.h"

namespace {

constexpr std::uint32_t ticksPerQuarter = 480;
constexpr std::uint32_t pulsesPerSixtyFourth = ticksPerQuarter / 16;  // one pulse is one tick
// The file's track count is 16 bits and holds one chunk more than the song has tracks.
constexpr std::uint32_t largestSongTrackCount = 0xFFFF - 1;

}  // namespace

using namespace Talvoren;

int Talvoren::CreateRenderedMidiBuffer(SongRendering render, unsigned char **buffer, std::uint32_t *size) {
    FileStruct *song = theFileStruct;
    if (song == nullptr) return 0;
    const std::uint32_t trackCount = song->headers.pieceInfo.trackCount;
    if (trackCount > largestSongTrackCount) return 0;

    MidiFileStruct midi;
    if (!InitMidiFileStruct(&midi, trackCount + 1, ticksPerQuarter)) return 0;
    if (render(song, &midi, pulsesPerSixtyFourth)) {
        Byte *made = nullptr;
        const std::uint32_t madeSize = CreateMidiBuffer(&midi, &made);
        *buffer = reinterpret_cast<unsigned char *>(made);
        *size = made == nullptr ? 0 : madeSize;
    } else {
        *buffer = nullptr;
        *size = 0;
    }
    FreeMidiFileStruct(&midi);
    return 1;
}

extern "C" {

// 0 with the host's variables untouched when no song is loaded, when the song
// has too many tracks for one file, or when the model cannot be set up.
// Otherwise 1, with the buffer and its size, or with a null buffer and size 0
// when the song cannot be rendered within the render limits or the buffer
// cannot be allocated.
ZELTO_API int ZELTO_CALL ZELTO_CreateMidiBuffer(unsigned char **buffer, uint32_t *size) {
    return CreateRenderedMidiBuffer(ToMidi, buffer, size);
}

ZELTO_API void ZELTO_CALL ZELTO_DestroyMidiBuffer(unsigned char *buffer) {
    DestroyMidiBuffer(reinterpret_cast<Byte *>(buffer));
}

}  // extern "C"
