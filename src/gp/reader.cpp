// reader.cpp - the song reader: turns a Guitar Pro 4 file read through a stdio
// stream into a FileStruct, section by section in file order, and releases it.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "gp/song.h"
#include "heap.h"

namespace Talvoren {

namespace {

// ---------------------------------------------------------------------------
// Stream primitives

// Every count and string length in the file is untrusted. Before anything is
// allocated for it, it is compared with the bytes that are still left in the
// stream, so a tiny file cannot make the reader ask for gigabytes.
//
// A stream that LoadFileStruct is loading is read through its load's own
// context, so that loads on different threads never share a byte of state.
// When the stream's size can be known, the context holds a window: a block
// of the stream's bytes fetched with one fread, from which the fields are
// copied, so that a field costs a copy rather than a stdio call. The reader's
// position in that stream is kept in the context and handed back to the
// stream when the load ends; seeks only move it, as fseek lets a position
// pass the end, and a read there finds nothing. Reads, seeks and positions
// come out as they would on the stream itself. Any other stream (a reader
// called on its own, or a stream of unknown size) is read directly.
struct LoadingStream {
    std::FILE *stream;                // the stream being loaded
    long size;                        // its size in bytes, -1 when unknown
    unsigned char *windowBytes;       // the window's storage, or null: the stream is read directly
    long windowStart;                 // stream offset of the window's first byte
    const unsigned char *cursor;      // the reader's position: in the window, or at its end
    const unsigned char *windowEnd;   // just past the bytes fetched into the window
    long streamPosition;              // where the stream itself stands, or -1 when unknown
    LoadFailure failure;              // why the load failed, once a reader saw it
};

// What every reader reads from: a stream on its own, or a stream being
// loaded, through its load's context. Readers take it by value; a plain
// stream converts to it, so that a reader can be called on a stream alone.
struct Stream {
    std::FILE *file;
    LoadingStream *loading;  // null for a stream read on its own
    Stream(std::FILE *plainStream) : file(plainStream), loading(nullptr) {}
    explicit Stream(LoadingStream *load) : file(load->stream), loading(load) {}
};

// The largest window, and how much of it a load takes: the tests make the
// window small so that fields often straddle its edge. The window lies in
// the load's own stack frame, so a load asks the heap for nothing but the
// song, and a small file for little.
constexpr std::size_t largestWindowCapacity = 16 * 1024;
std::size_t windowCapacity = largestWindowCapacity;

const std::uint64_t unknownBytesLeft = UINT64_MAX;

bool IsWindowed(Stream stream) { return stream.loading != nullptr && stream.loading->windowBytes != nullptr; }

// Records why the load that reads the stream fails; the last reason a
// reader saw is the one that ended the load.
void NoteFailure(Stream stream, LoadFailure failure) {
    if (stream.loading != nullptr) stream.loading->failure = failure;
}

// Size of a seekable stream, with its position restored; -1 if unknown.
long MeasureStreamSize(std::FILE *stream) {
    long position = std::ftell(stream);
    if (position < 0) return -1;
    long size = -1;
    if (std::fseek(stream, 0, SEEK_END) == 0) size = std::ftell(stream);
    if (std::fseek(stream, position, SEEK_SET) != 0) return -1;
    return size;
}

long WindowPosition(const LoadingStream &loading) {
    return loading.windowStart + static_cast<long>(loading.cursor - loading.windowBytes);
}

// Moves the reader to offset: inside the window when it holds that byte,
// else to an empty window there, which the next read fetches.
void MoveInWindow(LoadingStream &loading, long offset) {
    if (offset >= loading.windowStart && offset - loading.windowStart <= loading.windowEnd - loading.windowBytes) {
        loading.cursor = loading.windowBytes + (offset - loading.windowStart);
        return;
    }
    loading.windowStart = offset;
    loading.cursor = loading.windowBytes;
    loading.windowEnd = loading.windowBytes;
}

// The reader's position in the stream; -1 if unknown.
long StreamPosition(Stream stream) {
    return IsWindowed(stream) ? WindowPosition(*stream.loading) : std::ftell(stream.file);
}

// Moves to offset from the start of the stream.
bool SeekStream(Stream stream, long offset) {
    if (!IsWindowed(stream)) return std::fseek(stream.file, offset, SEEK_SET) == 0;
    if (offset < 0) return false;
    MoveInWindow(*stream.loading, offset);
    return true;
}

// Fetches the window's bytes from the reader's position on; false when the
// stream has none there.
bool FillWindow(LoadingStream &loading) {
    const long position = WindowPosition(loading);
    loading.windowStart = position;
    loading.cursor = loading.windowBytes;
    loading.windowEnd = loading.windowBytes;
    if (position >= loading.size) return false;
    if (loading.streamPosition != position) {
        loading.streamPosition = -1;
        if (std::fseek(loading.stream, position, SEEK_SET) != 0) return false;
        loading.streamPosition = position;
    }
    const std::size_t fetched = std::fread(loading.windowBytes, 1, windowCapacity, loading.stream);
    loading.windowEnd = loading.windowBytes + fetched;
    loading.streamPosition += static_cast<long>(fetched);
    return fetched != 0;
}

// Reads what the window does not hold at once: fetches it anew as often as
// needed, or reads a stream outside the window directly. The number of bytes
// read, fewer at the end of the stream.
std::size_t ReadBytesSlowly(Stream stream, unsigned char *into, std::size_t count) {
    if (!IsWindowed(stream)) return std::fread(into, 1, count, stream.file);
    LoadingStream &loading = *stream.loading;
    std::size_t copied = 0;
    while (copied < count) {
        if (loading.cursor == loading.windowEnd && !FillWindow(loading)) break;
        std::size_t available = static_cast<std::size_t>(loading.windowEnd - loading.cursor);
        if (available > count - copied) available = count - copied;
        std::memcpy(into + copied, loading.cursor, available);
        loading.cursor += available;
        copied += available;
    }
    return copied;
}

// Reads up to count bytes; the number read, fewer at the end of the stream,
// which a read past it leaves at its end. A field the window holds is copied
// from it.
inline std::size_t ReadBytes(Stream stream, void *into, std::size_t count) {
    LoadingStream *loading = stream.loading;
    if (loading != nullptr && loading->windowBytes != nullptr &&
        count <= static_cast<std::size_t>(loading->windowEnd - loading->cursor)) {
        std::memcpy(into, loading->cursor, count);
        loading->cursor += count;
        return count;
    }
    return ReadBytesSlowly(stream, static_cast<unsigned char *>(into), count);
}

// Bytes between the stream position and the end of the stream; a stream of
// unknown size counts as endless (its reads then end the load instead).
std::uint64_t BytesLeft(Stream stream) {
    long size = stream.loading != nullptr ? stream.loading->size : MeasureStreamSize(stream.file);
    long position = StreamPosition(stream);
    if (size < 0 || position < 0) return unknownBytesLeft;
    if (position >= size) return 0;
    return static_cast<std::uint64_t>(size - position);
}

// Whether count elements of at least leastSize bytes each can still follow;
// a count that cannot is a file cut off before what it announces.
bool CountFits(Stream stream, std::uint64_t count, std::uint64_t leastSize) {
    if (count == 0 || leastSize == 0) return true;
    if (count <= BytesLeft(stream) / leastSize) return true;
    NoteFailure(stream, LoadFailure::CutOff);
    return false;
}

// Leaves the stream at its end, where a read cut off by the end would have
// left it, so the next read fails.
void SeekToEnd(Stream stream) {
    if (IsWindowed(stream))
        MoveInWindow(*stream.loading, stream.loading->size);
    else
        std::fseek(stream.file, 0, SEEK_END);
}

// One read of a field of fieldSize bytes; it counts only if all bytes arrived.
bool ReadField(Stream stream, void *field, std::size_t fieldSize) {
    if (ReadBytes(stream, field, fieldSize) == fieldSize) return true;
    NoteFailure(stream, LoadFailure::CutOff);
    return false;
}

// One read of itemCount items of itemSize bytes; all of them must arrive.
// Callers bound itemCount by the bytes left, so the product fits.
bool ReadItems(Stream stream, void *items, std::size_t itemSize, std::size_t itemCount) {
    bool complete = false;
    if (!IsWindowed(stream))
        complete = std::fread(items, itemSize, itemCount, stream.file) == itemCount;
    else if (itemSize == 0 || itemCount <= SIZE_MAX / itemSize)
        complete = ReadBytes(stream, items, itemSize * itemCount) == itemSize * itemCount;
    if (!complete) NoteFailure(stream, LoadFailure::CutOff);
    return complete;
}

// Skips the 4-byte field in front of the text of an int-byte string.
bool SkipUnusedInt(Stream stream) {
    std::uint8_t unused[4];
    return ReadField(stream, unused, sizeof unused);
}

// Seeks to fieldStart + fieldSize from the start of the stream: the end of a
// fixed-size field, whatever the string at its start consumed.
bool SeekPastField(Stream stream, long fieldStart, long fieldSize) {
    if (fieldStart < 0 || fieldStart > LONG_MAX - fieldSize) return false;
    return SeekStream(stream, fieldStart + fieldSize);
}

// A zero-filled array of count elements; null if its byte size cannot be
// represented or the heap refuses. An array of 0 elements is a real (empty)
// array, never a failure.
void *AllocateArray(std::size_t count, std::size_t elementSize) {
    if (elementSize != 0 && count > SIZE_MAX / elementSize) return nullptr;
    return MemCalloc(count == 0 ? 1 : count, elementSize);
}

// The text of a string whose length has been read. A length that cannot fit
// in the rest of the stream is refused before anything is allocated, as a
// file cut off, with the stream left at its end. A text that cannot be
// stored for want of memory is stepped over, so the stream stands after the
// string.
char *CreateStringOfLength(Stream stream, std::uint32_t length) {
    char *text = nullptr;
    std::size_t bufferSize = static_cast<std::size_t>(length) + 1;  // wraps to 0 if too long
    if (static_cast<std::uint64_t>(length) > BytesLeft(stream) || bufferSize == 0) {
        NoteFailure(stream, LoadFailure::CutOff);
        SeekToEnd(stream);
        return nullptr;
    }
    text = static_cast<char *>(MemAlloc(bufferSize));
    if (text == nullptr) {
        const long position = StreamPosition(stream);
        if (position < 0 || length > static_cast<std::uint64_t>(LONG_MAX - position) ||
            !SeekStream(stream, position + static_cast<long>(length)))
            SeekToEnd(stream);
        return nullptr;
    }
    if (!ReadItems(stream, text, 1, length)) goto fail;
    text[length] = '\0';
    return text;
fail:
    MemFree(text);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Strings

// A byte-length string: 1 length byte, then the text.
char *CreateStringByte(Stream stream) {
    std::uint8_t length = 0;
    if (!ReadField(stream, &length, sizeof length)) return nullptr;
    return CreateStringOfLength(stream, length);
}

// An int-length string: a 4-byte unsigned length, then the text.
char *CreateStringInt(Stream stream) {
    std::uint32_t length = 0;
    if (!ReadField(stream, &length, sizeof length)) return nullptr;
    return CreateStringOfLength(stream, length);
}

void DestroyString(char **text) {
    MemFree(*text);
    *text = nullptr;
}

// An int-byte string: an unused 4-byte field, then a byte-length string.
bool ReadIntByteString(Stream stream, char **text) {
    if (!SkipUnusedInt(stream)) return false;
    *text = CreateStringByte(stream);
    return *text != nullptr;
}

// ---------------------------------------------------------------------------
// Song header

const long versionFieldSize = 31;  // length byte, 30 bytes of text and filler

void FreeTabInfo(TabInfo *tabInfo) {
    DestroyString(&tabInfo->title);
    DestroyString(&tabInfo->subtitle);
    DestroyString(&tabInfo->interpret);
    DestroyString(&tabInfo->album);
    DestroyString(&tabInfo->author);
    DestroyString(&tabInfo->copyright);
    DestroyString(&tabInfo->tabAuthor);
    DestroyString(&tabInfo->instructions);
    if (tabInfo->noticeLines != nullptr) {
        for (std::uint32_t line = 0; line < tabInfo->noticeLineCount; ++line)
            DestroyString(&tabInfo->noticeLines[line]);
        MemFree(tabInfo->noticeLines);
        tabInfo->noticeLines = nullptr;
    }
}

int LoadTabInfo(TabInfo *tabInfo, Stream stream) {
    char **const informationStrings[] = {
        &tabInfo->title,  &tabInfo->subtitle,  &tabInfo->interpret, &tabInfo->album,
        &tabInfo->author, &tabInfo->copyright, &tabInfo->tabAuthor, &tabInfo->instructions,
    };
    std::memset(tabInfo, 0, sizeof *tabInfo);
    for (char **information : informationStrings)
        if (!ReadIntByteString(stream, information)) goto fail;
    if (!ReadField(stream, &tabInfo->noticeLineCount, sizeof tabInfo->noticeLineCount)) goto fail;
    if (tabInfo->noticeLineCount != 0) {
        // A notice line takes at least 5 bytes: its unused field and a length byte.
        if (!CountFits(stream, tabInfo->noticeLineCount, 5)) goto fail;
        tabInfo->noticeLines =
            static_cast<char **>(AllocateArray(tabInfo->noticeLineCount, sizeof(char *)));
        if (tabInfo->noticeLines == nullptr) goto fail;
        for (std::uint32_t line = 0; line < tabInfo->noticeLineCount; ++line)
            if (!ReadIntByteString(stream, &tabInfo->noticeLines[line])) goto fail;
    }
    if (!ReadField(stream, &tabInfo->tripletFeel, sizeof tabInfo->tripletFeel)) goto fail;
    return 1;
fail:
    FreeTabInfo(tabInfo);
    return 0;
}

void FreeLyricsInfo(LyricsInfo *lyricsInfo) {
    for (char *&line : lyricsInfo->lyricsLines) DestroyString(&line);
}

// A line whose text cannot be read stays null without failing the block:
// cut off by the end of the file, the stream stays at the end and the next
// read fails the load; refused for want of memory, its text has been
// stepped over and reading goes on with the next line.
int LoadLyricsInfo(LyricsInfo *lyricsInfo, Stream stream) {
    std::memset(lyricsInfo, 0, sizeof *lyricsInfo);
    if (!ReadField(stream, &lyricsInfo->lyricsTrack, sizeof lyricsInfo->lyricsTrack)) goto fail;
    for (char *&line : lyricsInfo->lyricsLines) {
        if (!SkipUnusedInt(stream)) goto fail;
        line = CreateStringInt(stream);
    }
    return 1;
fail:
    FreeLyricsInfo(lyricsInfo);
    return 0;
}

// The piece information is one read of its 785 packed bytes.
int LoadPieceInfo(GPPieceInfo *pieceInfo, Stream stream) {
    return ReadField(stream, pieceInfo, sizeof *pieceInfo) ? 1 : 0;
}

void FreeHeadersStruct(HeadersStruct *headers) {
    DestroyString(&headers->version);
    FreeTabInfo(&headers->tabInfo);
    FreeLyricsInfo(&headers->lyricsInfo);
}

// The version must be one of the two accepted strings exactly: the same 24
// characters and a length byte of 24, so a text with a zero byte after the
// 24 characters does not pass.
bool IsAcceptedVersion(const char *version, Stream stream) {
    const long acceptedLength = static_cast<long>(sizeof acceptedVersion400 - 1);
    if (StreamPosition(stream) != 1 + acceptedLength) return false;
    return std::strcmp(version, acceptedVersion400) == 0 || std::strcmp(version, acceptedVersion406) == 0;
}

int LoadHeadersStruct(HeadersStruct *headers, Stream stream) {
    std::memset(headers, 0, sizeof *headers);
    if (IsWindowed(stream))
        SeekStream(stream, 0);
    else
        std::rewind(stream.file);
    headers->version = CreateStringByte(stream);
    // Whatever cannot pass for the version field is not a song of this format.
    if (headers->version == nullptr || !IsAcceptedVersion(headers->version, stream)) {
        NoteFailure(stream, LoadFailure::OtherVersion);
        goto fail;
    }
    if (!SeekStream(stream, versionFieldSize)) goto fail;
    if (!LoadTabInfo(&headers->tabInfo, stream)) goto fail;
    if (!LoadLyricsInfo(&headers->lyricsInfo, stream)) goto fail;
    if (!LoadPieceInfo(&headers->pieceInfo, stream)) goto fail;
    return 1;
fail:
    FreeHeadersStruct(headers);
    return 0;
}

// ---------------------------------------------------------------------------
// Measure headers and tracks

void FreeMeasureMarker(MeasureMarker *marker) { DestroyString(&marker->text); }

int LoadMeasureMarker(MeasureMarker *marker, Stream stream) {
    marker->text = nullptr;
    marker->color = 0;
    if (!ReadIntByteString(stream, &marker->text)) goto fail;
    if (!ReadField(stream, &marker->color, sizeof marker->color)) goto fail;
    return 1;
fail:
    FreeMeasureMarker(marker);
    return 0;
}

void FreeMeasure(Measure *measure) {
    if (measure->marker != nullptr) {
        FreeMeasureMarker(measure->marker);
        MemFree(measure->marker);
        measure->marker = nullptr;
    }
}

int LoadMeasure(Measure *measure, Stream stream) {
    std::memset(measure, 0, sizeof *measure);
    if (!ReadField(stream, &measure->flags, sizeof measure->flags)) goto fail;
    if ((measure->flags & MeasureHasNumerator) &&
        !ReadField(stream, &measure->keyNumerator, sizeof measure->keyNumerator))
        goto fail;
    if ((measure->flags & MeasureHasDenominator) &&
        !ReadField(stream, &measure->keyDenominator, sizeof measure->keyDenominator))
        goto fail;
    if ((measure->flags & MeasureEndRepeat) &&
        !ReadField(stream, &measure->repeatCount, sizeof measure->repeatCount))
        goto fail;
    if ((measure->flags & MeasureAltEnding) &&
        !ReadField(stream, &measure->altEndingCount, sizeof measure->altEndingCount))
        goto fail;
    if (measure->flags & MeasureHasMarker) {
        measure->marker = static_cast<MeasureMarker *>(MemCalloc(1, sizeof(MeasureMarker)));
        if (measure->marker == nullptr) goto fail;
        if (!LoadMeasureMarker(measure->marker, stream)) goto fail;
    }
    if (measure->flags & MeasureHasTonality) {
        if (!ReadField(stream, &measure->tonality, sizeof measure->tonality)) goto fail;
        if (!ReadField(stream, &measure->tonalityType, sizeof measure->tonalityType)) goto fail;
    }
    return 1;
fail:
    FreeMeasure(measure);
    return 0;
}

const long trackNameFieldSize = 41;  // length byte and 40 bytes of text and filler

void FreeTrack(Track *track) { DestroyString(&track->name); }

int LoadTrack(Track *track, Stream stream) {
    std::uint32_t *const trailingFields[] = {
        &track->midiPort,  &track->midiChannel, &track->effectsMidiChannel,
        &track->fretCount, &track->capoHeight,  &track->color,
    };
    long nameFieldStart = -1;
    std::memset(track, 0, sizeof *track);
    if (!ReadField(stream, &track->flags, sizeof track->flags)) goto fail;
    nameFieldStart = StreamPosition(stream);
    if (nameFieldStart < 0) goto fail;
    track->name = CreateStringByte(stream);
    if (track->name == nullptr) goto fail;
    if (!SeekPastField(stream, nameFieldStart, trackNameFieldSize)) goto fail;
    if (!ReadField(stream, &track->stringCount, sizeof track->stringCount)) goto fail;
    if (!ReadItems(stream, track->tunings, sizeof track->tunings[0], tuningCount)) goto fail;
    for (std::uint32_t *field : trailingFields)
        if (!ReadField(stream, field, sizeof *field)) goto fail;
    return 1;
fail:
    FreeTrack(track);
    return 0;
}

// ---------------------------------------------------------------------------
// Bends and note effects

void DestroyBend(Bend **bend) {
    if (*bend == nullptr) return;
    MemFree((*bend)->points);
    MemFree(*bend);
    *bend = nullptr;
}

Bend *CreateBendFromFile(Stream stream) {
    Bend *bend = static_cast<Bend *>(MemCalloc(1, sizeof(Bend)));
    if (bend == nullptr) return nullptr;
    if (!ReadField(stream, &bend->bendType, sizeof bend->bendType)) goto fail;
    if (!ReadField(stream, &bend->bendValue, sizeof bend->bendValue)) goto fail;
    if (!ReadField(stream, &bend->pointCount, sizeof bend->pointCount)) goto fail;
    if (!CountFits(stream, bend->pointCount, sizeof(BendPoint))) goto fail;
    bend->points = static_cast<BendPoint *>(AllocateArray(bend->pointCount, sizeof(BendPoint)));
    if (bend->points == nullptr) goto fail;
    if (!ReadItems(stream, bend->points, sizeof(BendPoint), bend->pointCount)) goto fail;
    return bend;
fail:
    DestroyBend(&bend);
    return nullptr;
}

void DestroyNoteEffect(NoteEffect **effect) {
    if (*effect == nullptr) return;
    DestroyBend(&(*effect)->bend);
    MemFree(*effect);
    *effect = nullptr;
}

NoteEffect *CreateNoteEffectFromFile(Stream stream) {
    std::uint8_t flagBytes[2];
    std::uint8_t graceNote[4];
    std::uint8_t trill[2];
    NoteEffect *effect = static_cast<NoteEffect *>(MemCalloc(1, sizeof(NoteEffect)));
    if (effect == nullptr) return nullptr;
    if (!ReadField(stream, flagBytes, sizeof flagBytes)) goto fail;
    effect->flags1 = flagBytes[0];
    effect->flags2 = flagBytes[1];
    if (effect->flags1 & NoteEffectBend) {
        effect->bend = CreateBendFromFile(stream);
        if (effect->bend == nullptr) goto fail;
    }
    if (effect->flags1 & NoteEffectGrace) {
        if (!ReadField(stream, graceNote, sizeof graceNote)) goto fail;
        effect->graceFret = graceNote[0];
        effect->graceDynamic = graceNote[1];
        effect->graceTransition = graceNote[2];
        effect->graceDuration = graceNote[3];
    }
    if ((effect->flags2 & NoteEffectTremoloPicking) &&
        !ReadField(stream, &effect->tremoloPicking, sizeof effect->tremoloPicking))
        goto fail;
    if ((effect->flags2 & NoteEffectSlide) &&
        !ReadField(stream, &effect->slide, sizeof effect->slide))
        goto fail;
    if ((effect->flags2 & NoteEffectHarmonic) &&
        !ReadField(stream, &effect->harmonic, sizeof effect->harmonic))
        goto fail;
    if (effect->flags2 & NoteEffectTrill) {
        if (!ReadField(stream, trill, sizeof trill)) goto fail;
        effect->trillFret = trill[0];
        effect->trillPeriod = trill[1];
    }
    return effect;
fail:
    DestroyNoteEffect(&effect);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Beat effects, mix-table changes and chord diagrams

void DestroyBeatEffect(BeatEffect **beatEffect) {
    if (*beatEffect == nullptr) return;
    DestroyBend(&(*beatEffect)->tremoloBar);
    MemFree(*beatEffect);
    *beatEffect = nullptr;
}

BeatEffect *CreateBeatEffectFromFile(Stream stream) {
    std::uint8_t flagBytes[2];
    BeatEffect *beatEffect = static_cast<BeatEffect *>(MemCalloc(1, sizeof(BeatEffect)));
    if (beatEffect == nullptr) return nullptr;
    if (!ReadField(stream, flagBytes, sizeof flagBytes)) goto fail;
    beatEffect->flags1 = flagBytes[0];
    beatEffect->flags2 = flagBytes[1];
    if ((beatEffect->flags1 & BeatEffectTapping) &&
        !ReadField(stream, &beatEffect->tappingType, sizeof beatEffect->tappingType))
        goto fail;
    if (beatEffect->flags2 & BeatEffectTremoloBar) {
        beatEffect->tremoloBar = CreateBendFromFile(stream);
        if (beatEffect->tremoloBar == nullptr) goto fail;
    }
    if (beatEffect->flags1 & BeatEffectStroke) {
        if (!ReadField(stream, &beatEffect->strokeSpeeds[0], 1)) goto fail;
        if (!ReadField(stream, &beatEffect->strokeSpeeds[1], 1)) goto fail;
    }
    if ((beatEffect->flags2 & BeatEffectPickStroke) &&
        !ReadField(stream, &beatEffect->pickStroke, sizeof beatEffect->pickStroke))
        goto fail;
    return beatEffect;
fail:
    DestroyBeatEffect(&beatEffect);
    return nullptr;
}

const std::uint8_t mixValueUnchanged = 0xFF;
const std::int32_t mixTempoUnchanged = -1;

void DestroyMixTableEvent(MixTableEvent **mixTableEvent) {
    MemFree(*mixTableEvent);
    *mixTableEvent = nullptr;
}

MixTableEvent *CreateMixTableEventFromFile(Stream stream) {
    MixTableEvent *mix = static_cast<MixTableEvent *>(MemCalloc(1, sizeof(MixTableEvent)));
    if (mix == nullptr) return nullptr;
    {
        std::uint8_t *const values[] = {
            &mix->instrument, &mix->volume, &mix->balance, &mix->chorus,
            &mix->reverb,     &mix->phaser, &mix->tremolo,
        };
        // Each changed value but the instrument brings its transition length.
        struct Transition {
            const std::uint8_t *value;
            std::uint8_t *duration;
        };
        const Transition transitions[] = {
            {&mix->volume, &mix->volumeDuration},   {&mix->balance, &mix->balanceDuration},
            {&mix->chorus, &mix->chorusDuration},   {&mix->reverb, &mix->reverbDuration},
            {&mix->phaser, &mix->phaserDuration},   {&mix->tremolo, &mix->tremoloDuration},
        };
        for (std::uint8_t *value : values)
            if (!ReadField(stream, value, 1)) goto fail;
        if (!ReadField(stream, &mix->tempo, sizeof mix->tempo)) goto fail;
        for (const Transition &transition : transitions)
            if (*transition.value != mixValueUnchanged && !ReadField(stream, transition.duration, 1))
                goto fail;
        if (mix->tempo != mixTempoUnchanged &&
            !ReadField(stream, &mix->tempoDuration, sizeof mix->tempoDuration))
            goto fail;
        if (!ReadField(stream, &mix->applyToAllTracks, sizeof mix->applyToAllTracks)) goto fail;
    }
    return mix;
fail:
    DestroyMixTableEvent(&mix);
    return nullptr;
}

const std::uint8_t chordShortFormat = 0;
const std::uint8_t chordLongFormat = 1;
const long chordNameFieldSize = 21;  // length byte and 20 bytes of text and filler

void DestroyChordDiagram(ChordDiagram **chord) {
    if (*chord == nullptr) return;
    DestroyString(&(*chord)->name);
    MemFree(*chord);
    *chord = nullptr;
}

// The short record: name, first fret and, when that is not 0, six frets.
bool ReadShortChordDiagram(ChordDiagram *chord, Stream stream) {
    if (!ReadIntByteString(stream, &chord->name)) return false;
    if (!ReadField(stream, &chord->baseFret, sizeof chord->baseFret)) return false;
    if (chord->baseFret != 0 && !ReadItems(stream, chord->frets, sizeof chord->frets[0], 6))
        return false;
    return true;
}

// The long record after its format byte, 106 bytes, in file order.
bool ReadLongChordDiagram(ChordDiagram *chord, Stream stream) {
    long nameFieldStart = -1;
    if (!ReadField(stream, &chord->sharp, 1)) return false;
    if (!ReadItems(stream, chord->reserved1, 1, 3)) return false;
    if (!ReadField(stream, &chord->root, 1)) return false;
    if (!ReadField(stream, &chord->chordType, 1)) return false;
    if (!ReadField(stream, &chord->extension, 1)) return false;
    if (!ReadField(stream, &chord->bass, sizeof chord->bass)) return false;
    if (!ReadField(stream, &chord->tonality, sizeof chord->tonality)) return false;
    if (!ReadField(stream, &chord->add, 1)) return false;
    nameFieldStart = StreamPosition(stream);
    if (nameFieldStart < 0) return false;
    chord->name = CreateStringByte(stream);
    if (chord->name == nullptr) return false;
    if (!SeekPastField(stream, nameFieldStart, chordNameFieldSize)) return false;
    if (!ReadItems(stream, chord->reserved2, 1, 2)) return false;
    if (!ReadField(stream, &chord->fifth, 1)) return false;
    if (!ReadField(stream, &chord->ninth, 1)) return false;
    if (!ReadField(stream, &chord->eleventh, 1)) return false;
    if (!ReadField(stream, &chord->baseFret, sizeof chord->baseFret)) return false;
    if (!ReadItems(stream, chord->frets, sizeof chord->frets[0], noteSlotCount)) return false;
    if (!ReadField(stream, &chord->barreCount, 1)) return false;
    if (!ReadItems(stream, chord->barreFrets, 1, 5)) return false;
    if (!ReadItems(stream, chord->barreStarts, 1, 5)) return false;
    if (!ReadItems(stream, chord->barreEnds, 1, 5)) return false;
    for (std::uint8_t &omission : chord->omissions)
        if (!ReadField(stream, &omission, 1)) return false;
    if (!ReadField(stream, &chord->reserved3, 1)) return false;
    if (!ReadItems(stream, chord->fingerings, 1, noteSlotCount)) return false;
    if (!ReadField(stream, &chord->showFingering, 1)) return false;
    return true;
}

ChordDiagram *CreateChordDiagramFromFile(Stream stream) {
    ChordDiagram *chord = static_cast<ChordDiagram *>(MemCalloc(1, sizeof(ChordDiagram)));
    if (chord == nullptr) return nullptr;
    if (!ReadField(stream, &chord->format, sizeof chord->format)) goto fail;
    if (chord->format == chordShortFormat) {
        if (!ReadShortChordDiagram(chord, stream)) goto fail;
    } else if (chord->format == chordLongFormat) {
        if (!ReadLongChordDiagram(chord, stream)) goto fail;
    } else {
        NoteFailure(stream, LoadFailure::Damaged);
        goto fail;
    }
    return chord;
fail:
    DestroyChordDiagram(&chord);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Notes, beats, measure-track pairs and the body
//
// The readers of notes and beats, and what each is for:
//   LoadNote, LoadBeat        one record in any state, cleared first; only the tests call them
//   ReadClearedNote           a note into a zero record: from the window when it holds the
//                             note's fields, else field by field through the stream
//   TakeNoteFields            a note's own fields from the window, no read call per field
//   TakeBeatOpening           a beat's flags, status, duration and tuplet from the window
//   ReadClearedNotes          the notes the string bits announce, each by ReadClearedNote
//   ReadClearedBeat           a beat into a zero record: picks one of the two below
//   ReadPlainBeatFromWindow   a beat without blocks that the window holds whole, one cursor
//   ReadClearedBeatByField    any beat, field by field, blocks included
// LoadMeasureRow reads a measure's beats with ReadClearedBeat. The window
// test reads every song both through the window and field by field and
// requires the same records.

void FreeNote(Note *note) {
    if (note->effect != nullptr) DestroyNoteEffect(&note->effect);
}

// The most bytes a note's own fields take before its effects: flags, type,
// duration and tuplet, dynamic, fret, two fingerings.
constexpr std::size_t largestNoteFieldsSize = 8;

// The bytes the window holds from the reader's position on, when the stream
// is the one read through it; 0 for any other stream.
std::size_t WindowBytesAhead(Stream stream) {
    if (stream.loading == nullptr) return 0;
    return static_cast<std::size_t>(stream.loading->windowEnd - stream.loading->cursor);
}

// A note's own fields taken straight from the window at cursor, which holds
// all of them: no field can be cut off, so this reads what ReadClearedNote
// would, without a read call per field. Returns the cursor after the fields.
//
// The flags of notes in a song follow no pattern a branch could learn, so
// each field is read whether or not it is there, kept or cleared by a mask,
// and the cursor moves by the field's size only when it is there. Every read
// lies within the largest size of the fields, which the window holds.
[[gnu::always_inline]] inline const unsigned char *TakeNoteFields(Note *note, const unsigned char *cursor) {
    const std::uint32_t flags = *cursor++;
    // 1 when the field is in the file, else 0.
    const std::uint32_t typeAndFretPresent = (flags & NoteHasTypeAndFret) != 0 ? 1 : 0;
    const std::uint32_t ownDurationPresent = (flags & NoteHasDuration) != 0 ? 1 : 0;
    const std::uint32_t dynamicPresent = (flags & NoteHasDynamic) != 0 ? 1 : 0;
    const std::uint32_t fingeringPresent = (flags & NoteHasFingering) != 0 ? 1 : 0;
    auto kept = [](std::uint32_t value, std::uint32_t present) { return value & (0u - present); };
    note->flags = static_cast<std::uint8_t>(flags);
    note->noteType = static_cast<std::uint8_t>(kept(cursor[0], typeAndFretPresent));
    cursor += typeAndFretPresent;
    note->timeIndependentDuration = static_cast<std::int8_t>(kept(cursor[0], ownDurationPresent));
    note->timeIndependentTuplet = static_cast<std::uint8_t>(kept(cursor[1], ownDurationPresent));
    cursor += 2 * ownDurationPresent;
    note->dynamic = static_cast<std::uint8_t>(kept(cursor[0], dynamicPresent));
    cursor += dynamicPresent;
    note->fret = static_cast<std::uint8_t>(kept(cursor[0], typeAndFretPresent));
    cursor += typeAndFretPresent;
    note->leftFingering = static_cast<std::int8_t>(kept(cursor[0], fingeringPresent));
    note->rightFingering = static_cast<std::int8_t>(kept(cursor[1], fingeringPresent));
    return cursor + 2 * fingeringPresent;
}

// LoadNote on a note that is all zero already.
int ReadClearedNote(Note *note, Stream stream) {
    if (WindowBytesAhead(stream) >= largestNoteFieldsSize) {
        stream.loading->cursor = TakeNoteFields(note, stream.loading->cursor);
        if ((note->flags & NoteHasEffects) == 0) return 1;
        note->effect = CreateNoteEffectFromFile(stream);
        return note->effect != nullptr ? 1 : 0;
    }
    std::uint8_t ownDuration[2];
    std::uint8_t fingering[2];
    if (!ReadField(stream, &note->flags, sizeof note->flags)) goto fail;
    if ((note->flags & NoteHasTypeAndFret) &&
        !ReadField(stream, &note->noteType, sizeof note->noteType))
        goto fail;
    if (note->flags & NoteHasDuration) {
        if (!ReadField(stream, ownDuration, sizeof ownDuration)) goto fail;
        note->timeIndependentDuration = static_cast<std::int8_t>(ownDuration[0]);
        note->timeIndependentTuplet = ownDuration[1];
    }
    if ((note->flags & NoteHasDynamic) &&
        !ReadField(stream, &note->dynamic, sizeof note->dynamic))
        goto fail;
    if ((note->flags & NoteHasTypeAndFret) && !ReadField(stream, &note->fret, sizeof note->fret))
        goto fail;
    if (note->flags & NoteHasFingering) {
        if (!ReadItems(stream, fingering, 1, 2)) goto fail;
        note->leftFingering = static_cast<std::int8_t>(fingering[0]);
        note->rightFingering = static_cast<std::int8_t>(fingering[1]);
    }
    if (note->flags & NoteHasEffects) {
        note->effect = CreateNoteEffectFromFile(stream);
        if (note->effect == nullptr) goto fail;
    }
    return 1;
fail:
    FreeNote(note);
    return 0;
}

// Reads one note into a record in any state. Only the tests read single
// notes; the body reads its notes into cleared beats.
[[maybe_unused]] int LoadNote(Note *note, Stream stream) {
    std::memset(note, 0, sizeof *note);
    return ReadClearedNote(note, stream);
}

// Most beats own nothing: each release is called only for what is there.
// Notes are read only into the slots that the string flags announce, in a
// beat cleared first, so the other slots hold no note and own nothing; only
// the announced slots are visited, slot 0 first, which spares releasing a
// song a walk through every slot of every beat.
[[gnu::always_inline]] inline void FreeBeat(Beat *beat) {
    if (beat->chordDiagram != nullptr) DestroyChordDiagram(&beat->chordDiagram);
    if (beat->text != nullptr) DestroyString(&beat->text);
    if (beat->beatEffect != nullptr) DestroyBeatEffect(&beat->beatEffect);
    if (beat->mixTableEvent != nullptr) DestroyMixTableEvent(&beat->mixTableEvent);
    for (std::uint32_t strings = beat->stringFlags & allStringBits; strings != 0;) {
        const std::uint32_t slot = TakeFirstString(&strings);
        FreeNote(&beat->notes[slot]);
    }
}

// The most bytes a beat's opening fields take: flags, status, duration, tuplet.
constexpr std::size_t largestBeatOpeningSize = 3 + sizeof(std::int32_t);

// A beat's opening fields taken straight from the window at cursor, which
// holds all of them, as ReadClearedBeat would read them. Returns the cursor
// after them.
const unsigned char *TakeBeatOpening(Beat *beat, const unsigned char *cursor) {
    const std::uint8_t flags = *cursor++;
    beat->flags = flags;
    if (flags & BeatHasStatus) beat->status = *cursor++;
    beat->duration = static_cast<std::int8_t>(*cursor++);
    if (flags & BeatHasTuplet) {
        std::memcpy(&beat->tuplet, cursor, sizeof beat->tuplet);
        cursor += sizeof beat->tuplet;
    }
    return cursor;
}

// Reads the notes of the slots whose string bits are set into the cleared
// beat, slot 0 (bit 6) first; 0 at the first note that fails.
int ReadClearedNotes(Beat *beat, std::uint32_t strings, Stream stream) {
    while (strings != 0) {
        const std::uint32_t slot = TakeFirstString(&strings);
        if (!ReadClearedNote(&beat->notes[slot], stream)) return 0;
    }
    return 1;
}

// The beat flags that announce blocks after the opening fields.
constexpr std::uint8_t beatBlockFlags = BeatHasChordDiagram | BeatHasText | BeatHasEffects | BeatHasMixTable;

// The most bytes a beat without those blocks takes before its note effects:
// its opening fields, its string flags, seven notes' own fields.
constexpr std::size_t largestPlainBeatSize = largestBeatOpeningSize + 1 + noteSlotCount * largestNoteFieldsSize;

// What reading a beat into a cleared record gave.
enum BeatRead : int {
    BeatFailed = 0,  // the beat is to be freed
    BeatOwnsNothing = 1,
    BeatOwnsBlocks = 2,  // it holds a chord diagram, text, beat effect, mix-table change or note effect
};

// Most beats carry no block and no note effect. When the window holds all the
// bytes such a beat can take, the whole beat is copied from it with one
// cursor; a note with effects reads them through the stream, after which the
// remaining notes are read as ReadClearedNote reads them. ReadClearedBeat
// makes sure the window holds largestPlainBeatSize bytes and the beat has no
// blocks.
[[gnu::always_inline]] inline BeatRead ReadPlainBeatFromWindow(Beat *beat, Stream stream) {
    LoadingStream &loading = *stream.loading;
    const unsigned char *cursor = TakeBeatOpening(beat, loading.cursor);
    beat->stringFlags = *cursor++;
    std::uint32_t strings = beat->stringFlags & allStringBits;
    while (strings != 0) {
        const std::uint32_t slot = TakeFirstString(&strings);
        Note *note = &beat->notes[slot];
        cursor = TakeNoteFields(note, cursor);
        if ((note->flags & NoteHasEffects) == 0) continue;
        loading.cursor = cursor;
        note->effect = CreateNoteEffectFromFile(stream);
        if (note->effect == nullptr) return BeatFailed;
        return ReadClearedNotes(beat, strings, stream) ? BeatOwnsBlocks : BeatFailed;
    }
    loading.cursor = cursor;
    return BeatOwnsNothing;
}

bool BeatOwnsAnyBlock(const Beat &beat) {
    if (beat.chordDiagram != nullptr || beat.text != nullptr || beat.beatEffect != nullptr ||
        beat.mixTableEvent != nullptr)
        return true;
    for (std::uint32_t strings = beat.stringFlags & allStringBits; strings != 0;) {
        const std::uint32_t slot = TakeFirstString(&strings);
        if (beat.notes[slot].effect != nullptr) return true;
    }
    return false;
}

// ReadClearedBeat for any beat, field by field.
[[gnu::noinline]] BeatRead ReadClearedBeatByField(Beat *beat, Stream stream) {
    if (!ReadField(stream, &beat->flags, sizeof beat->flags)) goto fail;
    if ((beat->flags & BeatHasStatus) && !ReadField(stream, &beat->status, sizeof beat->status)) goto fail;
    if (!ReadField(stream, &beat->duration, sizeof beat->duration)) goto fail;
    if ((beat->flags & BeatHasTuplet) && !ReadField(stream, &beat->tuplet, sizeof beat->tuplet)) goto fail;
    if (beat->flags & BeatHasChordDiagram) {
        beat->chordDiagram = CreateChordDiagramFromFile(stream);
        if (beat->chordDiagram == nullptr) goto fail;
    }
    if ((beat->flags & BeatHasText) && !ReadIntByteString(stream, &beat->text)) goto fail;
    if (beat->flags & BeatHasEffects) {
        beat->beatEffect = CreateBeatEffectFromFile(stream);
        if (beat->beatEffect == nullptr) goto fail;
    }
    if (beat->flags & BeatHasMixTable) {
        beat->mixTableEvent = CreateMixTableEventFromFile(stream);
        if (beat->mixTableEvent == nullptr) goto fail;
    }
    if (!ReadField(stream, &beat->stringFlags, sizeof beat->stringFlags)) goto fail;
    if (!ReadClearedNotes(beat, beat->stringFlags & allStringBits, stream)) goto fail;
    return BeatOwnsAnyBlock(*beat) ? BeatOwnsBlocks : BeatOwnsNothing;
fail:
    FreeBeat(beat);
    return BeatFailed;
}

// LoadBeat on a beat that is all zero already, as the beats of the body's
// row buffer are: the notes are read into their zero slots as they are. A
// beat without blocks that the window holds whole is copied from it; any
// other beat is read field by field.
[[gnu::always_inline]] inline BeatRead ReadClearedBeat(Beat *beat, Stream stream) {
    if (WindowBytesAhead(stream) >= largestPlainBeatSize && (stream.loading->cursor[0] & beatBlockFlags) == 0) {
        const BeatRead read = ReadPlainBeatFromWindow(beat, stream);
        if (read == BeatFailed) FreeBeat(beat);
        return read;
    }
    return ReadClearedBeatByField(beat, stream);
}

// Reads one beat into a record in any state. Only the tests read single
// beats; the body reads its beats into cleared records.
[[maybe_unused]] int LoadBeat(Beat *beat, Stream stream) {
    std::memset(beat, 0, sizeof *beat);
    return ReadClearedBeat(beat, stream) != BeatFailed ? 1 : 0;
}

// A pair's owner bits: one a beat for its first beats, one for all the others.
constexpr std::uint32_t ownerBitBeats = 31;
constexpr std::uint32_t laterBeatsOwnBit = 1u << ownerBitBeats;

constexpr std::uint32_t OwnerBit(std::uint32_t beat) { return beat < ownerBitBeats ? 1u << beat : laterBeatsOwnBit; }

// The index of the lowest set bit of bits, which is not 0.
std::uint32_t LowestBitIndex(std::uint32_t bits) {
#if defined(__GNUC__)
    return static_cast<std::uint32_t>(__builtin_ctz(bits));
#else
    std::uint32_t index = 0;
    while ((bits & 1u) == 0) {
        bits >>= 1;
        ++index;
    }
    return index;
#endif
}

// Releases what the beats of a row own and the row's beat block, and leaves
// every pair without beats. The pairs are released last first, as the rows
// are: what was read last is what the caches still hold. Only the beats that
// a pair's owner bits name are visited.
void FreeMeasureRow(MeasureTrackPair *row, std::uint32_t trackCount) {
    for (std::uint32_t track = trackCount; track-- > 0;) {
        MeasureTrackPair *pair = &row[track];
        if (pair->beats != nullptr) {
            if (pair->owners & laterBeatsOwnBit) {
                for (std::uint32_t beat = pair->beatCount; beat-- > ownerBitBeats;) FreeBeat(&pair->beats[beat]);
            }
            for (std::uint32_t bits = pair->owners & ~laterBeatsOwnBit; bits != 0; bits &= bits - 1) {
                const std::uint32_t beat = LowestBitIndex(bits);
                if (beat < pair->beatCount) FreeBeat(&pair->beats[beat]);
            }
        }
        pair->owners = 0;
    }
    if (trackCount != 0) MemFree(row[0].beats);
    for (std::uint32_t track = 0; track < trackCount; ++track) row[track].beats = nullptr;
}

const std::uint64_t leastBeatSize = 3;  // flags, duration, string flags

// The beats of the row being read, before they move into the row's block.
// Every beat from `used` on is all zero, ready to be read into.
struct RowBuffer {
    Beat *beats;
    std::size_t capacity;
    std::size_t used;
};

// Makes room for count more beats, zero-filled; 0 when the room cannot be had
// (the buffer then keeps what it holds). The buffer doubles, or grows to what
// is needed when that is more; it never asks for more than twice the beats a
// row of the file has announced, so a small file gets a small buffer.
int GrowRowBuffer(RowBuffer *buffer, std::size_t count) {
    if (count <= buffer->capacity - buffer->used) return 1;
    const std::size_t largest = SIZE_MAX / sizeof(Beat);
    if (count > largest - buffer->used) return 0;
    const std::size_t needed = buffer->used + count;
    std::size_t capacity = buffer->capacity > largest / 2 ? largest : buffer->capacity * 2;
    if (capacity < needed) capacity = needed;
    void *grown = MemRealloc(buffer->beats, capacity * sizeof(Beat));
    if (grown == nullptr) return 0;
    buffer->beats = static_cast<Beat *>(grown);
    std::memset(buffer->beats + buffer->capacity, 0, (capacity - buffer->capacity) * sizeof(Beat));
    buffer->capacity = capacity;
    return 1;
}

// Reads the pairs of one measure, track by track, into the row of trackCount
// zero pairs: each pair's beat count, then its beats into the row buffer.
// Once every pair is read, the row's beats move into one block of their
// exact size, pair after pair, and the buffer is cleared for the next row.
// Returns 1 with the row complete; 0 with everything the row's beats own
// released and no pair holding beats (the counts read stay).
int LoadMeasureRow(MeasureTrackPair *row, std::uint32_t trackCount, RowBuffer *buffer, Stream stream) {
    buffer->used = 0;
    for (std::uint32_t track = 0; track < trackCount; ++track) {
        MeasureTrackPair *pair = &row[track];
        pair->owners = 0;
        if (!ReadField(stream, &pair->beatCount, sizeof pair->beatCount)) goto fail;
        if (!CountFits(stream, pair->beatCount, leastBeatSize)) goto fail;
        if (!GrowRowBuffer(buffer, pair->beatCount)) goto fail;
        Beat *beats = buffer->beats + buffer->used;
        for (std::uint32_t beat = 0; beat < pair->beatCount; ++beat) {
            const BeatRead read = ReadClearedBeat(&beats[beat], stream);
            if (read == BeatFailed) goto fail;
            if (read == BeatOwnsBlocks) pair->owners |= OwnerBit(beat);
            ++buffer->used;
        }
    }
    {
        // A row of no beats still gets a (zero) block: every pair has beats.
        const std::size_t size = buffer->used * sizeof(Beat);
        Beat *block = static_cast<Beat *>(size == 0 ? MemCalloc(1, sizeof(Beat)) : MemAlloc(size));
        if (block == nullptr) goto fail;
        if (size != 0) {
            std::memcpy(block, buffer->beats, size);
            std::memset(buffer->beats, 0, size);
        }
        std::size_t start = 0;
        for (std::uint32_t track = 0; track < trackCount; ++track) {
            row[track].beats = block + start;
            start += row[track].beatCount;
        }
        buffer->used = 0;
    }
    return 1;
fail:
    // The beat that failed released itself; what those before it own goes
    // now, and the buffer is cleared up to and with the failed beat.
    for (std::size_t beat = 0; beat < buffer->used; ++beat) FreeBeat(&buffer->beats[beat]);
    if (buffer->beats != nullptr) {
        const std::size_t touched = buffer->used < buffer->capacity ? buffer->used + 1 : buffer->capacity;
        std::memset(buffer->beats, 0, touched * sizeof(Beat));
    }
    buffer->used = 0;
    for (std::uint32_t track = 0; track < trackCount; ++track) row[track].owners = 0;
    return 0;
}

void FreeBodyStruct(BodyStruct *body, std::uint32_t measureCount, std::uint32_t trackCount) {
    if (body->measures != nullptr) {
        for (std::uint32_t measure = 0; measure < measureCount; ++measure)
            FreeMeasure(&body->measures[measure]);
        MemFree(body->measures);
        body->measures = nullptr;
    }
    if (body->tracks != nullptr) {
        for (std::uint32_t track = 0; track < trackCount; ++track) FreeTrack(&body->tracks[track]);
        MemFree(body->tracks);
        body->tracks = nullptr;
    }
    if (body->measureTrackPairs != nullptr) {
        // Last row first: what was read last is what the caches still hold.
        for (std::uint32_t measure = measureCount; measure-- > 0;) {
            MeasureTrackPair *row = body->measureTrackPairs[measure];
            if (row == nullptr) continue;
            FreeMeasureRow(row, trackCount);
            MemFree(row);
        }
        MemFree(body->measureTrackPairs);
        body->measureTrackPairs = nullptr;
    }
}

// The least sizes on disk of a measure header, a track and a measure-track pair.
const std::uint64_t leastMeasureSize = 1;
const std::uint64_t leastTrackSize = 98;
const std::uint64_t leastPairSize = 4;

int LoadBodyStruct(BodyStruct *body, Stream stream, std::uint32_t measureCount,
                   std::uint32_t trackCount) {
    RowBuffer buffer = {nullptr, 0, 0};
    body->measures = nullptr;
    body->tracks = nullptr;
    body->measureTrackPairs = nullptr;
    if (!CountFits(stream, measureCount, leastMeasureSize) ||
        !CountFits(stream, trackCount, leastTrackSize))
        goto fail;
    body->measures = static_cast<Measure *>(AllocateArray(measureCount, sizeof(Measure)));
    if (body->measures == nullptr) goto fail;
    body->tracks = static_cast<Track *>(AllocateArray(trackCount, sizeof(Track)));
    if (body->tracks == nullptr) goto fail;
    // A measure header or track that fails leaves the arrays to the caller's free.
    for (std::uint32_t measure = 0; measure < measureCount; ++measure)
        if (!LoadMeasure(&body->measures[measure], stream)) return 0;
    for (std::uint32_t track = 0; track < trackCount; ++track)
        if (!LoadTrack(&body->tracks[track], stream)) return 0;
    if (trackCount != 0 && !CountFits(stream, measureCount, leastPairSize * trackCount)) goto fail;
    body->measureTrackPairs =
        static_cast<MeasureTrackPair **>(AllocateArray(measureCount, sizeof(MeasureTrackPair *)));
    if (body->measureTrackPairs == nullptr) goto fail;
    for (std::uint32_t measure = 0; measure < measureCount; ++measure) {
        MeasureTrackPair *row =
            static_cast<MeasureTrackPair *>(AllocateArray(trackCount, sizeof(MeasureTrackPair)));
        body->measureTrackPairs[measure] = row;
        if (row == nullptr) goto fail;
        if (trackCount != 0 && !LoadMeasureRow(row, trackCount, &buffer, stream)) goto fail;
    }
    MemFree(buffer.beats);
    return 1;
fail:
    MemFree(buffer.beats);
    FreeBodyStruct(body, measureCount, trackCount);
    return 0;
}

// Sets up the load's context: the stream read through the window's storage
// when its size is known, else read directly.
void StartLoading(LoadingStream *loading, std::FILE *stream, unsigned char *windowStorage) {
    loading->stream = stream;
    loading->size = MeasureStreamSize(stream);
    loading->windowBytes = nullptr;
    loading->windowStart = 0;
    loading->cursor = nullptr;
    loading->windowEnd = nullptr;
    loading->streamPosition = -1;
    loading->failure = LoadFailure::None;
    if (loading->size < 0 || windowCapacity == 0 || windowCapacity > largestWindowCapacity) return;
    loading->windowBytes = windowStorage;
    loading->windowStart = std::ftell(stream);
    loading->cursor = loading->windowBytes;
    loading->windowEnd = loading->windowBytes;
    loading->streamPosition = loading->windowStart;
}

// Hands the reader's position back to the stream and stops using the window.
void EndLoading(LoadingStream *loading) {
    if (loading->windowBytes == nullptr) return;
    std::fseek(loading->stream, WindowPosition(*loading), SEEK_SET);
    loading->windowBytes = nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// The file frame

int LoadFileStruct(FileStruct *file, std::FILE *stream, LoadFailure *failure) {
    int loaded = 0;
    unsigned char windowStorage[largestWindowCapacity];
    LoadingStream loading;
    std::memset(file, 0, sizeof *file);
    StartLoading(&loading, stream, windowStorage);
    const Stream read(&loading);
    if (!LoadHeadersStruct(&file->headers, read)) goto fail;
    if (!LoadBodyStruct(&file->body, read, file->headers.pieceInfo.measureCount,
                        file->headers.pieceInfo.trackCount))
        goto fail;
    loaded = 1;
fail:
    EndLoading(&loading);
    if (!loaded) FreeFileStruct(file);
    // A failure no reader named is a refused allocation.
    if (failure != nullptr)
        *failure = loaded ? LoadFailure::None
                          : loading.failure != LoadFailure::None ? loading.failure : LoadFailure::OutOfMemory;
    return loaded;
}

int LoadFileStruct(FileStruct *file, std::FILE *stream) { return LoadFileStruct(file, stream, nullptr); }

// The body goes first, while the header still holds the counts that size it.
void FreeFileStruct(FileStruct *file) {
    FreeBodyStruct(&file->body, file->headers.pieceInfo.measureCount,
                   file->headers.pieceInfo.trackCount);
    FreeHeadersStruct(&file->headers);
}

}  // namespace Talvoren
