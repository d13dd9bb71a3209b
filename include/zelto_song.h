/*
 * zelto_song.h - songs as handles: any number of Guitar Pro 4 songs open at
 * once, each read whole (beats, notes and every effect) and rendered as a
 * Standard MIDI File. Exported by the shared library (libzelto.so).
 *
 *     ZELTO_Song *song;
 *     int32_t result = ZELTO_SongOpen("song.gp4", &song);
 *     if (result != ZELTO_SONG_OK) {
 *         fprintf(stderr, "%s\n", ZELTO_SongResultText(result));
 *         return;
 *     }
 *     ZELTO_SongInfo info;
 *     ZELTO_SongGetInfo(song, &info);
 *     for (uint32_t m = 0; m < info.measureCount; ++m)
 *         for (uint32_t t = 0; t < info.trackCount; ++t) {
 *             ZELTO_SongBeat beats[64]; uint32_t beatCount;
 *             ZELTO_SongNote notes[448]; uint32_t noteCount;
 *             if (ZELTO_SongGetBeats(song, t, m, 1, beats, 64, &beatCount,
 *                                    notes, 448, &noteCount, NULL))
 *                 ... beats[b].firstNote, beats[b].noteCount index notes ...
 *         }
 *     ZELTO_SongClose(song);
 *
 * Rules common to every function of this header:
 *
 * - A ZELTO_Song is opaque. ZELTO_SongOpen makes one, ZELTO_SongClose
 *   releases it and everything reachable from it; nothing else frees it.
 * - Every index is an unsigned 32-bit value counted from 0, except a string
 *   of a track, which is counted from 1 (string 1 is the first, highest
 *   string; a track has at most 7). An index out of range, a null song or a
 *   null output pointer makes a function return 0 (or null) and leaves the
 *   caller's outputs untouched, unless the function says otherwise.
 * - The accessors return 1 when they filled the caller's record and 0 when
 *   there is nothing to fill (out of range, or the song does not hold that
 *   block); they never allocate.
 * - Strings (const char *) point into the song: 8-bit text as the file holds
 *   it, ending in a zero byte, valid until ZELTO_SongClose; never free them.
 *   A null string is absent from the file.
 * - Records hold fixed-size integer fields only (and string pointers). They
 *   keep their layout in every later version; new data comes in new records
 *   and functions.
 * - MIDI buffers made by ZELTO_SongCreateMidiBuffer belong to the caller
 *   and are released with ZELTO_DestroyMidiBuffer (zelto.h); they do not
 *   depend on the song and stay valid after it is closed.
 * - Threads: different songs may be opened, read, rendered and closed on
 *   different threads at the same time. One song may be read and rendered
 *   from several threads at once (each rendering gets the same bytes as
 *   alone); only ZELTO_SongClose must wait until every other call on the
 *   song has returned. The global song of zelto.h is a separate song, with
 *   its one-thread rule.
 */
#ifndef ZELTO_SONG_H
#define ZELTO_SONG_H

#include <stdint.h>

#include "zelto.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Results of ZELTO_SongOpen and ZELTO_SongCreateMidiBuffer. */
#define ZELTO_SONG_OK 0
#define ZELTO_SONG_INVALID_ARGUMENT 1 /* a null path, pointer or song, or an unknown rendering */
#define ZELTO_SONG_CANNOT_OPEN 2      /* the file does not exist or cannot be opened */
#define ZELTO_SONG_OTHER_VERSION 3    /* not a Guitar Pro 4.00 or 4.06 file */
#define ZELTO_SONG_CUT_OFF 4          /* the file ends before the song it announces */
#define ZELTO_SONG_DAMAGED 5          /* the file holds a value the format does not allow */
#define ZELTO_SONG_OUT_OF_MEMORY 6    /* the song or the rendering did not fit in memory */
#define ZELTO_SONG_TOO_LONG 7         /* the rendering passes the render limits or the caller's size budget */
#define ZELTO_SONG_CANNOT_READ 8      /* the file opened but cannot be read: a folder, or a read error */
#define ZELTO_SONG_EMPTY 9            /* the file holds no byte */

/* The limit a rendering refused with ZELTO_SONG_TOO_LONG passed
 * (ZELTO_SongCreateMidiBufferWithin). */
#define ZELTO_SONG_LIMIT_NONE 0     /* none: the rendering succeeded, or failed otherwise */
#define ZELTO_SONG_LIMIT_TICKS 1    /* it lasts more than 268435455 ticks */
#define ZELTO_SONG_LIMIT_MEASURES 2 /* it plays more than 16777216 measures, each counted once per
                                       track and once for the tempo track */
#define ZELTO_SONG_LIMIT_EVENTS 3   /* its events might pass 2^28 bytes (plain), or it plays more
                                       than 16777216 events (performed) */
#define ZELTO_SONG_LIMIT_TEXT 4     /* its title, track names and markers pass 2^26 bytes (performed) */
#define ZELTO_SONG_LIMIT_TRACKS 5   /* it has more tracks than one MIDI file holds */
#define ZELTO_SONG_LIMIT_SIZE 6     /* the file would be larger than the caller's largestSize */

/* The plain rendering of ZELTO_CreateMidiBuffer, and the performed one. */
#define ZELTO_SONG_MIDI_PLAIN 0
#define ZELTO_SONG_MIDI_PERFORMED 1

typedef struct ZELTO_Song ZELTO_Song;

/* The song information, the lyrics track and the piece information. */
typedef struct ZELTO_SongInfo {
    const char *version; /* "FICHIER GUITAR PRO v4.00" or "... v4.06" */
    const char *title;
    const char *subtitle;
    const char *interpret; /* the performing artist */
    const char *album;
    const char *author;
    const char *copyright;
    const char *tabAuthor;
    const char *instructions;
    uint32_t noticeLineCount;
    uint32_t tripletFeel; /* the stored byte; only 1 means on */
    int32_t lyricsTrack;
    uint32_t tempo; /* quarter notes per minute */
    int32_t key;    /* key signature, signed */
    int32_t octave;
    uint32_t measureCount;
    uint32_t trackCount;
} ZELTO_SongInfo;

/* One measure header. A value whose flag bit is clear is 0. */
typedef struct ZELTO_SongMeasure {
    uint32_t flags; /* 0x01 numerator, 0x02 denominator, 0x04 begin repeat, 0x08 end repeat,
                       0x10 alternative ending, 0x20 marker, 0x40 tonality, 0x80 double bar */
    uint32_t keyNumerator;   /* time signature, where it changes */
    uint32_t keyDenominator;
    uint32_t repeatCount;
    uint32_t altEndingCount;
    int32_t tonality;
    uint32_t tonalityType;
    const char *markerText;  /* null without a marker */
    uint32_t markerColor;    /* little-endian bytes: red = color & 0xFF */
} ZELTO_SongMeasure;

/* One track. */
typedef struct ZELTO_SongTrack {
    const char *name;
    uint32_t flags;
    uint32_t stringCount;
    int32_t tunings[7]; /* MIDI note of strings 1 to 7, all seven as stored */
    uint32_t midiPort;  /* 1-based */
    uint32_t midiChannel;        /* 1-based */
    uint32_t effectsMidiChannel; /* 1-based */
    uint32_t fretCount;
    uint32_t capoHeight;
    uint32_t color;
} ZELTO_SongTrack;

/* One beat of a track in a measure. Its notes are noteCount records from
 * firstNote on in the note array that ZELTO_SongGetBeats fills with it. */
typedef struct ZELTO_SongBeat {
    uint32_t flags;   /* 0x01 dotted, 0x02 chord diagram, 0x04 text, 0x08 beat effects,
                         0x10 mix-table change, 0x20 tuplet, 0x40 status */
    uint32_t status;  /* with flag 0x40: 0 empty beat, 2 rest */
    int32_t duration; /* note-value code: -2 whole, -1 half, 0 quarter, ... 4 sixty-fourth */
    int32_t tuplet;   /* n of an n-tuplet with flag 0x20, else 0 */
    uint32_t stringFlags; /* bit (7 - s) set: string s holds a note */
    uint32_t firstNote;
    uint32_t noteCount;
    uint32_t measure;     /* the measure the beat is in */
} ZELTO_SongBeat;

/* One note: its own fields and the one-byte fields of its note effects.
 * Bends have their own accessor, ZELTO_SongGetBend. */
typedef struct ZELTO_SongNote {
    uint32_t string;  /* 1 to 7 */
    uint32_t flags;   /* 0x01 own duration, 0x08 effects, 0x10 dynamic, 0x20 type and fret,
                         0x80 fingering; the other bits as stored */
    uint32_t noteType; /* 1 normal, 2 tie, 3 dead; 0 when not given */
    uint32_t fret;
    uint32_t dynamic;  /* 1 softest to 8 loudest; 0 when not given */
    int32_t timeIndependentDuration;
    uint32_t timeIndependentTuplet;
    int32_t leftFingering;
    int32_t rightFingering;
    uint32_t effectFlags1; /* 0 without effects: 0x01 bend, 0x02 hammer-on or pull-off,
                              0x08 let ring, 0x10 grace note */
    uint32_t effectFlags2; /* 0x01 staccato, 0x02 palm mute, 0x04 tremolo picking, 0x08 slide,
                              0x10 harmonic, 0x20 trill, 0x40 vibrato */
    uint32_t graceFret;
    uint32_t graceDynamic;
    uint32_t graceTransition;
    uint32_t graceDuration;
    uint32_t tremoloPicking;
    uint32_t slide;
    uint32_t harmonic;
    uint32_t trillFret;
    uint32_t trillPeriod;
} ZELTO_SongNote;

/* A bend or tremolo-bar curve, and its points. */
typedef struct ZELTO_SongBend {
    uint32_t bendType;
    int32_t bendValue;
    uint32_t pointCount;
} ZELTO_SongBend;

typedef struct ZELTO_SongBendPoint {
    int32_t position;
    int32_t value;
    uint32_t vibrato;
} ZELTO_SongBendPoint;

typedef struct ZELTO_SongBeatEffect {
    uint32_t flags1; /* 0x01 vibrato, 0x02 wide vibrato, 0x10 fade in, 0x20 tapping, 0x40 stroke */
    uint32_t flags2; /* 0x01 rasgueado, 0x02 pick stroke, 0x04 tremolo bar */
    uint32_t tappingType;
    uint32_t strokeSpeeds[2]; /* the two stroke bytes, in file order */
    uint32_t pickStroke;
} ZELTO_SongBeatEffect;

/* A mix-table change: 0xFF (tempo -1) means no change. */
typedef struct ZELTO_SongMixTableChange {
    uint32_t instrument;
    uint32_t volume;
    uint32_t balance;
    uint32_t chorus;
    uint32_t reverb;
    uint32_t phaser;
    uint32_t tremolo;
    int32_t tempo;
    uint32_t volumeDuration;
    uint32_t balanceDuration;
    uint32_t chorusDuration;
    uint32_t reverbDuration;
    uint32_t phaserDuration;
    uint32_t tremoloDuration;
    uint32_t tempoDuration;
    uint32_t applyToAllTracks; /* 0x01 volume, 0x02 balance, 0x04 chorus, 0x08 reverb,
                                  0x10 phaser, 0x20 tremolo */
} ZELTO_SongMixTableChange;

/* A chord diagram. A short one (format 0) holds only name, baseFret and the
 * frets of strings 1 to 6; every other field is 0. */
typedef struct ZELTO_SongChordDiagram {
    const char *name;
    uint32_t format; /* 0 short, 1 long */
    uint32_t sharp;
    uint32_t root;
    uint32_t chordType;
    uint32_t extension;
    int32_t bass;
    int32_t tonality;
    uint32_t add;
    uint32_t fifth;
    uint32_t ninth;
    uint32_t eleventh;
    int32_t baseFret;
    int32_t frets[7]; /* strings 1 to 7; -1 not played */
    uint32_t barreCount;
    uint32_t barreFrets[5];
    uint32_t barreStarts[5];
    uint32_t barreEnds[5];
    uint32_t omissions[7];
    int32_t fingerings[7];
    uint32_t showFingering;
} ZELTO_SongChordDiagram;

/* Opens and reads the song file at path. ZELTO_SONG_OK with *song set to a
 * new handle; any other result with *song set to null (when song is not
 * null) and nothing held. The file is closed again before it returns. */
ZELTO_API int32_t ZELTO_SongOpen(const char *path, ZELTO_Song **song);

/* Releases the song and everything it holds; a null song is allowed. */
ZELTO_API void ZELTO_SongClose(ZELTO_Song *song);

/* An English sentence for a result code, never null; static storage. */
ZELTO_API const char *ZELTO_SongResultText(int32_t result);

ZELTO_API int32_t ZELTO_SongGetInfo(const ZELTO_Song *song, ZELTO_SongInfo *info);
/* Notice line 0 to noticeLineCount - 1; lyrics line 0 to 4 (null also for a
 * line the file could not hold). */
ZELTO_API const char *ZELTO_SongGetNoticeLine(const ZELTO_Song *song, uint32_t line);
ZELTO_API const char *ZELTO_SongGetLyricsLine(const ZELTO_Song *song, uint32_t line);
/* The channel-table entry of port 0 to 3, channel 0 to 15 (both 0-based). */
ZELTO_API int32_t ZELTO_SongGetMidiChannel(const ZELTO_Song *song, uint32_t port, uint32_t channel,
                                           ZELTO_MidiChannelInfo *entry);
ZELTO_API int32_t ZELTO_SongGetMeasure(const ZELTO_Song *song, uint32_t measure, ZELTO_SongMeasure *header);
ZELTO_API int32_t ZELTO_SongGetTrack(const ZELTO_Song *song, uint32_t track, ZELTO_SongTrack *record);

/* The beats of one track in measureCount measures from firstMeasure on, in
 * playing order, and their notes (strings that hold a note only, string 1
 * first within a beat), in two arrays of the caller's; with measureStarts
 * (measureCount + 1 entries, or null) the index of each measure's first beat
 * and, last, the number of beats. One measure's beats are a range of 1.
 * Returns 1 with the arrays filled. With a valid track and range it always
 * writes *beatCount and *noteCount, the sizes the arrays need; when either
 * array is too small (or null) it fills nothing else and returns 0, so a
 * call with capacities 0 asks for the sizes. */
ZELTO_API int32_t ZELTO_SongGetBeats(const ZELTO_Song *song, uint32_t track, uint32_t firstMeasure,
                                     uint32_t measureCount, ZELTO_SongBeat *beats, uint32_t beatCapacity,
                                     uint32_t *beatCount, ZELTO_SongNote *notes, uint32_t noteCapacity,
                                     uint32_t *noteCount, uint32_t *measureStarts);

/* The blocks a beat may carry; 0 when the beat does not carry it. */
ZELTO_API const char *ZELTO_SongGetBeatText(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                            uint32_t beat);
ZELTO_API int32_t ZELTO_SongGetBeatEffect(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                          uint32_t beat, ZELTO_SongBeatEffect *effect);
ZELTO_API int32_t ZELTO_SongGetMixTableChange(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                              uint32_t beat, ZELTO_SongMixTableChange *change);
ZELTO_API int32_t ZELTO_SongGetChordDiagram(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                            uint32_t beat, ZELTO_SongChordDiagram *chord);

/* The bend of the note on string 1 to 7 of a beat, or the beat's tremolo-bar
 * curve: fills *bend and the first min(pointCapacity, bend->pointCount)
 * points (points may be null when pointCapacity is 0). 0 without a curve. */
ZELTO_API int32_t ZELTO_SongGetBend(const ZELTO_Song *song, uint32_t measure, uint32_t track, uint32_t beat,
                                    uint32_t string, ZELTO_SongBend *bend, ZELTO_SongBendPoint *points,
                                    uint32_t pointCapacity);
ZELTO_API int32_t ZELTO_SongGetTremoloBar(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                          uint32_t beat, ZELTO_SongBend *bend, ZELTO_SongBendPoint *points,
                                          uint32_t pointCapacity);

/* Renders the song as a Standard MIDI File of format 1 (480 ticks per
 * quarter note) in one new buffer: ZELTO_SONG_MIDI_PLAIN gives the bytes of
 * ZELTO_CreateMidiBuffer, ZELTO_SONG_MIDI_PERFORMED the performed rendering.
 * ZELTO_SONG_OK with *buffer and *size set; the caller releases the buffer
 * with ZELTO_DestroyMidiBuffer. Any other result leaves *buffer null and
 * *size 0 (when the pointers are not null). */
ZELTO_API int32_t ZELTO_SongCreateMidiBuffer(ZELTO_Song *song, uint32_t rendering, unsigned char **buffer,
                                             uint32_t *size);

/* ZELTO_SongCreateMidiBuffer within a size budget, for hosts that bound
 * their work before it starts (a song of a few kilobytes may render to
 * hundreds of megabytes): a rendering whose file would be larger than
 * largestSize bytes is refused with ZELTO_SONG_TOO_LONG, and stops as soon as
 * the file it builds passes the budget (the plain rendering after the
 * measure, the performed one after the track's measure that passes it), so
 * its memory and time stay near the budget. largestSize 0 sets no budget.
 * With limit not null, *limit is set to the ZELTO_SONG_LIMIT_ value of the
 * limit a ZELTO_SONG_TOO_LONG rendering passed, else ZELTO_SONG_LIMIT_NONE. */
ZELTO_API int32_t ZELTO_SongCreateMidiBufferWithin(ZELTO_Song *song, uint32_t rendering, uint32_t largestSize,
                                                   unsigned char **buffer, uint32_t *size, uint32_t *limit);

#ifdef __cplusplus
}
#endif

#endif /* ZELTO_SONG_H */
