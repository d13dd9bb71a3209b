// song_handle.cpp - the song-handle exports of zelto_song.h: a handle is a
// song of its own, read and rendered through the same code as the global
// song, and copied out into the caller's fixed-size records.
#include <cstddef>
#include <cstdint>

#include "gp/convert.h"
#include "gp/perform.h"
#include "zelto/song_access.h"
#include "zelto_song.h"

namespace Talvoren {
namespace {

// A handle is the address of its song; the type stays opaque to the host.
const FileStruct *SongOf(const ZELTO_Song *song) { return reinterpret_cast<const FileStruct *>(song); }
FileStruct *SongOf(ZELTO_Song *song) { return reinterpret_cast<FileStruct *>(song); }

void FillBeat(const Beat &beat, std::uint32_t measure, std::uint32_t firstNote, ZELTO_SongBeat *out) {
    out->flags = beat.flags;
    out->status = beat.status;
    out->duration = beat.duration;
    out->tuplet = beat.tuplet;
    out->stringFlags = beat.stringFlags;
    out->firstNote = firstNote;
    out->noteCount = 0;
    out->measure = measure;
}

void FillNote(const Note &note, std::uint32_t string, ZELTO_SongNote *out) {
    *out = ZELTO_SongNote{};
    out->string = string;
    out->flags = note.flags;
    out->noteType = note.noteType;
    out->fret = note.fret;
    out->dynamic = note.dynamic;
    out->timeIndependentDuration = note.timeIndependentDuration;
    out->timeIndependentTuplet = note.timeIndependentTuplet;
    out->leftFingering = note.leftFingering;
    out->rightFingering = note.rightFingering;
    const NoteEffect *effect = note.effect;
    if (effect == nullptr) return;
    out->effectFlags1 = effect->flags1;
    out->effectFlags2 = effect->flags2;
    out->graceFret = effect->graceFret;
    out->graceDynamic = effect->graceDynamic;
    out->graceTransition = effect->graceTransition;
    out->graceDuration = effect->graceDuration;
    out->tremoloPicking = effect->tremoloPicking;
    out->slide = effect->slide;
    out->harmonic = effect->harmonic;
    out->trillFret = effect->trillFret;
    out->trillPeriod = effect->trillPeriod;
}

// The number of notes a beat holds: the strings its flags name.
std::uint32_t BeatNoteCount(const Beat &beat) {
    std::uint32_t count = 0;
    for (std::uint32_t strings = beat.stringFlags & allStringBits; strings != 0; strings &= strings - 1) ++count;
    return count;
}

int32_t FillBend(const Bend *curve, ZELTO_SongBend *bend, ZELTO_SongBendPoint *points, uint32_t pointCapacity) {
    if (curve == nullptr || bend == nullptr || (points == nullptr && pointCapacity != 0)) return 0;
    bend->bendType = curve->bendType;
    bend->bendValue = curve->bendValue;
    bend->pointCount = curve->pointCount;
    for (std::uint32_t point = 0; point < curve->pointCount && point < pointCapacity; ++point) {
        points[point].position = curve->points[point].position;
        points[point].value = curve->points[point].value;
        points[point].vibrato = curve->points[point].vibrato;
    }
    return 1;
}

// The limit a refused rendering passed, as zelto_song.h numbers it.
std::uint32_t LimitOf(RenderRefusal refusal) {
    switch (refusal) {
    case RenderRefusal::Ticks: return ZELTO_SONG_LIMIT_TICKS;
    case RenderRefusal::MeasureVisits: return ZELTO_SONG_LIMIT_MEASURES;
    case RenderRefusal::Events: return ZELTO_SONG_LIMIT_EVENTS;
    case RenderRefusal::Text: return ZELTO_SONG_LIMIT_TEXT;
    case RenderRefusal::Size: return ZELTO_SONG_LIMIT_SIZE;
    case RenderRefusal::None:
    case RenderRefusal::Memory: break;
    }
    return ZELTO_SONG_LIMIT_NONE;
}

template <std::size_t size, typename From, typename To>
void CopyArray(const From (&from)[size], To (&to)[size]) {
    for (std::size_t index = 0; index < size; ++index) to[index] = from[index];
}

}  // namespace
}  // namespace Talvoren

using namespace Talvoren;

extern "C" {

ZELTO_API int32_t ZELTO_SongOpen(const char *path, ZELTO_Song **song) {
    if (song == nullptr) return ZELTO_SONG_INVALID_ARGUMENT;
    FileStruct *opened = nullptr;
    const std::int32_t result = OpenSongFile(path, &opened);
    *song = reinterpret_cast<ZELTO_Song *>(opened);
    return result;
}

ZELTO_API void ZELTO_SongClose(ZELTO_Song *song) { CloseSongFile(SongOf(song)); }

ZELTO_API const char *ZELTO_SongResultText(int32_t result) {
    switch (result) {
    case ZELTO_SONG_OK: return "success";
    case ZELTO_SONG_INVALID_ARGUMENT: return "invalid argument";
    case ZELTO_SONG_CANNOT_OPEN: return "the file cannot be opened";
    case ZELTO_SONG_OTHER_VERSION: return "not a Guitar Pro 4 song file (another format or version)";
    case ZELTO_SONG_CUT_OFF: return "the file is cut off: it ends before the song it announces";
    case ZELTO_SONG_DAMAGED: return "the file is damaged: it holds a value the format does not allow";
    case ZELTO_SONG_OUT_OF_MEMORY: return "out of memory";
    case ZELTO_SONG_TOO_LONG: return "the song is too long to render as a MIDI file";
    case ZELTO_SONG_CANNOT_READ: return "the file cannot be read (it is a folder, or reading it failed)";
    case ZELTO_SONG_EMPTY: return "the file is empty";
    default: return "unknown result";
    }
}

ZELTO_API int32_t ZELTO_SongGetInfo(const ZELTO_Song *handle, ZELTO_SongInfo *info) {
    const FileStruct *song = SongOf(handle);
    if (song == nullptr || info == nullptr) return 0;
    const TabInfo &tab = song->headers.tabInfo;
    const GPPieceInfo &piece = song->headers.pieceInfo;
    info->version = song->headers.version;
    info->title = tab.title;
    info->subtitle = tab.subtitle;
    info->interpret = tab.interpret;
    info->album = tab.album;
    info->author = tab.author;
    info->copyright = tab.copyright;
    info->tabAuthor = tab.tabAuthor;
    info->instructions = tab.instructions;
    info->noticeLineCount = tab.noticeLineCount;
    info->tripletFeel = tab.tripletFeel;
    info->lyricsTrack = song->headers.lyricsInfo.lyricsTrack;
    info->tempo = piece.tempo;
    info->key = piece.key;
    info->octave = piece.octave;
    info->measureCount = piece.measureCount;
    info->trackCount = piece.trackCount;
    return 1;
}

ZELTO_API const char *ZELTO_SongGetNoticeLine(const ZELTO_Song *song, uint32_t line) {
    return SongNoticeLine(SongOf(song), line);
}

ZELTO_API const char *ZELTO_SongGetLyricsLine(const ZELTO_Song *song, uint32_t line) {
    return SongLyricsLine(SongOf(song), line);
}

ZELTO_API int32_t ZELTO_SongGetMidiChannel(const ZELTO_Song *song, uint32_t port, uint32_t channel,
                                           ZELTO_MidiChannelInfo *entry) {
    const MidiChannelInfo *found = SongMidiChannel(SongOf(song), port, channel);
    if (found == nullptr || entry == nullptr) return 0;
    entry->instrument = found->instrument;
    entry->volume = found->volume;
    entry->balance = found->balance;
    entry->chorus = found->chorus;
    entry->reverb = found->reverb;
    entry->phaser = found->phaser;
    entry->tremolo = found->tremolo;
    entry->filler[0] = found->filler[0];
    entry->filler[1] = found->filler[1];
    return 1;
}

ZELTO_API int32_t ZELTO_SongGetMeasure(const ZELTO_Song *song, uint32_t measure, ZELTO_SongMeasure *header) {
    const Measure *found = SongMeasureAt(SongOf(song), measure);
    if (found == nullptr || header == nullptr) return 0;
    header->flags = found->flags;
    header->keyNumerator = found->keyNumerator;
    header->keyDenominator = found->keyDenominator;
    header->repeatCount = found->repeatCount;
    header->altEndingCount = found->altEndingCount;
    header->tonality = found->tonality;
    header->tonalityType = found->tonalityType;
    header->markerText = found->marker != nullptr ? found->marker->text : nullptr;
    header->markerColor = found->marker != nullptr ? found->marker->color : 0;
    return 1;
}

ZELTO_API int32_t ZELTO_SongGetTrack(const ZELTO_Song *song, uint32_t track, ZELTO_SongTrack *record) {
    const Track *found = SongTrackAt(SongOf(song), track);
    if (found == nullptr || record == nullptr) return 0;
    record->name = found->name;
    record->flags = found->flags;
    record->stringCount = found->stringCount;
    CopyArray(found->tunings, record->tunings);
    record->midiPort = found->midiPort;
    record->midiChannel = found->midiChannel;
    record->effectsMidiChannel = found->effectsMidiChannel;
    record->fretCount = found->fretCount;
    record->capoHeight = found->capoHeight;
    record->color = found->color;
    return 1;
}

ZELTO_API int32_t ZELTO_SongGetBeats(const ZELTO_Song *handle, uint32_t track, uint32_t firstMeasure,
                                     uint32_t measureCount, ZELTO_SongBeat *beats, uint32_t beatCapacity,
                                     uint32_t *beatCount, ZELTO_SongNote *notes, uint32_t noteCapacity,
                                     uint32_t *noteCount, uint32_t *measureStarts) {
    const FileStruct *song = SongOf(handle);
    if (song == nullptr || beatCount == nullptr || noteCount == nullptr) return 0;
    const std::uint32_t songMeasures = song->headers.pieceInfo.measureCount;
    if (firstMeasure > songMeasures || measureCount > songMeasures - firstMeasure) return 0;
    if (SongTrackAt(song, track) == nullptr) return 0;
    std::uint64_t rangeBeats = 0, rangeNotes = 0;
    for (std::uint32_t measure = firstMeasure; measure < firstMeasure + measureCount; ++measure) {
        const MeasureTrackPair *pair = SongPairAt(song, measure, track);
        if (pair == nullptr) return 0;
        if (pair->beats == nullptr) continue;
        rangeBeats += pair->beatCount;
        for (std::uint32_t beat = 0; beat < pair->beatCount; ++beat) rangeNotes += BeatNoteCount(pair->beats[beat]);
    }
    // A range beyond 32-bit counts cannot be held by the caller's arrays.
    if (rangeBeats > UINT32_MAX || rangeNotes > UINT32_MAX) return 0;
    *beatCount = static_cast<std::uint32_t>(rangeBeats);
    *noteCount = static_cast<std::uint32_t>(rangeNotes);
    if (rangeBeats > beatCapacity || rangeNotes > noteCapacity) return 0;
    if ((rangeBeats != 0 && beats == nullptr) || (rangeNotes != 0 && notes == nullptr)) return 0;

    std::uint32_t beatIndex = 0, noteIndex = 0;
    for (std::uint32_t measure = firstMeasure; measure < firstMeasure + measureCount; ++measure) {
        if (measureStarts != nullptr) measureStarts[measure - firstMeasure] = beatIndex;
        const MeasureTrackPair *pair = SongPairAt(song, measure, track);
        const std::uint32_t pairBeats = pair->beats != nullptr ? pair->beatCount : 0;
        for (std::uint32_t beat = 0; beat < pairBeats; ++beat) {
            const Beat &read = pair->beats[beat];
            ZELTO_SongBeat *out = &beats[beatIndex++];
            FillBeat(read, measure, noteIndex, out);
            for (std::uint32_t strings = read.stringFlags & allStringBits; strings != 0;) {
                const std::uint32_t slot = TakeFirstString(&strings);
                FillNote(read.notes[slot], slot + 1, &notes[noteIndex++]);
                ++out->noteCount;
            }
        }
    }
    if (measureStarts != nullptr) measureStarts[measureCount] = beatIndex;
    return 1;
}

ZELTO_API const char *ZELTO_SongGetBeatText(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                            uint32_t beat) {
    const Beat *found = SongBeatAt(SongOf(song), measure, track, beat);
    return found != nullptr ? found->text : nullptr;
}

ZELTO_API int32_t ZELTO_SongGetBeatEffect(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                          uint32_t beat, ZELTO_SongBeatEffect *effect) {
    const Beat *found = SongBeatAt(SongOf(song), measure, track, beat);
    if (found == nullptr || found->beatEffect == nullptr || effect == nullptr) return 0;
    const BeatEffect &read = *found->beatEffect;
    effect->flags1 = read.flags1;
    effect->flags2 = read.flags2;
    effect->tappingType = read.tappingType;
    CopyArray(read.strokeSpeeds, effect->strokeSpeeds);
    effect->pickStroke = read.pickStroke;
    return 1;
}

ZELTO_API int32_t ZELTO_SongGetMixTableChange(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                              uint32_t beat, ZELTO_SongMixTableChange *change) {
    const Beat *found = SongBeatAt(SongOf(song), measure, track, beat);
    if (found == nullptr || found->mixTableEvent == nullptr || change == nullptr) return 0;
    const MixTableEvent &read = *found->mixTableEvent;
    change->instrument = read.instrument;
    change->volume = read.volume;
    change->balance = read.balance;
    change->chorus = read.chorus;
    change->reverb = read.reverb;
    change->phaser = read.phaser;
    change->tremolo = read.tremolo;
    change->tempo = read.tempo;
    change->volumeDuration = read.volumeDuration;
    change->balanceDuration = read.balanceDuration;
    change->chorusDuration = read.chorusDuration;
    change->reverbDuration = read.reverbDuration;
    change->phaserDuration = read.phaserDuration;
    change->tremoloDuration = read.tremoloDuration;
    change->tempoDuration = read.tempoDuration;
    change->applyToAllTracks = read.applyToAllTracks;
    return 1;
}

ZELTO_API int32_t ZELTO_SongGetChordDiagram(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                            uint32_t beat, ZELTO_SongChordDiagram *chord) {
    const Beat *found = SongBeatAt(SongOf(song), measure, track, beat);
    if (found == nullptr || found->chordDiagram == nullptr || chord == nullptr) return 0;
    const ChordDiagram &read = *found->chordDiagram;
    chord->name = read.name;
    chord->format = read.format;
    chord->sharp = read.sharp;
    chord->root = read.root;
    chord->chordType = read.chordType;
    chord->extension = read.extension;
    chord->bass = read.bass;
    chord->tonality = read.tonality;
    chord->add = read.add;
    chord->fifth = read.fifth;
    chord->ninth = read.ninth;
    chord->eleventh = read.eleventh;
    chord->baseFret = read.baseFret;
    CopyArray(read.frets, chord->frets);
    chord->barreCount = read.barreCount;
    CopyArray(read.barreFrets, chord->barreFrets);
    CopyArray(read.barreStarts, chord->barreStarts);
    CopyArray(read.barreEnds, chord->barreEnds);
    CopyArray(read.omissions, chord->omissions);
    CopyArray(read.fingerings, chord->fingerings);
    chord->showFingering = read.showFingering;
    return 1;
}

ZELTO_API int32_t ZELTO_SongGetBend(const ZELTO_Song *song, uint32_t measure, uint32_t track, uint32_t beat,
                                    uint32_t string, ZELTO_SongBend *bend, ZELTO_SongBendPoint *points,
                                    uint32_t pointCapacity) {
    const Beat *found = SongBeatAt(SongOf(song), measure, track, beat);
    const Note *note = found != nullptr ? BeatNoteOnString(*found, string) : nullptr;
    if (note == nullptr || note->effect == nullptr) return 0;
    return FillBend(note->effect->bend, bend, points, pointCapacity);
}

ZELTO_API int32_t ZELTO_SongGetTremoloBar(const ZELTO_Song *song, uint32_t measure, uint32_t track,
                                          uint32_t beat, ZELTO_SongBend *bend, ZELTO_SongBendPoint *points,
                                          uint32_t pointCapacity) {
    const Beat *found = SongBeatAt(SongOf(song), measure, track, beat);
    if (found == nullptr || found->beatEffect == nullptr) return 0;
    return FillBend(found->beatEffect->tremoloBar, bend, points, pointCapacity);
}

ZELTO_API int32_t ZELTO_SongCreateMidiBuffer(ZELTO_Song *song, uint32_t rendering, unsigned char **buffer,
                                             uint32_t *size) {
    return ZELTO_SongCreateMidiBufferWithin(song, rendering, 0, buffer, size, nullptr);
}

ZELTO_API int32_t ZELTO_SongCreateMidiBufferWithin(ZELTO_Song *song, uint32_t rendering, uint32_t largestSize,
                                                   unsigned char **buffer, uint32_t *size, uint32_t *limit) {
    if (buffer != nullptr) *buffer = nullptr;
    if (size != nullptr) *size = 0;
    if (limit != nullptr) *limit = ZELTO_SONG_LIMIT_NONE;
    if (song == nullptr || buffer == nullptr || size == nullptr) return ZELTO_SONG_INVALID_ARGUMENT;
    SongRendering render = nullptr;
    if (rendering == ZELTO_SONG_MIDI_PLAIN)
        render = ToMidiWithin;
    else if (rendering == ZELTO_SONG_MIDI_PERFORMED)
        render = ToPerformedMidiWithin;
    else
        return ZELTO_SONG_INVALID_ARGUMENT;
    RenderBudget budget = {largestSize, RenderRefusal::None};
    std::uint32_t passed = ZELTO_SONG_LIMIT_NONE;
    std::int32_t result = ZELTO_SONG_OUT_OF_MEMORY;
    switch (RenderSharedSongMidi(SongOf(song), render, buffer, size, &budget)) {
    case RenderOutcome::Rendered: result = ZELTO_SONG_OK; break;
    case RenderOutcome::TooManyTracks:
        passed = ZELTO_SONG_LIMIT_TRACKS;
        result = ZELTO_SONG_TOO_LONG;
        break;
    case RenderOutcome::ConversionFailed:
        passed = LimitOf(budget.refusal);
        result = budget.refusal == RenderRefusal::Memory ? ZELTO_SONG_OUT_OF_MEMORY : ZELTO_SONG_TOO_LONG;
        break;
    case RenderOutcome::SetUpFailed:
    case RenderOutcome::BufferFailed: break;
    }
    if (limit != nullptr) *limit = passed;
    return result;
}

}  // extern "C"
