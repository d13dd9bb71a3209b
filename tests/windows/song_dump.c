/*
 * song_dump.c - every query of the loaded song, and its MIDI export, written
 * out as text and bytes through a ZeltoFunctions record.
 */
#include "song_dump.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

/* Indexes beyond this many entries are represented by the last one only. */
#define SWEEP_LIMIT 512u

/* Fills indexes with 0 .. count-1 (at most SWEEP_LIMIT of them, then the
 * last), followed by the first out-of-range values: count, count + 1, the
 * largest signed and the largest unsigned value. Returns how many. */
static unsigned SweepIndexes(uint32_t count, uint32_t *indexes) {
    unsigned used = 0;
    uint32_t index;
    for (index = 0; index < count && index < SWEEP_LIMIT; ++index) indexes[used++] = index;
    if (count > SWEEP_LIMIT) indexes[used++] = count - 1;
    indexes[used++] = count;
    if (count + 1 != 0) indexes[used++] = count + 1;
    indexes[used++] = 0x7FFFFFFFu;
    indexes[used++] = 0xFFFFFFFFu;
    return used;
}

enum { MAX_SWEEP = SWEEP_LIMIT + 5 };

/* Writes a string result: null, or the bytes in quotes with everything
 * outside printable ASCII (and the quote and backslash) as \xNN. */
static void WriteString(FILE *text, const char *value) {
    const unsigned char *byte;
    if (value == NULL) {
        fputs("null", text);
        return;
    }
    fputc('"', text);
    for (byte = (const unsigned char *)value; *byte != 0; ++byte) {
        if (*byte < 0x20 || *byte >= 0x7F || *byte == '"' || *byte == '\\')
            fprintf(text, "\\x%02X", (unsigned)*byte);
        else
            fputc(*byte, text);
    }
    fputc('"', text);
}

static void WriteNamedString(FILE *text, const char *label, const char *value) {
    fprintf(text, "%s: ", label);
    WriteString(text, value);
    fputc('\n', text);
}

/* An index as the host would write it: the all-ones value as -1. */
typedef struct IndexText {
    char digits[12];
} IndexText;

static IndexText FormatIndex(uint32_t index) {
    IndexText formatted;
    if (index == 0xFFFFFFFFu)
        strcpy(formatted.digits, "-1");
    else
        snprintf(formatted.digits, sizeof formatted.digits, "%u", (unsigned)index);
    return formatted;
}

static void DumpSongInformation(const ZeltoFunctions *zelto, FILE *text) {
    uint32_t indexes[MAX_SWEEP];
    unsigned count, position;
    static const uint32_t lyricsLines[] = {0, 1, 2, 3, 4, 5, 6, 0x7FFFFFFFu, 0xFFFFFFFFu};

    WriteNamedString(text, "title", zelto->ZELTO_GetTitle());
    WriteNamedString(text, "subtitle", zelto->ZELTO_GetSubtitle());
    WriteNamedString(text, "interpret", zelto->ZELTO_GetInterpret());
    WriteNamedString(text, "album", zelto->ZELTO_GetAlbum());
    WriteNamedString(text, "author", zelto->ZELTO_GetAuthor());
    WriteNamedString(text, "copyright", zelto->ZELTO_GetCopyright());
    WriteNamedString(text, "tabAuthor", zelto->ZELTO_GetTabAuthor());
    WriteNamedString(text, "instructions", zelto->ZELTO_GetInstructions());

    fprintf(text, "noticeLineCount: %u\n", (unsigned)zelto->ZELTO_GetNoticeLineCount());
    count = SweepIndexes(zelto->ZELTO_GetNoticeLineCount(), indexes);
    for (position = 0; position < count; ++position) {
        fprintf(text, "noticeLine[%s]: ", FormatIndex(indexes[position]).digits);
        WriteString(text, zelto->ZELTO_GetNoticeLine(indexes[position]));
        fputc('\n', text);
    }

    fprintf(text, "tripletFeel: %u\n", (unsigned)zelto->ZELTO_IsTripletFeelEnabled());
    fprintf(text, "lyricsTrack: %d\n", (int)zelto->ZELTO_GetLyricsTrack());
    for (position = 0; position < sizeof lyricsLines / sizeof lyricsLines[0]; ++position) {
        fprintf(text, "lyricsLine[%s]: ", FormatIndex(lyricsLines[position]).digits);
        WriteString(text, zelto->ZELTO_GetLyricsLine(lyricsLines[position]));
        fputc('\n', text);
    }
}

static void DumpPieceInformation(const ZeltoFunctions *zelto, FILE *text) {
    const ZELTO_MidiChannelInfo *first = zelto->ZELTO_GetMidiChannel(0, 0);
    static const uint32_t outside[][2] = {{0, 0xFFFFFFFFu}, {0xFFFFFFFFu, 0}, {0xFFFFFFFFu, 0xFFFFFFFFu},
                                          {4, 16}, {0x7FFFFFFFu, 0}};
    uint32_t port, channel;
    unsigned position;

    fprintf(text, "tempo: %u\n", (unsigned)zelto->ZELTO_GetTempo());
    fprintf(text, "key: %d\n", (int)zelto->ZELTO_GetKey());
    fprintf(text, "octave: %d\n", (int)zelto->ZELTO_GetOctave());
    /* Ports 0-3 and channels 0-15 are in range; 4 and 16 are the first values beyond. */
    for (port = 0; port <= 4; ++port) {
        for (channel = 0; channel <= 16; ++channel) {
            const ZELTO_MidiChannelInfo *entry = zelto->ZELTO_GetMidiChannel(port, channel);
            fprintf(text, "midiChannel[%u][%u]: ", (unsigned)port, (unsigned)channel);
            if (entry == NULL) {
                fputs("null\n", text);
                continue;
            }
            if (first != NULL)
                fprintf(text, "+%d ", (int)((const char *)entry - (const char *)first));
            fprintf(text, "instrument=%d volume=%u balance=%u chorus=%u reverb=%u phaser=%u tremolo=%u filler=%u,%u\n",
                    (int)entry->instrument, entry->volume, entry->balance, entry->chorus, entry->reverb,
                    entry->phaser, entry->tremolo, entry->filler[0], entry->filler[1]);
        }
    }
    for (position = 0; position < sizeof outside / sizeof outside[0]; ++position) {
        fprintf(text, "midiChannel[%s]", FormatIndex(outside[position][0]).digits);
        fprintf(text, "[%s]: ", FormatIndex(outside[position][1]).digits);
        fputs(zelto->ZELTO_GetMidiChannel(outside[position][0], outside[position][1]) == NULL ? "null\n"
                                                                                               : "present\n",
              text);
    }
}

static void DumpMeasures(const ZeltoFunctions *zelto, FILE *text) {
    uint32_t indexes[MAX_SWEEP];
    unsigned count, position;

    fprintf(text, "measureCount: %u\n", (unsigned)zelto->ZELTO_GetMeasureCount());
    count = SweepIndexes(zelto->ZELTO_GetMeasureCount(), indexes);
    for (position = 0; position < count; ++position) {
        uint32_t measure = indexes[position];
        fprintf(text, "measure[%s]: ", FormatIndex(measure).digits);
        fprintf(text, "present=%d%d%d%d%d%d%d", zelto->ZELTO_IsMeasureKeyNumeratorPresent(measure),
                zelto->ZELTO_IsMeasureKeyDenominatorPresent(measure),
                zelto->ZELTO_IsMeasureBeginRepeatPresent(measure), zelto->ZELTO_IsMeasureEndRepeatPresent(measure),
                zelto->ZELTO_IsMeasureMarkerPresent(measure), zelto->ZELTO_IsMeasureTonalityPresent(measure),
                zelto->ZELTO_IsMeasureDoubleBarPresent(measure));
        fprintf(text, " numerator=%u denominator=%u repeats=%u altEndings=%u marker=",
                (unsigned)zelto->ZELTO_GetMeasureKeyNumerator(measure),
                (unsigned)zelto->ZELTO_GetMeasureKeyDenominator(measure),
                (unsigned)zelto->ZELTO_GetMeasureRepeatCount(measure),
                (unsigned)zelto->ZELTO_GetMeasureAltEndingCount(measure));
        WriteString(text, zelto->ZELTO_GetMeasureMarkerText(measure));
        fprintf(text, " markerColor=%u tonality=%d\n", (unsigned)zelto->ZELTO_GetMeasureMarkerColor(measure),
                (int)zelto->ZELTO_GetMeasureTonality(measure));
    }
}

static void DumpTracks(const ZeltoFunctions *zelto, FILE *text) {
    uint32_t indexes[MAX_SWEEP];
    static const uint32_t strings[] = {0, 1, 2, 3, 4, 5, 6, 7, 0xFFFFFFFFu};
    unsigned count, position, stringPosition;

    fprintf(text, "trackCount: %u\n", (unsigned)zelto->ZELTO_GetTrackCount());
    count = SweepIndexes(zelto->ZELTO_GetTrackCount(), indexes);
    for (position = 0; position < count; ++position) {
        uint32_t track = indexes[position];
        fprintf(text, "track[%s]: name=", FormatIndex(track).digits);
        WriteString(text, zelto->ZELTO_GetTrackName(track));
        fprintf(text, " strings=%u tuning=", (unsigned)zelto->ZELTO_GetTrackStringCount(track));
        for (stringPosition = 0; stringPosition < sizeof strings / sizeof strings[0]; ++stringPosition)
            fprintf(text, "%s%d", stringPosition == 0 ? "" : ",",
                    (int)zelto->ZELTO_GetTrackTuning(track, strings[stringPosition]));
        fprintf(text, " port=%u channel=%u effectsChannel=%u frets=%u capo=%u color=%u\n",
                (unsigned)zelto->ZELTO_GetTrackMidiPort(track), (unsigned)zelto->ZELTO_GetTrackMidiChannel(track),
                (unsigned)zelto->ZELTO_GetTrackEffectsMidiChannel(track),
                (unsigned)zelto->ZELTO_GetTrackFretCount(track), (unsigned)zelto->ZELTO_GetTrackCapoHeight(track),
                (unsigned)zelto->ZELTO_GetTrackColor(track));
    }
}

int ZeltoDumpQueries(const ZeltoFunctions *zelto, FILE *text) {
    DumpSongInformation(zelto, text);
    DumpPieceInformation(zelto, text);
    DumpMeasures(zelto, text);
    DumpTracks(zelto, text);
    return !ferror(text);
}

/* Exports the current state, writes the outcome as one text line, and hands
 * back the buffer (null when there is none) and its size. The host's
 * variables start out pointing at a marker, so that an export that leaves
 * them alone shows as "untouched". */
static unsigned char *ExportMidi(const ZeltoFunctions *zelto, FILE *text, const char *label, uint32_t *size) {
    static unsigned char untouchedMarker;
    unsigned char *buffer = &untouchedMarker;
    int result;

    *size = 0xA5A5A5A5u;
    result = zelto->ZELTO_CreateMidiBuffer(&buffer, size);
    fprintf(text, "%s: result=%d ", label, result);
    if (buffer == &untouchedMarker) {
        fputs(*size == 0xA5A5A5A5u ? "buffer=untouched size=untouched\n" : "buffer=untouched size=written\n",
              text);
        return NULL;
    }
    fprintf(text, "buffer=%s size=%u\n", buffer == NULL ? "null" : "set", (unsigned)*size);
    return buffer;
}

static int JoinPath(char *path, size_t capacity, const char *first, const char *second, const char *third) {
    int length = snprintf(path, capacity, "%s%s%s", first, second, third);
    return length >= 0 && (size_t)length < capacity;
}

static int WriteBytes(const char *path, const unsigned char *bytes, uint32_t size) {
    FILE *stream = fopen(path, "wb");
    int written;
    if (stream == NULL) return 0;
    written = fwrite(bytes, 1, size, stream) == size;
    return fclose(stream) == 0 && written;
}

int ZeltoDumpSong(const ZeltoFunctions *zelto, const char *songPath, const char *outputStem) {
    char textPath[1024], midiPath[1024];
    FILE *text;
    unsigned char *first, *second;
    uint32_t firstSize = 0, secondSize = 0;
    int succeeded = 1;

    if (!JoinPath(textPath, sizeof textPath, outputStem, ".txt", "") ||
        !JoinPath(midiPath, sizeof midiPath, outputStem, ".mid", "")) {
        fprintf(stderr, "%s: output path too long\n", outputStem);
        return 0;
    }
    text = fopen(textPath, "wb");
    if (text == NULL) {
        fprintf(stderr, "%s: cannot write\n", textPath);
        return 0;
    }

    zelto->ZELTO_Init();
    fprintf(text, "load: %d\n", zelto->ZELTO_Load(songPath));
    fprintf(text, "second load: %d\n", zelto->ZELTO_Load(songPath));
    succeeded &= ZeltoDumpQueries(zelto, text);

    first = ExportMidi(zelto, text, "export", &firstSize);
    second = ExportMidi(zelto, text, "second export", &secondSize);
    if (first != NULL) {
        if (!WriteBytes(midiPath, first, firstSize)) {
            fprintf(stderr, "%s: cannot write\n", midiPath);
            succeeded = 0;
        }
    }
    if ((first == NULL) != (second == NULL) || firstSize != secondSize ||
        (first != NULL && memcmp(first, second, firstSize) != 0)) {
        fprintf(stderr, "%s: two exports of the same song differ\n", songPath);
        fputs("exports differ\n", text);
        succeeded = 0;
    }
    /* The buffers belong to the host and outlive the song. */
    zelto->ZELTO_Unload();
    zelto->ZELTO_DestroyMidiBuffer(first);
    zelto->ZELTO_DestroyMidiBuffer(second);
    zelto->ZELTO_DestroyMidiBuffer(NULL);

    fputs("after unload: title=", text);
    WriteString(text, zelto->ZELTO_GetTitle());
    fprintf(text, " measureCount=%u trackCount=%u\n", (unsigned)zelto->ZELTO_GetMeasureCount(),
            (unsigned)zelto->ZELTO_GetTrackCount());
    zelto->ZELTO_Free();
    zelto->ZELTO_Unload();

    if (ferror(text)) succeeded = 0;
    if (fclose(text) != 0) succeeded = 0;
    return succeeded;
}

static int DumpNoSong(const ZeltoFunctions *zelto, const char *outputDirectory) {
    char textPath[1024];
    FILE *text;
    unsigned char *buffer;
    uint32_t size;
    int succeeded;

    if (!JoinPath(textPath, sizeof textPath, outputDirectory, "/", "nosong.txt")) return 0;
    text = fopen(textPath, "wb");
    if (text == NULL) {
        fprintf(stderr, "%s: cannot write\n", textPath);
        return 0;
    }
    zelto->ZELTO_Init();
    fprintf(text, "load null: %d\n", zelto->ZELTO_Load(NULL));
    succeeded = ZeltoDumpQueries(zelto, text);
    buffer = ExportMidi(zelto, text, "export", &size);
    zelto->ZELTO_DestroyMidiBuffer(buffer);
    if (ferror(text)) succeeded = 0;
    if (fclose(text) != 0) succeeded = 0;
    return succeeded;
}

int ZeltoDumpSongList(const ZeltoFunctions *zelto, const char *songDirectory, const char *outputDirectory) {
    char listPath[1024], line[512];
    FILE *list;
    int failures = 0;

    if (!JoinPath(listPath, sizeof listPath, songDirectory, "/", "songs.txt")) return -1;
    list = fopen(listPath, "rb");
    if (list == NULL) {
        fprintf(stderr, "%s: cannot read the song list\n", listPath);
        return -1;
    }
    if (!DumpNoSong(zelto, outputDirectory)) ++failures;
    while (fgets(line, sizeof line, list) != NULL) {
        char songPath[1024], outputStem[1024];
        size_t length = strcspn(line, "\r\n");
        line[length] = 0;
        if (length == 0 || line[0] == '#') continue;
        if (!JoinPath(songPath, sizeof songPath, songDirectory, "/", line) ||
            !JoinPath(outputStem, sizeof outputStem, outputDirectory, "/", line)) {
            ++failures;
            continue;
        }
        if (!ZeltoDumpSong(zelto, songPath, outputStem)) ++failures;
    }
    fclose(list);
    return failures;
}
