// gp4_writer.h - composes Guitar Pro 4 song files byte by byte for the tests,
// from the on-disk layouts alone: plain description records, one per section
// of the file, and one writer per section.
//
// The records default to a minimal valid piece of the file; a test changes
// only what it is about. Flags are written exactly as given, and the data
// that each set bit announces follows in file order, so a test can also
// describe files that are odd or wrong on purpose (counts that lie, names
// longer than their field, unknown bits).
#ifndef ZELTO_TESTS_GP4_WRITER_H
#define ZELTO_TESTS_GP4_WRITER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gp4 {

using Bytes = std::vector<std::uint8_t>;

// ---------------------------------------------------------------------------
// Primitives. Each appends to the end of `bytes`.

void WriteByte(Bytes &bytes, std::uint8_t value);
// 4 bytes, little-endian; signed values are passed cast to uint32_t.
void WriteInt(Bytes &bytes, std::uint32_t value);
// The text's bytes as they stand, no length.
void WriteText(Bytes &bytes, const std::string &text);
void WriteBytes(Bytes &bytes, const Bytes &more);
// 1 length byte (the low byte of the text's size), then the text.
void WriteByteSizeString(Bytes &bytes, const std::string &text);
// 4-byte length, then the text.
void WriteIntSizeString(Bytes &bytes, const std::string &text);
// A 4-byte field the reader ignores (text size + 1 unless given), then a
// byte-size string.
void WriteIntByteSizeString(Bytes &bytes, const std::string &text);
void WriteIntByteSizeString(Bytes &bytes, const std::string &text, std::uint32_t unusedField);
// A byte-size string at the start of a field of 1 + fieldSize bytes, padded
// with `filler`. A text longer than the field is written whole, its length
// byte giving its real length, and nothing is padded: the bytes after it are
// whatever the test writes next.
void WriteFixedString(Bytes &bytes, const std::string &text, std::size_t fieldSize,
                      std::uint8_t filler = 0);

// ---------------------------------------------------------------------------
// Description records.

struct BendPoint {
    std::int32_t position = 0;
    std::int32_t value = 0;
    std::uint8_t vibrato = 0;
};

// A bend or tremolo-bar curve: 9 + 9 x points bytes.
struct Bend {
    std::uint8_t type = 1;
    std::int32_t value = 50;
    std::vector<BendPoint> points = {{0, 0, 0}, {6, 4, 0}, {12, 4, 0}};
    // Written instead of points.size() when set; the points written stay `points`.
    std::optional<std::uint32_t> pointCountOverride;
};

// Note effect flag bits that announce data.
namespace NoteEffectBits {
constexpr std::uint8_t Bend = 0x01;            // flags1
constexpr std::uint8_t Grace = 0x10;           // flags1
constexpr std::uint8_t TremoloPicking = 0x04;  // flags2
constexpr std::uint8_t Slide = 0x08;           // flags2
constexpr std::uint8_t Harmonic = 0x10;        // flags2
constexpr std::uint8_t Trill = 0x20;           // flags2
}  // namespace NoteEffectBits

struct NoteEffects {
    std::uint8_t flags1 = 0;
    std::uint8_t flags2 = 0;
    Bend bend;  // flags1 0x01
    std::uint8_t graceFret = 3;        // flags1 0x10, these four
    std::uint8_t graceDynamic = 6;
    std::uint8_t graceTransition = 1;
    std::uint8_t graceDuration = 2;
    std::uint8_t tremoloPicking = 1;   // flags2 0x04
    std::uint8_t slide = 2;            // flags2 0x08
    std::uint8_t harmonic = 1;         // flags2 0x10
    std::uint8_t trillFret = 7;        // flags2 0x20, these two
    std::uint8_t trillPeriod = 1;
};

// Note flag bits that announce data.
namespace NoteBits {
constexpr std::uint8_t TimeIndependentDuration = 0x01;
constexpr std::uint8_t Effects = 0x08;
constexpr std::uint8_t Dynamic = 0x10;
constexpr std::uint8_t TypeAndFret = 0x20;
constexpr std::uint8_t Fingering = 0x80;
}  // namespace NoteBits

struct Note {
    std::uint8_t flags = NoteBits::TypeAndFret;
    std::uint8_t type = 1;  // 1 normal, 2 tie, 3 dead
    std::int8_t timeIndependentDuration = 0;  // flags 0x01, these two
    std::uint8_t timeIndependentTuplet = 0;
    std::uint8_t dynamic = 6;  // flags 0x10
    std::uint8_t fret = 0;     // flags 0x20 (after the dynamic)
    std::int8_t leftFingering = 0;   // flags 0x80, these two
    std::int8_t rightFingering = 0;
    NoteEffects effects;  // flags 0x08
};

// A chord diagram: format 0 is the short record, format 1 the long one
// (107 bytes). Fields a format does not carry are not written.
struct ChordDiagram {
    std::uint8_t format = 0;
    std::uint8_t sharp = 1;                                  // long
    std::array<std::uint8_t, 3> reserved1 = {0, 0, 0};       // long
    std::uint8_t root = 0;                                   // long
    std::uint8_t chordType = 0;                              // long
    std::uint8_t extension = 0;                              // long
    std::int32_t bass = 0;                                   // long
    std::int32_t tonality = 0;                               // long
    std::uint8_t add = 0;                                    // long
    std::string name = "C";                                  // both
    // Short: the int-byte string's 4-byte field, name size + 1 unless set.
    std::optional<std::uint32_t> nameUnusedField;
    std::uint8_t nameFiller = 0;        // long: filler of the 21-byte name field
    std::array<std::uint8_t, 2> reserved2 = {0, 0};          // long
    std::uint8_t fifth = 0;                                  // long
    std::uint8_t ninth = 0;                                  // long
    std::uint8_t eleventh = 0;                               // long
    std::int32_t baseFret = 1;                               // both
    // Short: strings 1 to 6, written only when baseFret is not 0. Long: all 7.
    std::array<std::int32_t, 7> frets = {0, 1, 0, 2, 3, -1, -1};
    std::uint8_t barreCount = 0;                             // long, and the rest
    std::array<std::uint8_t, 5> barreFrets = {0, 0, 0, 0, 0};
    std::array<std::uint8_t, 5> barreStarts = {0, 0, 0, 0, 0};
    std::array<std::uint8_t, 5> barreEnds = {0, 0, 0, 0, 0};
    std::array<std::uint8_t, 7> omissions = {1, 1, 1, 1, 1, 1, 1};
    std::uint8_t reserved3 = 0;
    std::array<std::int8_t, 7> fingerings = {-1, -1, -1, -1, -1, -1, -1};
    std::uint8_t showFingering = 0;
};

// Beat effect flag bits that announce data.
namespace BeatEffectBits {
constexpr std::uint8_t Tapping = 0x20;     // flags1
constexpr std::uint8_t Stroke = 0x40;      // flags1
constexpr std::uint8_t TremoloBar = 0x04;  // flags2
constexpr std::uint8_t PickStroke = 0x02;  // flags2
}  // namespace BeatEffectBits

struct BeatEffects {
    std::uint8_t flags1 = 0;
    std::uint8_t flags2 = 0;
    std::uint8_t tapping = 1;                          // flags1 0x20
    Bend tremoloBar;                                   // flags2 0x04
    std::array<std::uint8_t, 2> strokeSpeeds = {0, 3}; // flags1 0x40
    std::uint8_t pickStroke = 1;                       // flags2 0x02
};

// A mix-table change. 0xFF (tempo -1) means "no change"; a duration byte is
// written only for a changed value, the instrument having none.
struct MixTable {
    std::uint8_t instrument = 0xFF;
    std::uint8_t volume = 0xFF;
    std::uint8_t balance = 0xFF;
    std::uint8_t chorus = 0xFF;
    std::uint8_t reverb = 0xFF;
    std::uint8_t phaser = 0xFF;
    std::uint8_t tremolo = 0xFF;
    std::int32_t tempo = -1;
    std::uint8_t volumeDuration = 0;
    std::uint8_t balanceDuration = 0;
    std::uint8_t chorusDuration = 0;
    std::uint8_t reverbDuration = 0;
    std::uint8_t phaserDuration = 0;
    std::uint8_t tremoloDuration = 0;
    std::uint8_t tempoDuration = 0;
    std::uint8_t applyToAllTracks = 0;
};

// Beat flag bits.
namespace BeatBits {
constexpr std::uint8_t Dotted = 0x01;
constexpr std::uint8_t Chord = 0x02;
constexpr std::uint8_t Text = 0x04;
constexpr std::uint8_t Effects = 0x08;
constexpr std::uint8_t MixTable = 0x10;
constexpr std::uint8_t Tuplet = 0x20;
constexpr std::uint8_t Status = 0x40;
}  // namespace BeatBits

// Duration codes of a beat: 2^(4 - code) sixty-fourth notes.
namespace Duration {
constexpr std::int8_t Whole = -2;
constexpr std::int8_t Half = -1;
constexpr std::int8_t Quarter = 0;
constexpr std::int8_t Eighth = 1;
constexpr std::int8_t Sixteenth = 2;
constexpr std::int8_t ThirtySecond = 3;
constexpr std::int8_t SixtyFourth = 4;
}  // namespace Duration

struct Beat {
    std::uint8_t flags = 0;
    std::uint8_t status = 2;     // flags 0x40: 0 empty, 2 rest
    std::int8_t duration = Duration::Quarter;
    std::int32_t tuplet = 3;     // flags 0x20
    ChordDiagram chord;          // flags 0x02
    std::string text;            // flags 0x04
    std::optional<std::uint32_t> textUnusedField;  // text size + 1 unless set
    BeatEffects effects;         // flags 0x08
    MixTable mix;                // flags 0x10
    std::uint8_t stringFlags = 0;  // bit (6 - k) set: notes[k] is written
    std::array<Note, 7> notes;     // slot k is string k + 1
};

// Measure header flag bits.
namespace MeasureBits {
constexpr std::uint8_t Numerator = 0x01;
constexpr std::uint8_t Denominator = 0x02;
constexpr std::uint8_t BeginRepeat = 0x04;
constexpr std::uint8_t EndRepeat = 0x08;
constexpr std::uint8_t AltEnding = 0x10;
constexpr std::uint8_t Marker = 0x20;
constexpr std::uint8_t Tonality = 0x40;
constexpr std::uint8_t DoubleBar = 0x80;
}  // namespace MeasureBits

struct MeasureHeader {
    std::uint8_t flags = 0;
    std::uint8_t numerator = 4;    // 0x01
    std::uint8_t denominator = 4;  // 0x02
    std::uint8_t repeatCount = 1;  // 0x08
    std::uint8_t altEnding = 1;    // 0x10
    std::string markerText = "Marker";  // 0x20
    std::optional<std::uint32_t> markerTextUnusedField;  // text size + 1 unless set
    std::uint32_t markerColor = 0x000000FFu;  // 0x20, little-endian
    std::int8_t tonality = 0;        // 0x40, these two
    std::uint8_t tonalityType = 0;
};

// One track record: always 98 bytes unless the name outgrows its field.
struct Track {
    std::uint8_t flags = 0;
    std::string name = "Track 1";
    std::uint8_t nameFiller = 0;
    std::uint32_t stringCount = 6;
    std::array<std::int32_t, 7> tunings = {64, 59, 55, 50, 45, 40, 0};
    std::uint32_t port = 1;
    std::uint32_t channel = 1;
    std::uint32_t effectsChannel = 2;
    std::uint32_t frets = 24;
    std::uint32_t capo = 0;
    std::uint32_t colour = 0x000000FFu;
};

// One 12-byte entry of the channel table.
struct ChannelEntry {
    std::int32_t instrument = 25;
    std::uint8_t volume = 13;
    std::uint8_t balance = 8;
    std::uint8_t chorus = 0;
    std::uint8_t reverb = 0;
    std::uint8_t phaser = 0;
    std::uint8_t tremolo = 0;
    std::array<std::uint8_t, 2> filler = {0, 0};
};

struct LyricsLine {
    std::uint32_t unusedField = 0;
    std::string text;
};

// A whole file. The default is the header of a valid song with no measures
// and no tracks; MinimalSong() adds one measure, one track and one note.
struct Song {
    std::string version = "FICHIER GUITAR PRO v4.06";
    std::uint8_t versionFiller = 0;  // fills the 31-byte version field
    std::string title = "Title";
    std::string subtitle = "Subtitle";
    std::string interpret = "Interpret";
    std::string album = "Album";
    std::string author = "Author";
    std::string copyright = "Copyright";
    std::string tabAuthor = "Tab author";
    std::string instructions = "Instructions";
    std::vector<std::string> noticeLines;
    std::optional<std::uint32_t> noticeLineCountOverride;
    std::uint8_t tripletFeel = 0;
    std::int32_t lyricsTrack = 1;
    std::array<LyricsLine, 5> lyrics;
    std::uint32_t tempo = 120;
    std::int8_t key = 0;
    std::int32_t octave = 0;
    std::array<std::array<ChannelEntry, 16>, 4> channels;  // [port][channel]
    std::vector<MeasureHeader> measures;
    std::vector<Track> tracks;
    // [measure][track]; a missing entry is written as a pair of 0 beats.
    std::vector<std::vector<std::vector<Beat>>> beats;
    // Counts written instead of the true ones; the records written stay the same.
    std::optional<std::uint32_t> measureCountOverride;
    std::optional<std::uint32_t> trackCountOverride;
    std::map<std::pair<std::size_t, std::size_t>, std::uint32_t> beatCountOverrides;
};

// ---------------------------------------------------------------------------
// Makers.

// The stringFlags bit of string 1 to 7 (string 1 is 0x40, string 7 is 0x01).
std::uint8_t StringBit(int string);
// A beat of the given duration code with one plain note per {string, fret}.
Beat NoteBeat(std::int8_t duration, std::initializer_list<std::pair<int, int>> stringFrets);
Beat QuarterNote(int string, int fret);
// A beat with status 2 (rest) and no notes.
Beat RestBeat(std::int8_t duration);
// A measure header that carries a time signature.
MeasureHeader TimeSignature(std::uint8_t numerator, std::uint8_t denominator);
// One measure of 4/4, one track, one quarter note (string 1, fret 5).
Song MinimalSong();
// MinimalSong's track (first string 64) through the given measures of beats,
// the first one carrying 4/4.
Song OneTrackSong(const std::vector<std::vector<Beat>> &measures);
// The beat with its note on string 1 to 7 carrying note effects of the two flag bytes.
Beat WithNoteEffects(Beat beat, int string, std::uint8_t flags1, std::uint8_t flags2);
// The beat with its note on the string bent along the points (other effects kept).
Beat WithBend(Beat beat, int string, std::vector<BendPoint> points);
// The beat with its note on the string slid: slide is the file's signed kind.
Beat WithSlide(Beat beat, int string, std::int8_t slide);
// The beat carrying beat effects of the two flag bytes.
Beat WithBeatEffects(Beat beat, std::uint8_t flags1, std::uint8_t flags2);
// A song that uses every block and every flag: both chord formats, markers,
// repeats, alternative endings, tonality changes, notice lines, lyrics, three
// tracks over four measures. Variant 1 differs in version (v4.00), triplet
// feel (on), tempo and channel settings, so that two songs can be told apart.
Song FeatureRichSong(int variant = 0);

// ---------------------------------------------------------------------------
// Section writers, mirroring the file.

// Version, song information, lyrics and piece information (counts included).
void WriteSongHeader(Bytes &bytes, const Song &song);
void WriteMeasureHeader(Bytes &bytes, const MeasureHeader &measure);
void WriteTrack(Bytes &bytes, const Track &track);
void WriteBeat(Bytes &bytes, const Beat &beat);
void WriteNote(Bytes &bytes, const Note &note);
void WriteNoteEffects(Bytes &bytes, const NoteEffects &effects);
void WriteBend(Bytes &bytes, const Bend &bend);
void WriteBeatEffects(Bytes &bytes, const BeatEffects &effects);
void WriteMixTable(Bytes &bytes, const MixTable &mix);
void WriteChordDiagram(Bytes &bytes, const ChordDiagram &chord);
Bytes WriteSong(const Song &song);

// ---------------------------------------------------------------------------
// Files. Each process writes into its own directory (made with mkdtemp under
// $TMPDIR or /tmp), which is removed with everything in it at exit.

// Writes the bytes to a new file whose name contains the hint; returns its path.
std::string WriteTempFile(const Bytes &bytes, const std::string &nameHint);
// Removes a file written by WriteTempFile.
void RemoveTempFile(const std::string &path);

}  // namespace gp4

#endif  // ZELTO_TESTS_GP4_WRITER_H
