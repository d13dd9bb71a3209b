/*
 * link_test.c - a Windows host linked against zelto.dll's import library at
 * build time (no LoadLibrary): the decorated names that the header's
 * declarations produce must resolve through libzelto.dll.a, and the calls
 * must work.
 *
 *     link_test.exe SONG_FILE
 */
#include <windows.h>

#include <stdio.h>

#include "zelto.h"

int main(int argumentCount, char **arguments) {
    unsigned char *buffer = NULL;
    uint32_t size = 0;
    unsigned failures = 0;
    HMODULE module = GetModuleHandleA("zelto.dll");

    if (argumentCount != 2) {
        fprintf(stderr, "usage: link_test SONG_FILE\n");
        return 2;
    }
    if (module == NULL) {
        fprintf(stderr, "link_test: zelto.dll was not loaded with the program\n");
        ++failures;
    }
    ZELTO_Init();
    if (ZELTO_Load(NULL) != 0 || ZELTO_GetTitle() != NULL || ZELTO_GetTrackCount() != 0) {
        fprintf(stderr, "link_test: with no song loaded the queries must give 0\n");
        ++failures;
    }
    if (ZELTO_Load(arguments[1]) != 1) {
        fprintf(stderr, "link_test: %s did not load\n", arguments[1]);
        ++failures;
    } else {
        if (ZELTO_CreateMidiBuffer(&buffer, &size) != 1 || buffer == NULL || size < 14 ||
            buffer[0] != 'M' || buffer[1] != 'T' || buffer[2] != 'h' || buffer[3] != 'd') {
            fprintf(stderr, "link_test: the MIDI export of %s failed\n", arguments[1]);
            ++failures;
        }
        ZELTO_Unload();
        ZELTO_DestroyMidiBuffer(buffer);
    }
    ZELTO_Free();
    printf("link_test: %s\n", failures == 0 ? "passed" : "FAILED");
    return failures == 0 ? 0 : 1;
}
