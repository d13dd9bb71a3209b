/*
 * zelto_exports.h - the one list of the library's 48 exported functions.
 *
 * Each entry is ZELTO_EXPORT(group, result, name, parameters, argumentBytes):
 *   group          Lifecycle, Query or Midi: which part of the library implements it
 *   result         the C result type
 *   name           the plain export name
 *   parameters     the parenthesised C parameter list
 *   argumentBytes  bytes of arguments on the 32-bit Windows stack; the decorated
 *                  export name is the plain name, "@" and this number
 *
 * The public header expands this list into prototypes; the Windows build
 * derives its module-definition file (plain and decorated names, ordinals in
 * byte-wise order of the plain names) from it, and the tests resolve every
 * entry in the built library. Add or rename a function here and nowhere else.
 *
 * Deliberately without an include guard: it is expanded once per use.
 */

/* Library lifecycle and loading. */
ZELTO_EXPORT(Lifecycle, void,        ZELTO_Init,   (void),             0)
ZELTO_EXPORT(Lifecycle, int,         ZELTO_Load,   (const char *path), 4)
ZELTO_EXPORT(Lifecycle, void,        ZELTO_Unload, (void),             0)
ZELTO_EXPORT(Lifecycle, void,        ZELTO_Free,   (void),             0)

/* Song information and lyrics. */
ZELTO_EXPORT(Query, const char *, ZELTO_GetTitle,           (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetSubtitle,        (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetInterpret,       (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetAlbum,           (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetAuthor,          (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetCopyright,       (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetTabAuthor,       (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetInstructions,    (void),          0)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetNoticeLineCount, (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetNoticeLine,      (uint32_t line), 4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_IsTripletFeelEnabled, (void),        0)
ZELTO_EXPORT(Query, int32_t,      ZELTO_GetLyricsTrack,     (void),          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetLyricsLine,      (uint32_t line), 4)

/* Piece information and the MIDI channel table. */
ZELTO_EXPORT(Query, uint32_t, ZELTO_GetTempo,  (void), 0)
ZELTO_EXPORT(Query, int32_t,  ZELTO_GetKey,    (void), 0)
ZELTO_EXPORT(Query, int32_t,  ZELTO_GetOctave, (void), 0)
ZELTO_EXPORT(Query, const ZELTO_MidiChannelInfo *, ZELTO_GetMidiChannel,
             (uint32_t port, uint32_t channel), 8)

/* Measure headers. */
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetMeasureCount,                (void),             0)
ZELTO_EXPORT(Query, int,          ZELTO_IsMeasureKeyNumeratorPresent,   (uint32_t measure), 4)
ZELTO_EXPORT(Query, int,          ZELTO_IsMeasureKeyDenominatorPresent, (uint32_t measure), 4)
ZELTO_EXPORT(Query, int,          ZELTO_IsMeasureBeginRepeatPresent,    (uint32_t measure), 4)
ZELTO_EXPORT(Query, int,          ZELTO_IsMeasureEndRepeatPresent,      (uint32_t measure), 4)
ZELTO_EXPORT(Query, int,          ZELTO_IsMeasureMarkerPresent,         (uint32_t measure), 4)
ZELTO_EXPORT(Query, int,          ZELTO_IsMeasureTonalityPresent,       (uint32_t measure), 4)
ZELTO_EXPORT(Query, int,          ZELTO_IsMeasureDoubleBarPresent,      (uint32_t measure), 4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetMeasureKeyNumerator,         (uint32_t measure), 4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetMeasureKeyDenominator,       (uint32_t measure), 4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetMeasureRepeatCount,          (uint32_t measure), 4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetMeasureAltEndingCount,       (uint32_t measure), 4)
ZELTO_EXPORT(Query, const char *, ZELTO_GetMeasureMarkerText,           (uint32_t measure), 4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetMeasureMarkerColor,          (uint32_t measure), 4)
ZELTO_EXPORT(Query, int32_t,      ZELTO_GetMeasureTonality,             (uint32_t measure), 4)

/* Tracks. */
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetTrackCount,              (void),                          0)
ZELTO_EXPORT(Query, const char *, ZELTO_GetTrackName,               (uint32_t track),                4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetTrackStringCount,        (uint32_t track),                4)
ZELTO_EXPORT(Query, int32_t,      ZELTO_GetTrackTuning,             (uint32_t track, uint32_t string), 8)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetTrackMidiPort,           (uint32_t track),                4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetTrackMidiChannel,        (uint32_t track),                4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetTrackEffectsMidiChannel, (uint32_t track),                4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetTrackFretCount,          (uint32_t track),                4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetTrackCapoHeight,         (uint32_t track),                4)
ZELTO_EXPORT(Query, uint32_t,     ZELTO_GetTrackColor,              (uint32_t track),                4)

/* MIDI export. */
ZELTO_EXPORT(Midi, int,  ZELTO_CreateMidiBuffer,  (unsigned char **buffer, uint32_t *size), 8)
ZELTO_EXPORT(Midi, void, ZELTO_DestroyMidiBuffer, (unsigned char *buffer),                   4)
