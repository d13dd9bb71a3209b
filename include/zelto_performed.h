/*
 * zelto_performed.h - the performed MIDI rendering of the loaded song, for
 * hosts of libzelto.so (the Windows DLL does not export it).
 *
 * ZELTO_CreateMidiBuffer (zelto.h) renders the song plainly: every ending on
 * every pass, tied and dead notes silent, no capo, no effects. The performed
 * rendering plays it as a guitarist would: alternative endings on their
 * passes, ties held across beats and bar lines, the capo added, dead notes,
 * accents, ghost notes, palm mute, staccato, let ring and hammer-ons heard,
 * grace notes, tremolo picking, trills and harmonics sounded, percussion
 * tracks on channel 10, and the channel table's pan, chorus, reverb, phaser
 * and tremolo sent. Same division (480), conductor track and track layout.
 */
#ifndef ZELTO_PERFORMED_H
#define ZELTO_PERFORMED_H

#include "zelto.h"

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The same contract as ZELTO_CreateMidiBuffer: 0 with *buffer and *size
 * untouched when no song is loaded, when buffer or size is null, when the
 * song has too many tracks for one file or when the model cannot be set up; otherwise 1 with the buffer and
 * its size, or with a null buffer and size 0 when the song cannot be rendered
 * within the render limits or the buffer cannot be allocated. Give the buffer
 * back with ZELTO_DestroyMidiBuffer.
 */
ZELTO_API int ZELTO_CALL ZELTO_CreatePerformedMidiBuffer(unsigned char **buffer, uint32_t *size);

#ifdef __cplusplus
}
#endif

#endif /* ZELTO_PERFORMED_H */
