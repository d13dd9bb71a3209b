/*
 * export_songs.c - the Linux counterpart of host_test.exe: runs the same
 * song dump through libzelto, linked at build time, so that the two
 * platforms' text and MIDI files can be compared byte for byte.
 *
 *     windows_export_songs SONG_DIRECTORY OUTPUT_DIRECTORY
 */
#include <stdio.h>

#include "song_dump.h"
#include "zelto_table.h"

int main(int argumentCount, char **arguments) {
    ZeltoFunctions functions;
    int failures;

    if (argumentCount != 3) {
        fprintf(stderr, "usage: windows_export_songs SONG_DIRECTORY OUTPUT_DIRECTORY\n");
        return 2;
    }
#define ZELTO_EXPORT(group, result, name, parameters, argumentBytes) functions.name = name;
#include "zelto_exports.h"
#undef ZELTO_EXPORT

    failures = ZeltoDumpSongList(&functions, arguments[1], arguments[2]);
    if (failures != 0) {
        fprintf(stderr, "windows_export_songs: %d songs could not be dumped\n", failures);
        return 1;
    }
    return 0;
}
