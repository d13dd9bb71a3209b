/*
 * zelto.h - the public C interface of the zelto library.
 *
 * zelto reads one Guitar Pro 4 song at a time and offers it to the host as
 * query functions and as a Standard MIDI File (format 1) in one buffer:
 *
 *     ZELTO_Init();
 *     if (ZELTO_Load("song.gp4")) {
 *         printf("%s\n", ZELTO_GetTitle());
 *         unsigned char *midi; uint32_t size;
 *         if (ZELTO_CreateMidiBuffer(&midi, &size) && midi) {
 *             fwrite(midi, 1, size, out);
 *             ZELTO_DestroyMidiBuffer(midi);
 *         }
 *         ZELTO_Unload();
 *     }
 *
 * Rules common to the queries: with no song loaded every query returns 0 or
 * null; every index is an unsigned 32-bit value counted from 0 and an index
 * out of range gives 0 or null; returned strings and channel entries point
 * into the loaded song and stay valid until ZELTO_Unload or ZELTO_Free.
 * ZELTO_CreateMidiBuffer returns 0 and writes nothing when either pointer
 * is null. The library keeps one global song and takes no locks: call it
 * from one thread at a time.
 */
#ifndef ZELTO_H
#define ZELTO_H

#include <stdint.h>

/* The standard calling convention of 32-bit Windows; empty elsewhere. */
#if defined(_WIN32) && !defined(_WIN64)
#define ZELTO_CALL __stdcall
#else
#define ZELTO_CALL
#endif

#if defined(_WIN32)
#define ZELTO_API
#elif defined(ZELTO_BUILDING_LIBRARY)
#define ZELTO_API __attribute__((visibility("default")))
#else
#define ZELTO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * One entry of the song's MIDI channel table (4 ports x 16 channels), exactly
 * 12 bytes, packed, as ZELTO_GetMidiChannel hands it out.
 */
#pragma pack(push, 1)
typedef struct ZELTO_MidiChannelInfo {
    int32_t instrument;  /* MIDI program number */
    uint8_t volume;      /* channel volume, 0 to 15 in practice */
    uint8_t balance;
    uint8_t chorus;
    uint8_t reverb;
    uint8_t phaser;
    uint8_t tremolo;
    uint8_t filler[2];
} ZELTO_MidiChannelInfo;
#pragma pack(pop)

#define ZELTO_EXPORT(group, result, name, parameters, argumentBytes) \
    ZELTO_API result ZELTO_CALL name parameters;
#include "zelto_exports.h"
#undef ZELTO_EXPORT

#ifdef __cplusplus
}
#endif

#endif /* ZELTO_H */
