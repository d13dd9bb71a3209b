// song.h - the in-memory model of a Guitar Pro 4 song, the counts and
// strings of its format, and the entry points of the song reader
// (LoadFileStruct, FreeFileStruct).
//
// Every record is plain data. Strings are heap copies ending in a zero byte,
// owned by the record holding the pointer; a null pointer is an absent
// string. A field the file does not supply is 0, a pointer null.
#ifndef TALVOREN_GP_SONG_H
#define TALVOREN_GP_SONG_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace Talvoren {

struct MidiFileStruct;

constexpr std::uint32_t noteSlotCount = 7;     // note slots of a beat, strings a chord diagram shows
constexpr std::uint32_t tuningCount = 7;       // tunings of a track, one per string
constexpr std::uint32_t midiPortCount = 4;     // ports of the channel table
constexpr std::uint32_t midiChannelCount = 16; // channels of a port
constexpr std::uint32_t lyricsLineCount = 5;   // lines of the lyrics block

// The two version strings the reader accepts, exactly.
constexpr char acceptedVersion400[] = "FICHIER GUITAR PRO v4.00";
constexpr char acceptedVersion406[] = "FICHIER GUITAR PRO v4.06";

#pragma pack(push, 1)

// One 12-byte entry of the MIDI channel table; the host sees this layout.
struct MidiChannelInfo {
    std::int32_t instrument;  // MIDI program; the conversion sends its low byte
    std::uint8_t volume;      // channel volume; the conversion derives controller 7
    std::uint8_t balance;
    std::uint8_t chorus;
    std::uint8_t reverb;
    std::uint8_t phaser;
    std::uint8_t tremolo;
    std::uint8_t filler[2];
};

// The piece information: 785 bytes in the file, read in one go and kept in
// the same packed layout.
struct GPPieceInfo {
    std::uint32_t tempo;                   // quarter notes per minute
    std::int8_t key;                       // key signature, signed
    std::int32_t octave;                   // stored unaligned
    MidiChannelInfo midiChannels[midiPortCount][midiChannelCount];  // [port][channel], both 0-based
    std::uint32_t measureCount;
    std::uint32_t trackCount;
};

// One point of a bend or tremolo-bar curve: 9 bytes, file layout.
struct BendPoint {
    std::int32_t position;
    std::int32_t value;
    std::uint8_t vibrato;
};

#pragma pack(pop)

static_assert(sizeof(MidiChannelInfo) == 12, "channel entry is 12 packed bytes");
static_assert(sizeof(GPPieceInfo) == 785, "piece information is 785 packed bytes");
static_assert(sizeof(BendPoint) == 9, "bend point is 9 packed bytes");

// Song information.
struct TabInfo {
    char *title;
    char *subtitle;
    char *interpret;
    char *album;
    char *author;
    char *copyright;
    char *tabAuthor;
    char *instructions;
    std::uint32_t noticeLineCount;
    char **noticeLines;        // noticeLineCount strings; null when the count is 0
    std::uint8_t tripletFeel;  // as stored; the timing applies it only when it is 1
};

struct LyricsInfo {
    std::int32_t lyricsTrack;  // as stored, not checked against the track count
    char *lyricsLines[lyricsLineCount];  // an entry is null when its text could not be read
};

struct HeadersStruct {
    char *version;
    TabInfo tabInfo;
    LyricsInfo lyricsInfo;
    GPPieceInfo pieceInfo;
};

struct MeasureMarker {
    char *text;
    std::uint32_t color;  // the file's 4 bytes as one little-endian value
};

// Measure header flag bits.
enum MeasureFlag : std::uint8_t {
    MeasureHasNumerator = 0x01,
    MeasureHasDenominator = 0x02,
    MeasureBeginRepeat = 0x04,
    MeasureEndRepeat = 0x08,
    MeasureAltEnding = 0x10,
    MeasureHasMarker = 0x20,
    MeasureHasTonality = 0x40,
    MeasureDoubleBar = 0x80,
};

struct Measure {
    std::uint8_t flags;
    std::uint8_t keyNumerator;    // bit 0x01
    std::uint8_t keyDenominator;  // bit 0x02
    std::uint8_t repeatCount;     // bit 0x08
    std::uint8_t altEndingCount;  // bit 0x10
    MeasureMarker *marker;        // bit 0x20, else null
    std::int8_t tonality;         // bit 0x40
    std::uint8_t tonalityType;    // bit 0x40, stored only
    std::uint8_t repeatsPlayed;   // not in the file: the playing order's pass counter, 0 between walks
};

struct Track {
    std::uint8_t flags;
    char *name;
    std::uint32_t stringCount;
    std::int32_t tunings[tuningCount];  // MIDI note of each string, first string at 0
    std::uint32_t midiPort;             // 1-based
    std::uint32_t midiChannel;          // 1-based
    std::uint32_t effectsMidiChannel;   // 1-based
    std::uint32_t fretCount;
    std::uint32_t capoHeight;
    std::uint32_t color;
    std::uint32_t beatIndex;       // not in the file: the conversion's count of beats started in a measure
    std::uint32_t beatPulsesLeft;  // not in the file: the conversion's pulses left in the sounding beat
};

// Note lengths counted in sixty-fourth notes; a beat's duration code d
// stands for 2^(4 - d) of them.
enum NoteValue : std::uint32_t {
    SixtyFourth = 1,
    ThirtySecond = 2,
    Sixteenth = 4,
    Eighth = 8,
    Quarter = 16,
    Half = 32,
    Whole = 64,
};

struct Bend {
    std::uint8_t bendType;
    std::int32_t bendValue;
    std::uint32_t pointCount;
    BendPoint *points;  // pointCount points; never null in a loaded bend
};

struct NoteEffect {
    std::uint8_t flags1;
    std::uint8_t flags2;
    Bend *bend;  // flags1 0x01
    std::uint8_t graceFret;
    std::uint8_t graceDynamic;
    std::uint8_t graceTransition;
    std::uint8_t graceDuration;
    std::uint8_t tremoloPicking;
    std::uint8_t slide;
    std::uint8_t harmonic;
    std::uint8_t trillFret;
    std::uint8_t trillPeriod;
};

struct BeatEffect {
    std::uint8_t flags1;
    std::uint8_t flags2;
    std::uint8_t tappingType;
    Bend *tremoloBar;  // flags2 0x04
    std::uint8_t strokeSpeeds[2];
    std::uint8_t pickStroke;
};

struct MixTableEvent {
    std::uint8_t instrument;  // 0xFF: no change
    std::uint8_t volume;      // 0xFF: no change
    std::uint8_t balance;
    std::uint8_t chorus;
    std::uint8_t reverb;
    std::uint8_t phaser;
    std::uint8_t tremolo;
    std::int32_t tempo;       // -1: no change
    std::uint8_t volumeDuration;
    std::uint8_t balanceDuration;
    std::uint8_t chorusDuration;
    std::uint8_t reverbDuration;
    std::uint8_t phaserDuration;
    std::uint8_t tremoloDuration;
    std::uint8_t tempoDuration;
    std::uint8_t applyToAllTracks;
};

struct ChordDiagram {
    std::uint8_t format;  // 0 short record, 1 long record
    std::uint8_t sharp;
    std::uint8_t reserved1[3];
    std::uint8_t root;
    std::uint8_t chordType;
    std::uint8_t extension;
    std::int32_t bass;
    std::int32_t tonality;
    std::uint8_t add;
    char *name;  // never null in a loaded diagram
    std::uint8_t reserved2[2];
    std::uint8_t fifth;
    std::uint8_t ninth;
    std::uint8_t eleventh;
    std::int32_t baseFret;
    std::int32_t frets[noteSlotCount];
    std::uint8_t barreCount;
    std::uint8_t barreFrets[5];
    std::uint8_t barreStarts[5];
    std::uint8_t barreEnds[5];
    std::uint8_t omissions[noteSlotCount];
    std::uint8_t reserved3;
    std::int8_t fingerings[noteSlotCount];
    std::uint8_t showFingering;
};

// Beat flag bits.
enum BeatFlag : std::uint8_t {
    BeatDotted = 0x01,
    BeatHasChordDiagram = 0x02,
    BeatHasText = 0x04,
    BeatHasEffects = 0x08,
    BeatHasMixTable = 0x10,
    BeatHasTuplet = 0x20,
    BeatHasStatus = 0x40,
};

// Note flag bits; heavy accent, ghost and accent carry no data.
enum NoteFlag : std::uint8_t {
    NoteHasDuration = 0x01,
    NoteHeavyAccent = 0x02,
    NoteGhost = 0x04,
    NoteHasEffects = 0x08,
    NoteHasDynamic = 0x10,
    NoteHasTypeAndFret = 0x20,
    NoteAccent = 0x40,
    NoteHasFingering = 0x80,
};

// Note effect bits: flags1 and flags2 of a NoteEffect.
enum NoteEffectFlag1 : std::uint8_t {
    NoteEffectBend = 0x01,
    NoteEffectHammer = 0x02,
    NoteEffectLetRing = 0x08,
    NoteEffectGrace = 0x10,
};

enum NoteEffectFlag2 : std::uint8_t {
    NoteEffectStaccato = 0x01,
    NoteEffectPalmMute = 0x02,
    NoteEffectTremoloPicking = 0x04,
    NoteEffectSlide = 0x08,
    NoteEffectHarmonic = 0x10,
    NoteEffectTrill = 0x20,
    NoteEffectVibrato = 0x40,
};

// Beat effect bits: flags1 and flags2 of a BeatEffect.
enum BeatEffectFlag1 : std::uint8_t {
    BeatEffectVibrato = 0x01,
    BeatEffectWideVibrato = 0x02,
    BeatEffectFadeIn = 0x10,
    BeatEffectTapping = 0x20,
    BeatEffectStroke = 0x40,
};

enum BeatEffectFlag2 : std::uint8_t {
    BeatEffectRasgueado = 0x01,
    BeatEffectPickStroke = 0x02,
    BeatEffectTremoloBar = 0x04,
};

struct Note {
    std::uint8_t flags;
    std::uint8_t noteType;  // 1 normal, 2 tie, 3 dead
    std::int8_t timeIndependentDuration;
    std::uint8_t timeIndependentTuplet;
    std::uint8_t dynamic;  // 1 softest to 8 loudest
    std::uint8_t fret;
    std::int8_t leftFingering;
    std::int8_t rightFingering;
    NoteEffect *effect;  // flag 0x08
};

struct Beat {
    std::uint8_t flags;
    std::uint8_t status;   // flag 0x40: 0 empty beat, 2 rest
    std::int8_t duration;  // note-value code, -2 whole to 4 sixty-fourth
    std::int32_t tuplet;   // flag 0x20
    ChordDiagram *chordDiagram;    // flag 0x02
    char *text;                    // flag 0x04
    BeatEffect *beatEffect;        // flag 0x08
    MixTableEvent *mixTableEvent;  // flag 0x10
    std::uint8_t stringFlags;  // bit (6 - k) set: slot k of notes holds a note
    Note notes[noteSlotCount];  // slot k is string k + 1
};

// The string bits of a beat: bit (6 - s) of its string flags says that slot
// s of its notes (string s + 1) holds a note.
constexpr std::uint32_t allStringBits = 0x7F;
constexpr std::uint32_t StringBit(std::uint32_t string) { return 0x40u >> string; }

// The first string whose bit is set, for every non-empty set of string bits.
struct FirstStringTable {
    std::uint8_t strings[allStringBits + 1];
};

constexpr FirstStringTable MakeFirstStringTable() {
    FirstStringTable table = {};
    for (std::uint32_t bits = 1; bits <= allStringBits; ++bits) {
        std::uint32_t string = 0;
        while ((bits & StringBit(string)) == 0) ++string;
        table.strings[bits] = static_cast<std::uint8_t>(string);
    }
    return table;
}

inline constexpr FirstStringTable firstStringTable = MakeFirstStringTable();

// Walks a set of string bits, first string first: returns the first string
// of the non-empty set *strings (no bits above allStringBits) and clears its bit. A loop
// `while (strings != 0) { const std::uint32_t string = TakeFirstString(&strings); ... }`
// visits only the strings that hold notes.
inline std::uint32_t TakeFirstString(std::uint32_t *strings) {
    const std::uint32_t string = firstStringTable.strings[*strings];
    *strings &= ~StringBit(string);
    return string;
}

// The beats of all tracks of one measure lie in one block, pair after pair;
// the row's first pair points at its start, and the block belongs to the row.
struct MeasureTrackPair {
    std::uint32_t beatCount;
    // Which beats own a block of their own (chord diagram, text, beat
    // effect, mix-table change or note effect): bit b for beat b below 31,
    // bit 31 for any beat from 31 on. Releasing the song visits only those
    // beats (all from 31 on when bit 31 is set): most beats own nothing.
    std::uint32_t owners;
    Beat *beats;  // beatCount beats inside the row's block; null until the row is read whole
};

// The body; its arrays carry no counts: measureCount and trackCount of the
// piece information size them.
struct BodyStruct {
    Measure *measures;
    Track *tracks;
    MeasureTrackPair **measureTrackPairs;  // [measure][track]
};

struct FileStruct {
    HeadersStruct headers;
    BodyStruct body;
};

// Why a load failed: the version field is not one of the two accepted
// ones, the file ends before the song it announces, it holds a value the
// format does not allow, or an allocation was refused.
enum class LoadFailure : std::uint8_t { None, OtherVersion, CutOff, Damaged, OutOfMemory };

// Fills a caller-provided record from a stream opened in binary mode.
// Returns 1 with the whole song read, or 0 with everything released. Each
// load keeps its reading state to itself: loads of different records may run
// on different threads at once.
int LoadFileStruct(FileStruct *file, std::FILE *stream);
// The same, saying why a load failed when failure is not null (None after a
// load that succeeded).
int LoadFileStruct(FileStruct *file, std::FILE *stream, LoadFailure *failure);

// Releases everything the record owns; safe on a zeroed, failed or freed record.
void FreeFileStruct(FileStruct *file);

}  // namespace Talvoren

#endif  // TALVOREN_GP_SONG_H
