/* song_handle_c_host.c - a host written in C99 against zelto_song.h: opens a
 * song, counts its notes over every measure and track, renders it, and
 * returns 0 when everything answered as a host expects. */
#include <stdlib.h>

#include "zelto_song.h"

int ZeltoSongHandleCHost(const char *path);

int ZeltoSongHandleCHost(const char *path) {
    ZELTO_Song *song = NULL;
    ZELTO_SongInfo info;
    uint32_t measure, track, notesSeen = 0;
    unsigned char *midi = NULL;
    uint32_t midiSize = 0;
    int failures = 0;

    if (ZELTO_SongOpen(path, &song) != ZELTO_SONG_OK) return 1;
    if (!ZELTO_SongGetInfo(song, &info)) failures++;
    for (measure = 0; measure < info.measureCount; ++measure) {
        for (track = 0; track < info.trackCount; ++track) {
            uint32_t beatCount = 0, noteCount = 0;
            ZELTO_SongBeat *beats;
            ZELTO_SongNote *notes;
            ZELTO_SongGetBeats(song, track, measure, 1, NULL, 0, &beatCount, NULL, 0, &noteCount, NULL);
            beats = malloc((beatCount + 1) * sizeof *beats);
            notes = malloc((noteCount + 1) * sizeof *notes);
            if (beats == NULL || notes == NULL ||
                !ZELTO_SongGetBeats(song, track, measure, 1, beats, beatCount, &beatCount, notes, noteCount, &noteCount, NULL))
                failures++;
            else
                notesSeen += noteCount;
            free(beats);
            free(notes);
        }
    }
    if (notesSeen == 0) failures++;
    if (ZELTO_SongCreateMidiBuffer(song, ZELTO_SONG_MIDI_PLAIN, &midi, &midiSize) != ZELTO_SONG_OK || midiSize < 14)
        failures++;
    ZELTO_DestroyMidiBuffer(midi);
    ZELTO_SongClose(song);
    return failures;
}
