/*
 * zelto_musicxml.h - a song as a MusicXML 4.0 document (score-partwise,
 * uncompressed, UTF-8), for notation programs: one part per track, fretted
 * tracks on a notation staff and a tablature staff with every note's string
 * and fret, percussion tracks on a percussion staff. Exported by the shared
 * library (libzelto.so); the Windows DLL does not export it.
 *
 *     unsigned char *xml; uint32_t size;
 *     if (ZELTO_SongCreateMusicXml(song, &xml, &size) == ZELTO_SONG_OK) {
 *         fwrite(xml, 1, size, out);
 *         ZELTO_DestroyMidiBuffer(xml);
 *     }
 *
 * The rules of zelto_song.h hold.
 */
#ifndef ZELTO_MUSICXML_H
#define ZELTO_MUSICXML_H

#include <stdint.h>

#include "zelto_song.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the song as MusicXML in one new buffer: ZELTO_SONG_OK with *buffer
 * and *size set; the buffer belongs to the caller, who releases it with
 * ZELTO_DestroyMidiBuffer (zelto.h), the release of every buffer the library
 * hands out. The same song gives the same bytes every time. Any other result
 * (ZELTO_SONG_INVALID_ARGUMENT, ZELTO_SONG_OUT_OF_MEMORY, or
 * ZELTO_SONG_TOO_LONG past 2 GB) leaves *buffer null and *size 0 (when the
 * pointers are not null). The song is only read: several threads may export
 * one song at once. */
ZELTO_API int32_t ZELTO_SongCreateMusicXml(const ZELTO_Song *song, unsigned char **buffer, uint32_t *size);

#ifdef __cplusplus
}
#endif

#endif /* ZELTO_MUSICXML_H */
