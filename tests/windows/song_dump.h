/*
 * song_dump.h - runs every query and the MIDI export of the library through
 * a ZeltoFunctions record and writes the results to files, so that the DLL
 * under Windows and the shared object under Linux can be compared byte for
 * byte.
 */
#ifndef ZELTO_TESTS_WINDOWS_SONG_DUMP_H
#define ZELTO_TESTS_WINDOWS_SONG_DUMP_H

#include <stdio.h>

#include "zelto_table.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Writes every query's result for the current state (a loaded song or
 * none) as text. Returns 1, or 0 when writing failed. */
int ZeltoDumpQueries(const ZeltoFunctions *zelto, FILE *text);

/*
 * Loads songPath (after ZELTO_Init), writes "<outputStem>.txt" with the load
 * result, a second load's result, every query and the export's result and
 * size, writes the MIDI buffer to "<outputStem>.mid", checks that a second
 * export gives the same bytes, and unloads. Returns 1 when every file was
 * written and the two exports agreed, 0 otherwise (with a message on stderr).
 */
int ZeltoDumpSong(const ZeltoFunctions *zelto, const char *songPath, const char *outputStem);

/*
 * Reads "<songDirectory>/songs.txt" (one file name a line) and runs
 * ZeltoDumpSong for each song into outputDirectory, after a dump of the
 * state with no song loaded ("nosong.txt"). Returns the number of failures,
 * or -1 when the list cannot be read.
 */
int ZeltoDumpSongList(const ZeltoFunctions *zelto, const char *songDirectory,
                      const char *outputDirectory);

#ifdef __cplusplus
}
#endif

#endif /* ZELTO_TESTS_WINDOWS_SONG_DUMP_H */
