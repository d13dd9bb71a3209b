// export.cpp - the MIDI export entry points: the loaded song as a Standard
// MIDI File of format 1 in one heap buffer, and the release of that buffer.
#include <cstdint>

#include "gp/convert.h"
#include "mid/midi.h"
#include "zelto.h"
#include "zelto/global.h"
#include "zelto/render.h"
#include "zelto/song_access.h"

using namespace Talvoren;

int Talvoren::CreateRenderedMidiBuffer(SongRendering render, unsigned char **buffer, std::uint32_t *size) {
    // The host passes two valid addresses; a null one is refused, as the song
    // handles refuse it, before any work is done.
    if (buffer == nullptr || size == nullptr) return 0;
    unsigned char *made = nullptr;
    std::uint32_t madeSize = 0;
    const RenderOutcome outcome = RenderSongMidi(theFileStruct, render, &made, &madeSize);
    if (outcome == RenderOutcome::SetUpFailed || outcome == RenderOutcome::TooManyTracks) return 0;
    *buffer = made;
    *size = madeSize;
    return 1;
}

extern "C" {

// 0 with the host's variables untouched when no song is loaded, when either
// pointer is null, when the song has too many tracks for one file, or when
// the model cannot be set up. Otherwise 1, with the buffer and its size, or
// with a null buffer and size 0 when the song cannot be rendered within the
// render limits or the buffer cannot be allocated.
ZELTO_API int ZELTO_CALL ZELTO_CreateMidiBuffer(unsigned char **buffer, uint32_t *size) {
    return CreateRenderedMidiBuffer(ToMidiWithin, buffer, size);
}

ZELTO_API void ZELTO_CALL ZELTO_DestroyMidiBuffer(unsigned char *buffer) {
    DestroyMidiBuffer(reinterpret_cast<Byte *>(buffer));
}

}  // extern "C"
