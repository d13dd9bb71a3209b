// performed_export.cpp - the performed MIDI rendering of the loaded song in
// one heap buffer, exported by the shared object beside the plain export.
#include <cstdint>

#include "gp/perform.h"
#include "zelto/render.h"
#include "zelto_performed.h"

extern "C" {

ZELTO_API int ZELTO_CALL ZELTO_CreatePerformedMidiBuffer(unsigned char **buffer, uint32_t *size) {
    return Talvoren::CreateRenderedMidiBuffer(Talvoren::ToPerformedMidiWithin, buffer, size);
}

}  // extern "C"
