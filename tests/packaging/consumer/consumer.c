/*
 * consumer.c - a small host built against an installed zelto: loads the song
 * named on its command line, prints its title and track count, renders it
 * to a MIDI file in memory and checks the file's first bytes.
 */
#include <stdio.h>
#include <string.h>

#include <zelto.h>

int main(int argc, char **argv) {
    unsigned char *midi = NULL;
    uint32_t size = 0;
    int rendered;

    if (argc != 2) {
        fprintf(stderr, "usage: consumer SONG.gp4\n");
        return 2;
    }
    ZELTO_Init();
    if (!ZELTO_Load(argv[1])) {
        fprintf(stderr, "consumer: cannot load %s\n", argv[1]);
        return 1;
    }
    printf("title: %s\n", ZELTO_GetTitle() ? ZELTO_GetTitle() : "(none)");
    printf("tracks: %u\n", (unsigned)ZELTO_GetTrackCount());
    rendered = ZELTO_CreateMidiBuffer(&midi, &size) && midi != NULL && size >= 14 &&
               memcmp(midi, "MThd", 4) == 0;
    ZELTO_DestroyMidiBuffer(midi);
    ZELTO_Unload();
    if (!rendered) {
        fprintf(stderr, "consumer: no MIDI file\n");
        return 1;
    }
    printf("midi: %u bytes\n", (unsigned)size);
    return 0;
}
