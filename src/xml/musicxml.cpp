// musicxml.cpp - the MusicXML export: the song as written, one part per
// track. A fretted track has two staves, standard notation (a treble or bass
// clef an octave down) and tablature (a TAB clef tuned string by string);
// every note appears on both, with its string and fret. A percussion track
// has one percussion staff of unpitched notes, one instrument per drum key.
//
// Measures are written in file order, as a score reads: repeats are barlines
// and endings are brackets numbered with the passes they take. Durations are
// exact: the divisions of a quarter note are the least common multiple of
// every note value, dot and tuplet the song uses.
#include "xml/musicxml.h"

#include <cstring>

#include "gp/convert.h"
#include "gp/timeline.h"
#include "heap.h"

namespace Talvoren {
namespace {

// ---------------------------------------------------------------------------
// The text

bool Reserve(XmlText *text, std::uint64_t more) {
    if (text->failed) return false;
    const std::uint64_t needed = std::uint64_t{text->size} + more;
    if (needed <= text->capacity) return true;
    if (needed > largestMusicXmlBytes) {
        text->failed = text->tooLong = true;
        return false;
    }
    std::uint64_t capacity = text->capacity == 0 ? 4096 : text->capacity;
    while (capacity < needed) capacity *= 2;
    if (capacity > largestMusicXmlBytes) capacity = largestMusicXmlBytes;
    void *grown = MemRealloc(text->bytes, static_cast<std::size_t>(capacity));
    if (grown == nullptr) {
        text->failed = true;
        return false;
    }
    text->bytes = static_cast<char *>(grown);
    text->capacity = static_cast<std::uint32_t>(capacity);
    return true;
}

void Put(XmlText *text, const char *bytes, std::size_t count) {
    if (!Reserve(text, count)) return;
    std::memcpy(text->bytes + text->size, bytes, count);
    text->size += static_cast<std::uint32_t>(count);
}

void Put(XmlText *text, const char *literal) { Put(text, literal, std::strlen(literal)); }

void PutSigned(XmlText *text, std::int64_t value) {
    char digits[24];
    std::size_t count = 0;
    const bool negative = value < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value) : static_cast<std::uint64_t>(value);
    do {
        digits[sizeof digits - 1 - count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) digits[sizeof digits - 1 - count++] = '-';
    Put(text, digits + sizeof digits - count, count);
}

// A fraction of hundredths as a decimal: 150 as "1.5", -25 as "-0.25".
void PutHundredths(XmlText *text, std::int32_t hundredths) {
    if (hundredths < 0) Put(text, "-");
    const std::uint32_t magnitude = hundredths < 0 ? 0u - static_cast<std::uint32_t>(hundredths)
                                                   : static_cast<std::uint32_t>(hundredths);
    PutSigned(text, magnitude / 100);
    const std::uint32_t fraction = magnitude % 100;
    if (fraction == 0) return;
    const char digits[3] = {'.', static_cast<char>('0' + fraction / 10), static_cast<char>('0' + fraction % 10)};
    Put(text, digits, fraction % 10 == 0 ? 2 : 3);
}

// The file's 8-bit text is Latin-1: each byte from 0x80 on is two bytes of
// UTF-8. The five markup characters are escaped; control characters, which
// XML does not allow, are left out.
void PutEscaped(XmlText *text, const char *value) {
    for (const unsigned char *byte = reinterpret_cast<const unsigned char *>(value); *byte != 0; ++byte) {
        switch (*byte) {
        case '&': Put(text, "&amp;"); continue;
        case '<': Put(text, "&lt;"); continue;
        case '>': Put(text, "&gt;"); continue;
        case '"': Put(text, "&quot;"); continue;
        case '\'': Put(text, "&apos;"); continue;
        default: break;
        }
        if (*byte >= 0x80) {
            const char pair[2] = {static_cast<char>(0xC0 | (*byte >> 6)), static_cast<char>(0x80 | (*byte & 0x3F))};
            Put(text, pair, 2);
        } else if (*byte >= 0x20 || *byte == '\t' || *byte == '\n') {
            Put(text, reinterpret_cast<const char *>(byte), 1);
        }
    }
}

void Indent(XmlText *text, std::uint32_t depth) {
    static const char spaces[] = "                                ";
    Put(text, spaces, depth * 2 < sizeof spaces - 1 ? depth * 2 : sizeof spaces - 1);
}

// <name>value</name> on a line of its own.
void PutElement(XmlText *text, std::uint32_t depth, const char *name, const char *value) {
    Indent(text, depth);
    Put(text, "<");
    Put(text, name);
    Put(text, ">");
    PutEscaped(text, value);
    Put(text, "</");
    Put(text, name);
    Put(text, ">\n");
}

void PutNumberElement(XmlText *text, std::uint32_t depth, const char *name, std::int64_t value) {
    Indent(text, depth);
    Put(text, "<");
    Put(text, name);
    Put(text, ">");
    PutSigned(text, value);
    Put(text, "</");
    Put(text, name);
    Put(text, ">\n");
}

// A line of markup written as it stands.
void PutLine(XmlText *text, std::uint32_t depth, const char *markup) {
    Indent(text, depth);
    Put(text, markup);
    Put(text, "\n");
}

bool HasText(const char *value) { return value != nullptr && value[0] != 0; }

// ---------------------------------------------------------------------------
// Durations

std::uint64_t GreatestCommonDivisor(std::uint64_t a, std::uint64_t b) {
    while (b != 0) {
        const std::uint64_t rest = a % b;
        a = b;
        b = rest;
    }
    return a;
}


bool IsTupletBeat(const Beat &beat) { return (beat.flags & BeatHasTuplet) && TupletNormalNotes(beat.tuplet) != 0; }

// A beat's length as a fraction of a quarter note, in lowest terms.
struct Fraction {
    std::uint64_t numerator;
    std::uint64_t denominator;
};

Fraction BeatQuarters(const Beat &beat) {
    const std::int32_t code = ClampedDurationCode(beat.duration);
    Fraction length = code <= 0 ? Fraction{std::uint64_t{1} << -code, 1} : Fraction{1, std::uint64_t{1} << code};
    if (beat.flags & BeatDotted) length = {length.numerator * 3, length.denominator * 2};
    if (IsTupletBeat(beat)) {
        length.numerator *= TupletNormalNotes(beat.tuplet);
        length.denominator *= static_cast<std::uint32_t>(beat.tuplet);
    }
    const std::uint64_t common = GreatestCommonDivisor(length.numerator, length.denominator);
    return {length.numerator / common, length.denominator / common};
}

// The divisions of a quarter note that time every beat and measure exactly:
// at most 32 × 9 × 5 × 7 × 11 × 13 whatever the song holds.
std::uint64_t SongDivisions(const FileStruct *file) {
    std::uint64_t divisions = 1;
    const GPPieceInfo &piece = file->headers.pieceInfo;
    for (std::uint32_t measure = 0; measure < piece.measureCount; ++measure) {
        const Measure &header = file->body.measures[measure];
        if (header.flags & MeasureHasDenominator) {
            // A measure of n beats of 1/2^p lasts 4n / 2^p quarters.
            const std::uint64_t power = GetDenominatorPower(UsableDenominator(header.keyDenominator));
            const std::uint64_t denominator = power > 2 ? std::uint64_t{1} << (power - 2) : 1;
            divisions = divisions / GreatestCommonDivisor(divisions, denominator) * denominator;
        }
        for (std::uint32_t track = 0; track < piece.trackCount; ++track) {
            const MeasureTrackPair &pair = file->body.measureTrackPairs[measure][track];
            for (std::uint32_t beat = 0; beat < pair.beatCount; ++beat) {
                const std::uint64_t denominator = BeatQuarters(pair.beats[beat]).denominator;
                divisions = divisions / GreatestCommonDivisor(divisions, denominator) * denominator;
            }
        }
    }
    return divisions;
}

std::uint64_t BeatDivisions(const Beat &beat, std::uint64_t divisions) {
    const Fraction length = BeatQuarters(beat);
    return divisions / length.denominator * length.numerator;
}

const char *NoteTypeName(std::int32_t code) {
    static const char *const names[] = {"whole", "half", "quarter", "eighth", "16th", "32nd", "64th"};
    return names[ClampedDurationCode(static_cast<std::int8_t>(code)) + 2];
}

// ---------------------------------------------------------------------------
// Pitches

struct Spelling {
    char step;
    std::int8_t alter;
    std::int32_t octave;
};

// A MIDI key spelled with sharps in sharp keys and in C, with flats in flat
// keys. A key outside C0 to G9 (MIDI keys 12 to 127, the octaves 0 to 9 that
// a score can write; a hostile tuning) is spelled as the nearest of them.
Spelling SpellKey(std::int64_t wideKey, std::int32_t fifths) {
    const std::int32_t key = wideKey < 12 ? 12 : wideKey > 127 ? 127 : static_cast<std::int32_t>(wideKey);
    static const char sharpSteps[] = "CCDDEFFGGAAB";
    static const std::int8_t sharpAlters[] = {0, 1, 0, 1, 0, 0, 1, 0, 1, 0, 1, 0};
    static const char flatSteps[] = "CDDEEFGGAABB";
    static const std::int8_t flatAlters[] = {0, -1, 0, -1, 0, 0, -1, 0, -1, 0, -1, 0};
    const std::int32_t pitchClass = ((key % 12) + 12) % 12;
    const std::int32_t octave = (key - pitchClass) / 12 - 1;
    if (fifths < 0) return {flatSteps[pitchClass], flatAlters[pitchClass], octave};
    return {sharpSteps[pitchClass], sharpAlters[pitchClass], octave};
}

std::int32_t StepIndex(char step) { return step >= 'C' ? step - 'C' : step - 'A' + 5; }

// The alteration the key signature gives a step: sharps on F C G D A E B,
// flats on B E A D G C F, as many as the key has.
std::int8_t KeyAlter(std::int32_t fifths, char step) {
    static const char sharpOrder[] = "FCGDAEB";
    static const char flatOrder[] = "BEADGCF";
    const char *order = fifths >= 0 ? sharpOrder : flatOrder;
    const std::int32_t count = fifths >= 0 ? fifths : -fifths;
    for (std::int32_t index = 0; index < count && index < 7; ++index)
        if (order[index] == step) return static_cast<std::int8_t>(fifths >= 0 ? 1 : -1);
    return 0;
}

std::int32_t ClampedFifths(std::int32_t fifths) { return fifths < -7 ? -7 : fifths > 7 ? 7 : fifths; }

// The accidentals in force in one measure of one staff: the alteration of
// each step of each octave, and which of them an accidental has set.
struct AccidentalState {
    std::int32_t fifths;
    std::int8_t alters[11][7];
    bool set[11][7];
};

void StartMeasureAccidentals(AccidentalState *state, std::int32_t fifths) {
    std::memset(state, 0, sizeof *state);
    state->fifths = fifths;
}

// The accidental a note needs, or null, and the state after it.
const char *TakeAccidental(AccidentalState *state, const Spelling &pitch) {
    if (pitch.octave < 0 || pitch.octave > 10) return nullptr;
    const std::int32_t step = StepIndex(pitch.step);
    bool &set = state->set[pitch.octave][step];
    std::int8_t &alter = state->alters[pitch.octave][step];
    const std::int8_t current = set ? alter : KeyAlter(state->fifths, pitch.step);
    if (current == pitch.alter) return nullptr;
    set = true;
    alter = pitch.alter;
    return pitch.alter > 0 ? "sharp" : pitch.alter < 0 ? "flat" : "natural";
}

// ---------------------------------------------------------------------------
// Tracks

constexpr std::uint8_t trackPercussion = 0x01;  // track flag: a drum track
constexpr std::uint32_t percussionMidiChannel = 10;

bool IsPercussionTrack(const Track &track) {
    return (track.flags & trackPercussion) != 0 || track.midiChannel == percussionMidiChannel;
}

// A track whose highest string is below G3 reads in the bass clef.
bool IsBassRange(const Track &track) { return GetSoundingStringCount(track) != 0 && track.tunings[0] < 55; }

// The sounding key of a fret on a string (0-based): tuning, capo and fret.
std::int64_t FrettedKey(const Track &track, std::uint32_t string, std::uint32_t fret) {
    const std::uint32_t capo = track.capoHeight < 0x100 ? track.capoHeight : 0;
    return std::int64_t{track.tunings[string]} + capo + fret;
}

// The key a note sounds at: its fret's, or a harmonic's, which the notation
// staff shows at its sounding pitch.
std::int64_t SoundingKey(const Track &track, const Note &note, std::uint32_t string, std::uint32_t fret) {
    if (note.effect == nullptr || !(note.effect->flags2 & NoteEffectHarmonic) || note.effect->harmonic == 0)
        return FrettedKey(track, string, fret);
    const HarmonicPitch harmonic = GetHarmonicPitch(note.effect->harmonic, static_cast<std::uint8_t>(fret));
    return FrettedKey(track, string, harmonic.fromOpenString ? 0 : fret) + harmonic.semitones;
}

// Where a drum key stands on the percussion staff, and whether it is a cymbal.
struct DrumPlace {
    char step;
    std::int32_t octave;
    bool cymbal;
};

DrumPlace GetDrumPlace(std::uint32_t key) {
    switch (key) {
    case 35: case 36: return {'F', 4, false};
    case 41: case 43: return {'A', 4, false};
    case 45: case 47: return {'D', 5, false};
    case 48: case 50: return {'E', 5, false};
    case 37: case 38: case 39: case 40: return {'C', 5, false};
    case 42: case 44: case 46: return {'G', 5, true};
    case 49: case 52: case 55: case 57: return {'A', 5, true};
    case 51: case 53: case 59: return {'F', 5, true};
    default: return {'C', 5, false};
    }
}

const char *DynamicName(std::uint8_t dynamic) {
    static const char *const names[] = {"ppp", "pp", "p", "mp", "mf", "f", "ff", "fff"};
    return dynamic >= 1 && dynamic <= 8 ? names[dynamic - 1] : "f";
}

constexpr std::uint8_t defaultDynamic = 6;  // a note without a dynamic plays forte

// ---------------------------------------------------------------------------
// The links between the notes of a string: which note a tie continues, and
// the fret of the next note on the string (for a hammer-on or a pull-off).

constexpr std::uint8_t noFret = 0xFF;

struct BeatLinks {
    std::uint8_t tieStarts;              // string bits: the next note on the string is a tie
    std::uint8_t nextFrets[noteSlotCount];  // the next note's fret on each string, or noFret
};

struct TrackLinks {
    BeatLinks *beats;        // every beat of the track, in file order
    std::uint32_t *firsts;   // the index of each measure's first beat
};

bool IsTieNote(const Note &note) { return note.noteType == 2; }

// One pass over the track in file order: a note on a string links the note
// before it on that string. A rest ends every string.
bool LinkTrack(const FileStruct *file, std::uint32_t track, TrackLinks *links) {
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    links->firsts = static_cast<std::uint32_t *>(MemCalloc(std::size_t{measureCount} + 1, sizeof(std::uint32_t)));
    if (links->firsts == nullptr) return false;
    std::uint64_t beats = 0;
    for (std::uint32_t measure = 0; measure < measureCount; ++measure) {
        links->firsts[measure] = static_cast<std::uint32_t>(beats);
        beats += file->body.measureTrackPairs[measure][track].beatCount;
    }
    links->firsts[measureCount] = static_cast<std::uint32_t>(beats);
    links->beats = static_cast<BeatLinks *>(MemCalloc(beats != 0 ? static_cast<std::size_t>(beats) : 1, sizeof(BeatLinks)));
    if (links->beats == nullptr) return false;
    std::uint32_t last[noteSlotCount];
    bool sounding[noteSlotCount] = {};
    std::uint32_t index = 0;
    for (std::uint32_t measure = 0; measure < measureCount; ++measure) {
        const MeasureTrackPair &pair = file->body.measureTrackPairs[measure][track];
        for (std::uint32_t beat = 0; beat < pair.beatCount; ++beat, ++index) {
            const Beat &read = pair.beats[beat];
            std::memset(links->beats[index].nextFrets, noFret, noteSlotCount);
            if (IsBeatSilent(read)) {
                for (bool &string : sounding) string = false;
                continue;
            }
            for (std::uint32_t strings = read.stringFlags & allStringBits; strings != 0;) {
                const std::uint32_t string = TakeFirstString(&strings);
                const Note &note = read.notes[string];
                if (sounding[string]) {
                    BeatLinks &before = links->beats[last[string]];
                    if (IsTieNote(note)) before.tieStarts |= static_cast<std::uint8_t>(StringBit(string));
                    before.nextFrets[string] = note.fret;
                }
                last[string] = index;
                sounding[string] = true;
            }
        }
    }
    return true;
}

void FreeTrackLinks(TrackLinks *links) {
    MemFree(links->beats);
    MemFree(links->firsts);
    *links = TrackLinks{};
}

// ---------------------------------------------------------------------------
// Endings and repeats

// The passes an ending takes, as the playing order reads its number: "1",
// "1, 2", "3"; an ending that takes none is written with its stored number.
void PutEndingNumbers(XmlText *text, const PlayingOrder *order, std::uint32_t measure) {
    const EndingPasses passes = order->endings[measure];
    if (passes.firstPass > passes.lastPass) {
        PutSigned(text, order->file->body.measures[measure].altEndingCount);
        return;
    }
    for (std::uint32_t pass = passes.firstPass; pass <= passes.lastPass; ++pass) {
        if (pass != passes.firstPass) Put(text, ", ");
        PutSigned(text, pass);
    }
}

// An ending runs from its measure up to the close of its section (the next
// end of repeat), or until the next ending or the next section starts.
// Returns the last measure of the ending that starts at `measure`.
std::uint32_t EndingLastMeasure(const FileStruct *file, std::uint32_t measure) {
    const Measure *measures = file->body.measures;
    const std::uint32_t measureCount = file->headers.pieceInfo.measureCount;
    std::uint32_t last = measure;
    while (!(measures[last].flags & MeasureEndRepeat) && last + 1 < measureCount) {
        const Measure &next = measures[last + 1];
        if (next.flags & (MeasureAltEnding | MeasureBeginRepeat)) break;
        ++last;
    }
    // An ending that no end of repeat closes is the last one of its section: one measure.
    return (measures[last].flags & MeasureEndRepeat) ? last : measure;
}

// ---------------------------------------------------------------------------
// The document

// The syllables of the lyrics lines, one to each beat that sounds on the
// lyrics track, from its first measure on: words part at spaces and line
// breaks, syllables at hyphens.
struct LyricsCursor {
    const char *next[lyricsLineCount];
    bool continued[lyricsLineCount];  // the last syllable ended with a hyphen
};

struct Exporter {
    const FileStruct *file;
    const PlayingOrder *order;  // the endings' passes and the signatures in force
    XmlText *text;
    std::uint64_t divisions;
    std::uint32_t track;
    bool percussion;
    bool firstPart;
    TrackLinks links;
    std::uint8_t dynamic;       // the last dynamic written on the part
    std::int32_t fifths;        // the key in force
    std::uint32_t endingLast;   // the last measure of the ending in progress, or UINT32_MAX
    bool lyrics;                // the part carries the song's lyrics
    LyricsCursor lyricsCursor;
};

// What each string carries from one note to the next: the fret it sounds
// (for a tie; noFret after a rest), and whether a hammer-on, a pull-off or a
// slide leads into its next note.
struct StringState {
    std::uint8_t frets[noteSlotCount];
    bool hammerFrom[noteSlotCount];
    bool slideFrom[noteSlotCount];
    bool wavyOpen;  // a vibrato's wavy line waits for the next beat to end on
};

// A shift or legato slide (slide bytes 1 and 2) leads into the next note on
// its string; the other slides go in or out of nowhere.
bool IsSlideIntoNext(const Note &note) {
    return note.effect != nullptr && (note.effect->flags2 & NoteEffectSlide) && (note.effect->slide == 1 || note.effect->slide == 2);
}



void PutCreator(XmlText *text, const char *type, const char *value) {
    if (!HasText(value)) return;
    Indent(text, 2);
    Put(text, "<creator type=\"");
    Put(text, type);
    Put(text, "\">");
    PutEscaped(text, value);
    Put(text, "</creator>\n");
}

void PutMiscellaneous(XmlText *text, const char *name, const char *value) {
    if (!HasText(value)) return;
    Indent(text, 3);
    Put(text, "<miscellaneous-field name=\"");
    Put(text, name);
    Put(text, "\">");
    PutEscaped(text, value);
    Put(text, "</miscellaneous-field>\n");
}

void PutIdentification(const FileStruct *file, XmlText *text) {
    const TabInfo &tab = file->headers.tabInfo;
    if (HasText(tab.title)) {
        PutLine(text, 1, "<work>");
        PutElement(text, 2, "work-title", tab.title);
        PutLine(text, 1, "</work>");
    }
    if (HasText(tab.subtitle)) PutElement(text, 1, "movement-title", tab.subtitle);
    PutLine(text, 1, "<identification>");
    PutCreator(text, "composer", tab.author);
    PutCreator(text, "artist", tab.interpret);
    PutCreator(text, "transcriber", tab.tabAuthor);
    if (HasText(tab.copyright)) PutElement(text, 2, "rights", tab.copyright);
    PutLine(text, 2, "<encoding>");
    PutElement(text, 3, "software", "zelto");
    PutLine(text, 3, "<supports element=\"accidental\" type=\"yes\"/>");
    PutLine(text, 3, "<supports element=\"transpose\" type=\"no\"/>");
    PutLine(text, 2, "</encoding>");
    bool miscellaneous = HasText(tab.album) || HasText(tab.instructions);
    for (std::uint32_t line = 0; line < tab.noticeLineCount; ++line) miscellaneous |= HasText(tab.noticeLines[line]);
    if (miscellaneous) {
        PutLine(text, 2, "<miscellaneous>");
        PutMiscellaneous(text, "album", tab.album);
        PutMiscellaneous(text, "instructions", tab.instructions);
        for (std::uint32_t line = 0; line < tab.noticeLineCount; ++line)
            PutMiscellaneous(text, "notice", tab.noticeLines[line]);
        PutLine(text, 2, "</miscellaneous>");
    }
    PutLine(text, 1, "</identification>");
}

void PutPartId(XmlText *text, std::uint32_t track) {
    Put(text, "P");
    PutSigned(text, std::int64_t{track} + 1);
}

// The drum keys a percussion track plays: one instrument each.
void CollectDrumKeys(const FileStruct *file, std::uint32_t track, bool keys[128]) {
    for (std::uint32_t key = 0; key < 128; ++key) keys[key] = false;
    for (std::uint32_t measure = 0; measure < file->headers.pieceInfo.measureCount; ++measure) {
        const MeasureTrackPair &pair = file->body.measureTrackPairs[measure][track];
        for (std::uint32_t beat = 0; beat < pair.beatCount; ++beat) {
            const Beat &read = pair.beats[beat];
            for (std::uint32_t strings = read.stringFlags & allStringBits; strings != 0;) {
                const Note &note = read.notes[TakeFirstString(&strings)];
                if (note.fret < 128) keys[note.fret] = true;
            }
        }
    }
}

// An instrument's id: P1-I38 for drum key 38 of the first part; a fretted
// part's one instrument is number 1.
void PutInstrumentId(XmlText *text, std::uint32_t track, std::uint32_t key) {
    PutPartId(text, track);
    Put(text, "-I");
    PutSigned(text, key);
}

// Volume 0-127 in percent, balance 0-127 as -90 (left) to 90 (right) degrees.
void PutMidiInstrument(XmlText *text, const FileStruct *file, const Track &track, std::uint32_t index,
                       std::int32_t drumKey) {
    Indent(text, 3);
    Put(text, "<midi-instrument id=\"");
    PutInstrumentId(text, index, drumKey >= 0 ? static_cast<std::uint32_t>(drumKey) : 1);
    Put(text, "\">\n");
    const TrackChannels channels = GetTrackChannels(track);
    if (drumKey >= 0)
        PutNumberElement(text, 4, "midi-channel", percussionMidiChannel);
    else if (channels.sends)
        PutNumberElement(text, 4, "midi-channel", std::int64_t{channels.main} + 1);
    const MidiChannelInfo *entry = GetTrackChannelEntry(file, track);
    if (drumKey < 0 && entry != nullptr) PutNumberElement(text, 4, "midi-program", (entry->instrument & 0x7F) + 1);
    if (drumKey >= 0) PutNumberElement(text, 4, "midi-unpitched", drumKey + 1);
    if (entry != nullptr) {
        const std::uint32_t volume = GetVolumeValue(entry->volume);
        PutNumberElement(text, 4, "volume", (volume * 100 + 63) / 127);
        const std::int32_t balance = GetVolumeValue(entry->balance);
        PutNumberElement(text, 4, "pan", (balance - 64) * 90 / 64);
    }
    PutLine(text, 3, "</midi-instrument>");
}

void PutPartList(const FileStruct *file, XmlText *text) {
    PutLine(text, 1, "<part-list>");
    for (std::uint32_t index = 0; index < file->headers.pieceInfo.trackCount; ++index) {
        const Track &track = file->body.tracks[index];
        Indent(text, 2);
        Put(text, "<score-part id=\"");
        PutPartId(text, index);
        Put(text, "\">\n");
        PutElement(text, 3, "part-name", HasText(track.name) ? track.name : "Track");
        bool keys[128];
        const bool percussion = IsPercussionTrack(track);
        if (percussion) CollectDrumKeys(file, index, keys);
        for (std::uint32_t key = 0; key < 128; ++key) {
            if (percussion ? !keys[key] : key != 0) continue;
            Indent(text, 3);
            Put(text, "<score-instrument id=\"");
            PutInstrumentId(text, index, percussion ? key : 1);
            Put(text, "\">\n");
            Indent(text, 4);
            Put(text, "<instrument-name>");
            if (percussion)
                Put(text, "Drum "), PutSigned(text, key);
            else
                PutEscaped(text, HasText(track.name) ? track.name : "Track");
            Put(text, "</instrument-name>\n");
            PutLine(text, 3, "</score-instrument>");
        }
        if (track.midiPort >= 1 && track.midiPort <= midiPortCount) {
            Indent(text, 3);
            Put(text, "<midi-device port=\"");
            PutSigned(text, track.midiPort);
            Put(text, "\"></midi-device>\n");
        }
        for (std::uint32_t key = 0; key < 128; ++key) {
            if (percussion ? !keys[key] : key != 0) continue;
            PutMidiInstrument(text, file, track, index, percussion ? static_cast<std::int32_t>(key) : -1);
        }
        PutLine(text, 2, "</score-part>");
    }
    PutLine(text, 1, "</part-list>");
}

// ---------------------------------------------------------------------------
// Measures

void PutKey(XmlText *text, std::int32_t fifths) {
    PutLine(text, 3, "<key>");
    PutNumberElement(text, 4, "fifths", fifths);
    PutLine(text, 3, "</key>");
}

void PutTime(XmlText *text, std::uint32_t numerator, std::uint32_t denominator) {
    PutLine(text, 3, "<time>");
    PutNumberElement(text, 4, "beats", numerator);
    PutNumberElement(text, 4, "beat-type", denominator);
    PutLine(text, 3, "</time>");
}

void PutTuningStep(XmlText *text, std::uint32_t line, std::int32_t key) {
    const Spelling pitch = SpellKey(key, 0);
    Indent(text, 4);
    Put(text, "<staff-tuning line=\"");
    PutSigned(text, line);
    Put(text, "\">\n");
    const char step[2] = {pitch.step, 0};
    PutElement(text, 5, "tuning-step", step);
    if (pitch.alter != 0) PutNumberElement(text, 5, "tuning-alter", pitch.alter);
    PutNumberElement(text, 5, "tuning-octave", pitch.octave);
    PutLine(text, 4, "</staff-tuning>");
}

void PutFirstAttributes(Exporter *exporter, std::uint32_t numerator, std::uint32_t denominator) {
    XmlText *text = exporter->text;
    const Track &track = exporter->file->body.tracks[exporter->track];
    PutLine(text, 2, "<attributes>");
    PutNumberElement(text, 3, "divisions", static_cast<std::int64_t>(exporter->divisions));
    if (!exporter->percussion) PutKey(text, exporter->fifths);
    PutTime(text, numerator, denominator);
    if (exporter->percussion) {
        PutLine(text, 3, "<clef>");
        PutElement(text, 4, "sign", "percussion");
        PutLine(text, 3, "</clef>");
        PutLine(text, 2, "</attributes>");
        return;
    }
    PutNumberElement(text, 3, "staves", 2);
    const bool bass = IsBassRange(track);
    PutLine(text, 3, "<clef number=\"1\">");
    PutElement(text, 4, "sign", bass ? "F" : "G");
    PutNumberElement(text, 4, "line", bass ? 4 : 2);
    PutNumberElement(text, 4, "clef-octave-change", -1);
    PutLine(text, 3, "</clef>");
    PutLine(text, 3, "<clef number=\"2\">");
    PutElement(text, 4, "sign", "TAB");
    PutNumberElement(text, 4, "line", 5);
    PutLine(text, 3, "</clef>");
    const std::uint32_t strings = GetSoundingStringCount(track);
    PutLine(text, 3, "<staff-details number=\"2\">");
    PutNumberElement(text, 4, "staff-lines", strings);
    // Line 1 is the bottom line of the tablature: the last, lowest string.
    for (std::uint32_t line = 1; line <= strings; ++line) PutTuningStep(text, line, track.tunings[strings - line]);
    if (track.capoHeight != 0 && track.capoHeight < 0x100) PutNumberElement(text, 4, "capo", track.capoHeight);
    PutLine(text, 3, "</staff-details>");
    PutLine(text, 2, "</attributes>");
}

void PutDirectionStart(XmlText *text, const char *placement) {
    Indent(text, 2);
    Put(text, "<direction placement=\"");
    Put(text, placement);
    Put(text, "\">\n");
}

void PutDirectionEnd(XmlText *text) {
    PutNumberElement(text, 3, "staff", 1);
    PutLine(text, 2, "</direction>");
}

// A direction above the staff of one element of text: words or a rehearsal mark.
void PutTextDirection(XmlText *text, const char *element, const char *value) {
    PutDirectionStart(text, "above");
    PutLine(text, 3, "<direction-type>");
    PutElement(text, 4, element, value);
    PutLine(text, 3, "</direction-type>");
    PutDirectionEnd(text);
}

void PutWords(XmlText *text, const char *words) { PutTextDirection(text, "words", words); }

void PutTempo(XmlText *text, std::int64_t tempo, bool swing) {
    PutDirectionStart(text, "above");
    PutLine(text, 3, "<direction-type>");
    PutLine(text, 4, "<metronome>");
    PutElement(text, 5, "beat-unit", "quarter");
    PutNumberElement(text, 5, "per-minute", tempo);
    PutLine(text, 4, "</metronome>");
    PutLine(text, 3, "</direction-type>");
    if (swing) {
        PutLine(text, 3, "<direction-type>");
        PutElement(text, 4, "words", "Triplet feel");
        PutLine(text, 3, "</direction-type>");
    }
    PutNumberElement(text, 3, "staff", 1);
    Indent(text, 3);
    Put(text, "<sound tempo=\"");
    PutSigned(text, tempo);
    Put(text, swing ? "\">\n" : "\"/>\n");
    if (swing) {
        PutLine(text, 4, "<swing>");
        PutNumberElement(text, 5, "first", 2);
        PutNumberElement(text, 5, "second", 1);
        PutElement(text, 5, "swing-type", "eighth");
        PutLine(text, 4, "</swing>");
        PutLine(text, 3, "</sound>");
    }
    PutLine(text, 2, "</direction>");
}

void PutRehearsal(XmlText *text, const char *marker) { PutTextDirection(text, "rehearsal", marker); }

void PutDynamic(XmlText *text, std::uint8_t dynamic) {
    PutDirectionStart(text, "below");
    PutLine(text, 3, "<direction-type>");
    PutLine(text, 4, "<dynamics>");
    Indent(text, 5);
    Put(text, "<");
    Put(text, DynamicName(dynamic));
    Put(text, "/>\n");
    PutLine(text, 4, "</dynamics>");
    PutLine(text, 3, "</direction-type>");
    PutDirectionEnd(text);
}

void PutLeftBarline(Exporter *exporter, std::uint32_t measure) {
    const Measure &header = exporter->file->body.measures[measure];
    const bool ending = (header.flags & MeasureAltEnding) != 0;
    if (!(header.flags & MeasureBeginRepeat) && !ending) return;
    XmlText *text = exporter->text;
    PutLine(text, 2, "<barline location=\"left\">");
    if (header.flags & MeasureBeginRepeat) PutElement(text, 3, "bar-style", "heavy-light");
    if (ending) {
        Indent(text, 3);
        Put(text, "<ending number=\"");
        PutEndingNumbers(text, exporter->order, measure);
        Put(text, "\" type=\"start\"/>\n");
        exporter->endingLast = EndingLastMeasure(exporter->file, measure);
    }
    if (header.flags & MeasureBeginRepeat) PutLine(text, 3, "<repeat direction=\"forward\"/>");
    PutLine(text, 2, "</barline>");
}

void PutRightBarline(Exporter *exporter, std::uint32_t measure) {
    const Measure &header = exporter->file->body.measures[measure];
    const bool endsEnding = exporter->endingLast == measure;
    if (!(header.flags & (MeasureEndRepeat | MeasureDoubleBar)) && !endsEnding) return;
    XmlText *text = exporter->text;
    PutLine(text, 2, "<barline location=\"right\">");
    if (header.flags & MeasureEndRepeat)
        PutElement(text, 3, "bar-style", "light-heavy");
    else if (header.flags & MeasureDoubleBar)
        PutElement(text, 3, "bar-style", "light-light");
    if (endsEnding) {
        std::uint32_t first = measure;
        while (!(exporter->file->body.measures[first].flags & MeasureAltEnding)) --first;
        Indent(text, 3);
        Put(text, "<ending number=\"");
        PutEndingNumbers(text, exporter->order, first);
        Put(text, (header.flags & MeasureEndRepeat) ? "\" type=\"stop\"/>\n" : "\" type=\"discontinue\"/>\n");
        exporter->endingLast = UINT32_MAX;
    }
    if (header.flags & MeasureEndRepeat) {
        Indent(text, 3);
        Put(text, "<repeat direction=\"backward\" times=\"");
        PutSigned(text, std::int64_t{header.repeatCount} + 1);
        Put(text, "\"/>\n");
    }
    PutLine(text, 2, "</barline>");
}

// ---------------------------------------------------------------------------
// Notes

// What every note of a beat shares on one staff.
struct BeatContext {
    const Beat *beat;
    std::uint64_t duration;
    std::uint32_t staff;
    std::uint32_t voice;
    bool tupletStart;
    bool tupletStop;
    bool wavyStart;  // the beat's first note starts a vibrato's wavy line
    bool wavyStop;   // the beat's first note ends the wavy line of the vibrato before it
};

void PutTimeModification(XmlText *text, const Beat &beat) {
    if (!IsTupletBeat(beat)) return;
    PutLine(text, 3, "<time-modification>");
    PutNumberElement(text, 4, "actual-notes", beat.tuplet);
    PutNumberElement(text, 4, "normal-notes", TupletNormalNotes(beat.tuplet));
    PutLine(text, 3, "</time-modification>");
}

void PutValue(XmlText *text, const BeatContext &context) {
    PutNumberElement(text, 3, "voice", context.voice);
    PutElement(text, 3, "type", NoteTypeName(context.beat->duration));
    if (context.beat->flags & BeatDotted) PutLine(text, 3, "<dot/>");
}

void PutRest(XmlText *text, const BeatContext &context) {
    PutLine(text, 2, "<note>");
    PutLine(text, 3, "<rest/>");
    PutNumberElement(text, 3, "duration", static_cast<std::int64_t>(context.duration));
    PutValue(text, context);
    PutTimeModification(text, *context.beat);
    PutNumberElement(text, 3, "staff", context.staff);
    if (context.tupletStart || context.tupletStop) {
        PutLine(text, 3, "<notations>");
        if (context.tupletStart) PutLine(text, 4, "<tuplet type=\"start\" bracket=\"yes\"/>");
        if (context.tupletStop) PutLine(text, 4, "<tuplet type=\"stop\"/>");
        PutLine(text, 3, "</notations>");
    }
    PutLine(text, 2, "</note>");
}

// A rest that fills what a measure's beats leave of its length, or a whole
// empty measure: hidden when it only fills.
void PutFillingRest(XmlText *text, std::uint64_t duration, std::uint32_t staff, std::uint32_t voice, bool whole) {
    PutLine(text, 2, whole ? "<note>" : "<note print-object=\"no\">");
    PutLine(text, 3, whole ? "<rest measure=\"yes\"/>" : "<rest/>");
    PutNumberElement(text, 3, "duration", static_cast<std::int64_t>(duration));
    PutNumberElement(text, 3, "voice", voice);
    PutNumberElement(text, 3, "staff", staff);
    PutLine(text, 2, "</note>");
}

void PutPitch(XmlText *text, const Spelling &pitch) {
    PutLine(text, 3, "<pitch>");
    const char step[2] = {pitch.step, 0};
    PutElement(text, 4, "step", step);
    if (pitch.alter != 0) PutNumberElement(text, 4, "alter", pitch.alter);
    PutNumberElement(text, 4, "octave", pitch.octave);
    PutLine(text, 3, "</pitch>");
}

// The largest height of a bend in hundredths of a semitone (its values are
// hundredths of a tone, 50 a semitone, so twice), whether it starts bent and
// whether it comes back down.
struct BendShape {
    std::int32_t height;
    bool preBend;
    bool release;
};

BendShape GetBendShape(const Bend &bend) {
    BendShape shape = {0, false, false};
    for (std::uint32_t point = 0; point < bend.pointCount; ++point)
        if (bend.points[point].value > shape.height) shape.height = bend.points[point].value;
    if (bend.pointCount != 0) {
        shape.preBend = bend.points[0].value > 0;
        shape.release = bend.points[bend.pointCount - 1].value < shape.height;
    }
    if (shape.height > 1200) shape.height = 1200;
    shape.height *= 2;
    return shape;
}

void PutBend(XmlText *text, const Bend &bend) {
    const BendShape shape = GetBendShape(bend);
    if (shape.height <= 0) return;
    PutLine(text, 5, "<bend>");
    Indent(text, 6);
    Put(text, "<bend-alter>");
    PutHundredths(text, shape.height);
    Put(text, "</bend-alter>\n");
    if (shape.preBend) PutLine(text, 6, "<pre-bend/>");
    if (shape.release && !shape.preBend) PutLine(text, 6, "<release/>");
    PutLine(text, 5, "</bend>");
}

// Everything a note carries besides its pitch and value: ties, tuplets,
// articulations, ornaments, the technique and its string and fret.
struct NoteMarks {
    std::uint32_t string;  // 1-based
    std::uint32_t fret;
    bool tieStart;
    bool tieStop;
    bool hammerStart;
    bool hammerUp;   // the next note on the string is higher: a hammer-on
    bool slurStop;   // the note a hammer-on or a pull-off leads into
    bool slideStop;  // the note a slide leads into
    bool slideStart; // a shift or legato slide into the next note on the string
    bool first;      // the first note of its beat
};

// Articulations and strokes are marks of the notation staff: the tablature
// staff carries the technique alone.
void PutNotationMarks(XmlText *text, const BeatContext &context, const Note &note) {
    const NoteEffect *effect = note.effect;
    const BeatEffect *beatEffect = context.beat->beatEffect;
    const bool staccato = effect != nullptr && (effect->flags2 & NoteEffectStaccato);
    if (context.staff != 1) return;
    if ((note.flags & (NoteAccent | NoteHeavyAccent)) || staccato) {
        PutLine(text, 4, "<articulations>");
        if (note.flags & NoteHeavyAccent)
            PutLine(text, 5, "<strong-accent/>");
        else if (note.flags & NoteAccent)
            PutLine(text, 5, "<accent/>");
        if (staccato) PutLine(text, 5, "<staccato/>");
        PutLine(text, 4, "</articulations>");
    }
    if (beatEffect != nullptr && (beatEffect->flags1 & BeatEffectStroke)) {
        // The first stroke byte is the down stroke, the second the up stroke,
        // as the performed rendering strums them.
        if (beatEffect->strokeSpeeds[1] != 0)
            PutLine(text, 4, "<arpeggiate direction=\"up\"/>");
        else if (beatEffect->strokeSpeeds[0] != 0)
            PutLine(text, 4, "<arpeggiate direction=\"down\"/>");
    }
}

void PutNotations(XmlText *text, const BeatContext &context, const Note &note, const NoteMarks &marks) {
    const NoteEffect *effect = note.effect;
    const BeatEffect *beatEffect = context.beat->beatEffect;
    PutLine(text, 3, "<notations>");
    if (marks.tieStop) PutLine(text, 4, "<tied type=\"stop\"/>");
    if (marks.tieStart) PutLine(text, 4, "<tied type=\"start\"/>");
    if (marks.slurStop) PutLine(text, 4, "<slur type=\"stop\"/>");
    if (marks.hammerStart) PutLine(text, 4, "<slur type=\"start\"/>");
    if (context.tupletStart) PutLine(text, 4, "<tuplet type=\"start\" bracket=\"yes\"/>");
    if (context.tupletStop) PutLine(text, 4, "<tuplet type=\"stop\"/>");
    if (marks.slideStop) PutLine(text, 4, "<slide type=\"stop\"/>");
    if (marks.slideStart) PutLine(text, 4, "<slide type=\"start\"/>");

    const bool vibrato = marks.first && (context.wavyStart || context.wavyStop);
    const bool trill = effect != nullptr && (effect->flags2 & NoteEffectTrill);
    const bool tremolo = effect != nullptr && (effect->flags2 & NoteEffectTremoloPicking);
    if (vibrato || trill || tremolo) {
        PutLine(text, 4, "<ornaments>");
        if (trill) {
            const std::int32_t step = static_cast<std::int32_t>(effect->trillFret) - static_cast<std::int32_t>(note.fret);
            PutLine(text, 5, step == 1 || step == -1 ? "<trill-mark trill-step=\"half\"/>"
                             : step == 0       ? "<trill-mark trill-step=\"unison\"/>"
                                               : "<trill-mark trill-step=\"whole\"/>");
        }
        // Each staff's wavy lines are numbered apart: they overlap in time.
        if (vibrato && context.wavyStop)
            PutLine(text, 5, context.staff == 1 ? "<wavy-line type=\"stop\" number=\"1\"/>" : "<wavy-line type=\"stop\" number=\"2\"/>");
        if (vibrato && context.wavyStart)
            PutLine(text, 5, context.staff == 1 ? "<wavy-line type=\"start\" number=\"1\"/>" : "<wavy-line type=\"start\" number=\"2\"/>");
        if (tremolo) {
            Indent(text, 5);
            Put(text, "<tremolo type=\"single\">");
            PutSigned(text, effect->tremoloPicking >= 1 && effect->tremoloPicking <= 3 ? effect->tremoloPicking : 1);
            Put(text, "</tremolo>\n");
        }
        PutLine(text, 4, "</ornaments>");
    }

    PutLine(text, 4, "<technical>");
    if (marks.hammerStart)
        PutLine(text, 5, marks.hammerUp ? "<hammer-on type=\"start\">H</hammer-on>" : "<pull-off type=\"start\">P</pull-off>");
    if (effect != nullptr && (effect->flags1 & NoteEffectBend) && effect->bend != nullptr) PutBend(text, *effect->bend);
    if (effect != nullptr && (effect->flags2 & NoteEffectHarmonic) && effect->harmonic != 0)
        PutLine(text, 5, effect->harmonic == 1 ? "<harmonic><natural/><sounding-pitch/></harmonic>"
                                               : "<harmonic><artificial/><sounding-pitch/></harmonic>");
    if (beatEffect != nullptr && (beatEffect->flags1 & BeatEffectTapping) && beatEffect->tappingType == 1)
        PutLine(text, 5, "<tap/>");
    PutNumberElement(text, 5, "string", marks.string);
    PutNumberElement(text, 5, "fret", marks.fret);
    PutLine(text, 4, "</technical>");
    PutNotationMarks(text, context, note);
    PutLine(text, 3, "</notations>");
}

// A grace note of a note: before the beat, with its own fret.
void PutGraceNote(Exporter *exporter, const BeatContext &context, const Note &note, std::uint32_t string,
                  bool chord, AccidentalState *accidentals) {
    XmlText *text = exporter->text;
    const Track &track = exporter->file->body.tracks[exporter->track];
    const NoteEffect &effect = *note.effect;
    PutLine(text, 2, "<note>");
    PutLine(text, 3, "<grace slash=\"yes\"/>");
    if (chord) PutLine(text, 3, "<chord/>");
    const Spelling pitch = SpellKey(FrettedKey(track, string, effect.graceFret), exporter->fifths);
    PutPitch(text, pitch);
    PutNumberElement(text, 3, "voice", context.voice);
    PutElement(text, 3, "type", effect.graceDuration <= 1 ? "64th" : effect.graceDuration == 2 ? "32nd" : "16th");
    const char *accidental = TakeAccidental(accidentals, pitch);
    if (accidental != nullptr) PutElement(text, 3, "accidental", accidental);
    PutNumberElement(text, 3, "staff", context.staff);
    PutLine(text, 3, "<notations>");
    PutLine(text, 4, "<technical>");
    PutNumberElement(text, 5, "string", std::int64_t{string} + 1);
    PutNumberElement(text, 5, "fret", effect.graceFret);
    PutLine(text, 4, "</technical>");
    PutLine(text, 3, "</notations>");
    PutLine(text, 2, "</note>");
}

void PutDrumNote(Exporter *exporter, const BeatContext &context, const Note &note, bool chord) {
    XmlText *text = exporter->text;
    const std::uint32_t key = note.fret < 128 ? note.fret : 0;
    const DrumPlace place = GetDrumPlace(key);
    PutLine(text, 2, "<note>");
    if (chord) PutLine(text, 3, "<chord/>");
    PutLine(text, 3, "<unpitched>");
    const char step[2] = {place.step, 0};
    PutElement(text, 4, "display-step", step);
    PutNumberElement(text, 4, "display-octave", place.octave);
    PutLine(text, 3, "</unpitched>");
    PutNumberElement(text, 3, "duration", static_cast<std::int64_t>(context.duration));
    Indent(text, 3);
    Put(text, "<instrument id=\"");
    PutInstrumentId(text, exporter->track, key);
    Put(text, "\"/>\n");
    PutValue(text, context);
    PutTimeModification(text, *context.beat);
    if (place.cymbal) PutElement(text, 3, "notehead", "x");
    PutNumberElement(text, 3, "staff", context.staff);
    if (context.tupletStart || context.tupletStop || (note.flags & (NoteAccent | NoteHeavyAccent))) {
        PutLine(text, 3, "<notations>");
        if (context.tupletStart) PutLine(text, 4, "<tuplet type=\"start\" bracket=\"yes\"/>");
        if (context.tupletStop) PutLine(text, 4, "<tuplet type=\"stop\"/>");
        if (note.flags & (NoteAccent | NoteHeavyAccent))
            PutLine(text, 4, (note.flags & NoteHeavyAccent) ? "<articulations><strong-accent/></articulations>"
                                                          : "<articulations><accent/></articulations>");
        PutLine(text, 3, "</notations>");
    }
    PutLine(text, 2, "</note>");
}

// A beat whose every note continues a tie starts no syllable.
bool IsTiedBeat(const Beat &beat) {
    for (std::uint32_t strings = beat.stringFlags & allStringBits; strings != 0;)
        if (!IsTieNote(beat.notes[TakeFirstString(&strings)])) return false;
    return true;
}

bool IsVibratoBeat(const Beat &beat) {
    if (beat.beatEffect != nullptr && (beat.beatEffect->flags1 & (BeatEffectVibrato | BeatEffectWideVibrato))) return true;
    for (std::uint32_t strings = beat.stringFlags & allStringBits; strings != 0;) {
        const NoteEffect *effect = beat.notes[TakeFirstString(&strings)].effect;
        if (effect != nullptr && (effect->flags2 & NoteEffectVibrato)) return true;
    }
    return false;
}

// Palm mute and let ring as words above the staff, once for the beat.
void PutTechniqueWords(XmlText *text, const Beat &beat) {
    bool palmMute = false, letRing = false;
    for (std::uint32_t strings = beat.stringFlags & allStringBits; strings != 0;) {
        const NoteEffect *effect = beat.notes[TakeFirstString(&strings)].effect;
        if (effect == nullptr) continue;
        palmMute |= (effect->flags2 & NoteEffectPalmMute) != 0;
        letRing |= (effect->flags1 & NoteEffectLetRing) != 0;
    }
    if (palmMute) PutWords(text, "P.M.");
    if (letRing) PutWords(text, "let ring");
}

// A chord diagram as a chord symbol over the staff with its fretboard: the
// root and kind come from the diagram's name ("Am7": A, minor-seventh, the
// name shown as written). A name that starts with no note letter is written
// as words, with no frame.
struct ChordKind {
    const char *suffix;
    const char *kind;
};

const char *GetChordKind(const char *suffix) {
    static const ChordKind kinds[] = {
        {"", "major"},          {"m", "minor"},           {"min", "minor"},        {"7", "dominant"},
        {"maj7", "major-seventh"}, {"M7", "major-seventh"}, {"m7", "minor-seventh"}, {"dim", "diminished"},
        {"dim7", "diminished-seventh"}, {"aug", "augmented"}, {"+", "augmented"}, {"m7b5", "half-diminished"},
        {"6", "major-sixth"},   {"m6", "minor-sixth"},    {"9", "dominant-ninth"}, {"maj9", "major-ninth"},
        {"m9", "minor-ninth"},  {"sus2", "suspended-second"}, {"sus4", "suspended-fourth"}, {"sus", "suspended-fourth"},
        {"5", "power"},
    };
    for (const ChordKind &kind : kinds)
        if (std::strcmp(kind.suffix, suffix) == 0) return kind.kind;
    return "other";
}

void PutHarmony(XmlText *text, const ChordDiagram &chord, std::uint32_t strings) {
    const char *name = chord.name != nullptr ? chord.name : "";
    if (name[0] < 'A' || name[0] > 'G') {
        if (HasText(name)) PutWords(text, name);
        return;
    }
    const char step[2] = {name[0], 0};
    const char *suffix = name + 1;
    std::int32_t alter = 0;
    if (*suffix == '#') alter = 1, ++suffix;
    else if (*suffix == 'b') alter = -1, ++suffix;
    PutLine(text, 2, "<harmony>");
    PutLine(text, 3, "<root>");
    PutElement(text, 4, "root-step", step);
    if (alter != 0) PutNumberElement(text, 4, "root-alter", alter);
    PutLine(text, 3, "</root>");
    Indent(text, 3);
    Put(text, "<kind text=\"");
    PutEscaped(text, suffix);
    Put(text, "\">");
    Put(text, GetChordKind(suffix));
    Put(text, "</kind>\n");
    bool played = false;
    for (std::uint32_t string = 0; string < strings && string < noteSlotCount; ++string) played |= chord.frets[string] >= 0;
    if (strings != 0 && played) {
        PutLine(text, 3, "<frame>");
        PutNumberElement(text, 4, "frame-strings", strings);
        PutNumberElement(text, 4, "frame-frets", 4);
        if (chord.baseFret > 1) PutNumberElement(text, 4, "first-fret", chord.baseFret);
        for (std::uint32_t string = 0; string < strings && string < noteSlotCount; ++string) {
            if (chord.frets[string] < 0) continue;
            PutLine(text, 4, "<frame-note>");
            PutNumberElement(text, 5, "string", std::int64_t{string} + 1);
            PutNumberElement(text, 5, "fret", chord.frets[string]);
            PutLine(text, 4, "</frame-note>");
        }
        PutLine(text, 3, "</frame>");
    }
    PutNumberElement(text, 3, "staff", 1);
    PutLine(text, 2, "</harmony>");
}

void PutLyrics(XmlText *text, LyricsCursor *cursor) {
    for (std::uint32_t line = 0; line < lyricsLineCount; ++line) {
        const char *&next = cursor->next[line];
        if (next == nullptr) continue;
        while (*next == ' ' || *next == '\n' || *next == '\r' || *next == '\t') ++next;
        if (*next == 0) {
            next = nullptr;
            continue;
        }
        const char *start = next;
        while (*next != 0 && *next != ' ' && *next != '\n' && *next != '\r' && *next != '\t' && *next != '-') ++next;
        const char *end = next;
        const bool hyphen = *next == '-';
        if (hyphen) ++next;
        const bool continued = cursor->continued[line];
        cursor->continued[line] = hyphen;
        if (end == start) continue;
        Indent(text, 3);
        Put(text, "<lyric number=\"");
        PutSigned(text, std::int64_t{line} + 1);
        Put(text, "\">\n");
        PutElement(text, 4, "syllabic", continued ? (hyphen ? "middle" : "end") : (hyphen ? "begin" : "single"));
        Indent(text, 4);
        Put(text, "<text>");
        // The syllable's bytes, escaped, without the rest of the line.
        char syllable[256];
        const std::size_t length = static_cast<std::size_t>(end - start) < sizeof syllable - 1
                                       ? static_cast<std::size_t>(end - start)
                                       : sizeof syllable - 1;
        std::memcpy(syllable, start, length);
        syllable[length] = 0;
        PutEscaped(text, syllable);
        Put(text, "</text>\n");
        PutLine(text, 3, "</lyric>");
    }
}

// The beats of one staff of one measure; the duration they fill.
std::uint64_t PutStaffBeats(Exporter *exporter, std::uint32_t measure, std::uint32_t staff, StringState *strings) {
    const FileStruct *file = exporter->file;
    XmlText *text = exporter->text;
    const Track &track = file->body.tracks[exporter->track];
    const MeasureTrackPair &pair = file->body.measureTrackPairs[measure][exporter->track];
    const std::uint32_t voice = staff == 1 ? 1 : 5;
    const bool directions = staff == 1;
    AccidentalState accidentals;
    StartMeasureAccidentals(&accidentals, exporter->fifths);
    std::uint64_t filled = 0;
    std::uint64_t tupletLeft = 0;  // sixty-fourths still to come in the open tuplet, times its count
    for (std::uint32_t index = 0; index < pair.beatCount; ++index) {
        const Beat &beat = pair.beats[index];
        const BeatLinks &links = exporter->links.beats[exporter->links.firsts[measure] + index];
        BeatContext context = {&beat, BeatDivisions(beat, exporter->divisions), staff, voice, false, false, false, false};
        if (IsTupletBeat(beat)) {
            const std::uint64_t value = PlainSixtyFourths(beat) * ((beat.flags & BeatDotted) ? 3u : 2u);
            if (tupletLeft == 0) {
                context.tupletStart = true;
                tupletLeft = static_cast<std::uint64_t>(beat.tuplet) * PlainSixtyFourths(beat) * 2;
            }
            tupletLeft = value >= tupletLeft ? 0 : tupletLeft - value;
            const bool nextContinues = index + 1 < pair.beatCount && IsTupletBeat(pair.beats[index + 1]) &&
                                       pair.beats[index + 1].tuplet == beat.tuplet;
            if (!nextContinues) tupletLeft = 0;
            context.tupletStop = tupletLeft == 0;
        } else {
            tupletLeft = 0;
        }
        filled += context.duration;

        if (directions) {
            if ((beat.flags & BeatHasText) && HasText(beat.text)) PutWords(text, beat.text);
            if (beat.mixTableEvent != nullptr && beat.mixTableEvent->tempo > 0)
                PutTempo(text, beat.mixTableEvent->tempo, false);
            if (beat.beatEffect != nullptr && (beat.beatEffect->flags1 & BeatEffectFadeIn)) PutWords(text, "fade in");
            if ((beat.flags & BeatHasChordDiagram) && beat.chordDiagram != nullptr && !exporter->percussion)
                PutHarmony(text, *beat.chordDiagram, GetSoundingStringCount(track));
        }
        if (IsBeatSilent(beat) || (beat.stringFlags & allStringBits) == 0) {
            PutRest(text, context);
            // A rest ends every string; an open wavy line ends on the next beat that sounds.
            const bool wavyOpen = strings->wavyOpen;
            *strings = StringState{};
            std::memset(strings->frets, noFret, noteSlotCount);
            strings->wavyOpen = wavyOpen;
            continue;
        }
        if (directions && !exporter->percussion) PutTechniqueWords(text, beat);
        // A vibrato's wavy line runs over its beats and ends on the next
        // beat without one, where notation programs look for its end.
        const bool vibrato = IsVibratoBeat(beat);
        context.wavyStop = strings->wavyOpen && !vibrato;
        context.wavyStart = vibrato && !strings->wavyOpen;
        if (!exporter->percussion) strings->wavyOpen = vibrato;
        bool firstNote = true;
        if (!exporter->percussion) {
            // Grace notes come before the beat's chord, as a chord of their own.
            bool graceChord = false;
            for (std::uint32_t strings = beat.stringFlags & allStringBits; strings != 0;) {
                const std::uint32_t string = TakeFirstString(&strings);
                const Note &note = beat.notes[string];
                if (note.effect == nullptr || !(note.effect->flags1 & NoteEffectGrace)) continue;
                PutGraceNote(exporter, context, note, string, graceChord, &accidentals);
                graceChord = true;
            }
        }
        for (std::uint32_t held = beat.stringFlags & allStringBits; held != 0;) {
            const std::uint32_t string = TakeFirstString(&held);
            const Note &note = beat.notes[string];
            if (directions && firstNote && !exporter->percussion) {
                const std::uint8_t dynamic = (note.flags & NoteHasDynamic) ? note.dynamic : defaultDynamic;
                if (dynamic != exporter->dynamic && dynamic >= 1 && dynamic <= 8) {
                    PutDynamic(text, dynamic);
                    exporter->dynamic = dynamic;
                }
            }
            if (exporter->percussion) {
                PutDrumNote(exporter, context, note, !firstNote);
                firstNote = false;
                continue;
            }
            NoteMarks marks = {};
            marks.string = string + 1;
            marks.first = firstNote;
            marks.tieStop = IsTieNote(note) && strings->frets[string] != noFret;
            marks.fret = marks.tieStop ? strings->frets[string] : note.fret;
            marks.tieStart = (links.tieStarts & StringBit(string)) != 0;
            marks.hammerStart = note.effect != nullptr && (note.effect->flags1 & NoteEffectHammer) &&
                                links.nextFrets[string] != noFret;
            marks.hammerUp = marks.hammerStart && links.nextFrets[string] > marks.fret;
            marks.slideStart = IsSlideIntoNext(note) && links.nextFrets[string] != noFret;
            marks.slurStop = strings->hammerFrom[string];
            marks.slideStop = strings->slideFrom[string];
            strings->hammerFrom[string] = marks.hammerStart;
            strings->slideFrom[string] = IsSlideIntoNext(note) && links.nextFrets[string] != noFret;
            strings->frets[string] = static_cast<std::uint8_t>(marks.fret);

            const bool dead = note.noteType == 3;
            const std::uint32_t fret = dead && note.fret > track.fretCount ? 0 : marks.fret;
            const Spelling pitch = SpellKey(SoundingKey(track, note, string, fret), exporter->fifths);
            PutLine(text, 2, "<note>");
            if (!firstNote) PutLine(text, 3, "<chord/>");
            PutPitch(text, pitch);
            PutNumberElement(text, 3, "duration", static_cast<std::int64_t>(context.duration));
            if (marks.tieStop) PutLine(text, 3, "<tie type=\"stop\"/>");
            if (marks.tieStart) PutLine(text, 3, "<tie type=\"start\"/>");
            PutValue(text, context);
            const char *accidental = marks.tieStop ? nullptr : TakeAccidental(&accidentals, pitch);
            if (accidental != nullptr) PutElement(text, 3, "accidental", accidental);
            PutTimeModification(text, beat);
            if (dead)
                PutElement(text, 3, "notehead", "x");
            else if (note.flags & NoteGhost)
                PutLine(text, 3, "<notehead parentheses=\"yes\">normal</notehead>");
            PutNumberElement(text, 3, "staff", staff);
            PutNotations(text, context, note, marks);
            if (directions && firstNote && exporter->lyrics && !IsTiedBeat(beat)) PutLyrics(text, &exporter->lyricsCursor);
            PutLine(text, 2, "</note>");
            firstNote = false;
        }
    }
    return filled;
}

// One measure of the part: its barlines, attributes and directions, then
// each staff's beats (the tablature after a backup to the measure's start),
// and a rest that fills what the beats leave of its length.
// The signature in force at a measure, as written: 4/4 where the song has
// stored none yet.
TimeSignature WrittenSignature(const PlayingOrder *order, std::uint32_t measure) {
    TimeSignature signature = GetSignatureInForce(order, measure);
    if (signature.numerator == 0) signature.numerator = 4;
    signature.denominator = UsableDenominator(signature.denominator);
    return signature;
}

void PutMeasure(Exporter *exporter, std::uint32_t measure, StringState *strings) {
    const FileStruct *file = exporter->file;
    XmlText *text = exporter->text;
    const Measure &header = file->body.measures[measure];
    const TimeSignature signature = WrittenSignature(exporter->order, measure);
    const bool timeChanged =
        measure != 0 && !IsSameSignature(signature, WrittenSignature(exporter->order, measure - 1));
    const std::uint8_t *numerator = &signature.numerator;
    const std::uint64_t power = GetDenominatorPower(signature.denominator);
    const std::uint32_t shownDenominator = 1u << power;
    // n beats of 1/2^p: 4n / 2^p quarters.
    const std::uint64_t length = exporter->divisions * 4 * *numerator >> power;

    Indent(text, 1);
    Put(text, "<measure number=\"");
    PutSigned(text, std::int64_t{measure} + 1);
    Put(text, "\">\n");
    PutLeftBarline(exporter, measure);
    if (measure == 0) {
        PutFirstAttributes(exporter, *numerator, shownDenominator);
    } else {
        const bool keyChanged = (header.flags & MeasureHasTonality) && !exporter->percussion &&
                                ClampedFifths(header.tonality) != exporter->fifths;
        if (keyChanged) exporter->fifths = ClampedFifths(header.tonality);
        if (keyChanged || timeChanged) {
            PutLine(text, 2, "<attributes>");
            if (keyChanged) PutKey(text, exporter->fifths);
            if (timeChanged) PutTime(text, *numerator, shownDenominator);
            PutLine(text, 2, "</attributes>");
        }
    }
    if (exporter->firstPart) {
        if (measure == 0) PutTempo(text, file->headers.pieceInfo.tempo, file->headers.tabInfo.tripletFeel == 1);
        if ((header.flags & MeasureHasMarker) && header.marker != nullptr && HasText(header.marker->text))
            PutRehearsal(text, header.marker->text);
    }

    const std::uint32_t staves = exporter->percussion ? 1 : 2;
    const StringState before = *strings;
    std::uint64_t filled = 0;
    for (std::uint32_t staff = 1; staff <= staves; ++staff) {
        if (staff > 1) {
            PutLine(text, 2, "<backup>");
            PutNumberElement(text, 3, "duration", static_cast<std::int64_t>(filled > length ? filled : length));
            PutLine(text, 2, "</backup>");
            *strings = before;
        }
        filled = PutStaffBeats(exporter, measure, staff, strings);
        const std::uint32_t voice = staff == 1 ? 1 : 5;
        if (filled == 0 && length != 0)
            PutFillingRest(text, length, staff, voice, true);
        else if (filled < length)
            PutFillingRest(text, length - filled, staff, voice, false);
    }
    PutRightBarline(exporter, measure);
    PutLine(text, 1, "</measure>");
}

bool PutPart(const FileStruct *file, const PlayingOrder *order, XmlText *text, std::uint64_t divisions,
             std::uint32_t track) {
    Exporter exporter = {};
    exporter.file = file;
    exporter.order = order;
    exporter.text = text;
    exporter.divisions = divisions;
    exporter.track = track;
    exporter.percussion = IsPercussionTrack(file->body.tracks[track]);
    exporter.firstPart = track == 0;
    exporter.dynamic = defaultDynamic;
    exporter.fifths = ClampedFifths(file->headers.pieceInfo.key);
    exporter.endingLast = UINT32_MAX;
    // The lyrics track is numbered from 1.
    const LyricsInfo &lyrics = file->headers.lyricsInfo;
    exporter.lyrics = !exporter.percussion && lyrics.lyricsTrack >= 1 &&
                      static_cast<std::uint32_t>(lyrics.lyricsTrack) - 1 == track;
    for (std::uint32_t line = 0; line < lyricsLineCount && exporter.lyrics; ++line)
        exporter.lyricsCursor.next[line] = lyrics.lyricsLines[line];
    if (!LinkTrack(file, track, &exporter.links)) {
        FreeTrackLinks(&exporter.links);
        text->failed = true;
        return false;
    }
    Indent(text, 1);
    Put(text, "<part id=\"");
    PutPartId(text, track);
    Put(text, "\">\n");
    StringState strings = {};
    std::memset(strings.frets, noFret, noteSlotCount);
    for (std::uint32_t measure = 0; measure < file->headers.pieceInfo.measureCount && !text->failed; ++measure)
        PutMeasure(&exporter, measure, &strings);
    PutLine(text, 1, "</part>");
    FreeTrackLinks(&exporter.links);
    return !text->failed;
}

}  // namespace

MusicXmlOutcome ToMusicXml(const FileStruct *file, XmlText *text) {
    const std::uint64_t divisions = SongDivisions(file);
    PlayingOrder order = {};
    if (!InitPlayingOrder(&order, file)) return MusicXmlOutcome::OutOfMemory;
    Put(text, "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\"?>\n");
    Put(text, "<!DOCTYPE score-partwise PUBLIC \"-//Recordare//DTD MusicXML 4.0 Partwise//EN\" "
              "\"http://www.musicxml.org/dtds/partwise.dtd\">\n");
    Put(text, "<score-partwise version=\"4.0\">\n");
    PutIdentification(file, text);
    PutPartList(file, text);
    for (std::uint32_t track = 0; track < file->headers.pieceInfo.trackCount && !text->failed; ++track)
        PutPart(file, &order, text, divisions, track);
    Put(text, "</score-partwise>\n");
    FreePlayingOrder(&order);
    if (!text->failed) return MusicXmlOutcome::Written;
    const bool tooLong = text->tooLong;
    MemFree(text->bytes);
    *text = XmlText{};
    return tooLong ? MusicXmlOutcome::TooLong : MusicXmlOutcome::OutOfMemory;
}

}  // namespace Talvoren
