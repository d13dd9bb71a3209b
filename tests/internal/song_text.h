// song_text.h - every field of a loaded song as text, for the tests that
// compare two songs or one song before and after something: two loads of one
// file through windows of different sizes, a song before and after a failed
// export, and the fuzz checks' song before and after its exports. Strings
// are read whole and told apart from null ones; the track fields the
// conversion uses as its scratch (beatIndex, beatPulsesLeft) are left out,
// the measures' pass counters are in.
#ifndef ZELTO_TESTS_INTERNAL_SONG_TEXT_H
#define ZELTO_TESTS_INTERNAL_SONG_TEXT_H

#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "gp/song.h"

namespace SongText {

inline void Put(std::ostringstream &text, const char *name, long long value) { text << name << '=' << value << ' '; }

inline void PutText(std::ostringstream &text, const char *name, const char *value) {
    text << name << '=';
    if (value == nullptr)
        text << "(null)";
    else
        text << '"' << value << '"';
    text << ' ';
}

template <typename Value, std::size_t count>
void PutArray(std::ostringstream &text, const char *name, const Value (&values)[count]) {
    text << name << "=[";
    for (const Value &value : values) text << static_cast<long long>(value) << ',';
    text << "] ";
}

inline void PutBend(std::ostringstream &text, const char *name, const Talvoren::Bend *bend) {
    text << name << '{';
    if (bend != nullptr) {
        Put(text, "type", bend->bendType);
        Put(text, "value", bend->bendValue);
        Put(text, "points", bend->pointCount);
        for (std::uint32_t point = 0; point < bend->pointCount; ++point)
            text << bend->points[point].position << '/' << bend->points[point].value << '/'
                 << int(bend->points[point].vibrato) << ' ';
    }
    text << "} ";
}

inline void PutNote(std::ostringstream &text, const Talvoren::Note &note) {
    Put(text, "flags", note.flags);
    Put(text, "type", note.noteType);
    Put(text, "ownDuration", note.timeIndependentDuration);
    Put(text, "ownTuplet", note.timeIndependentTuplet);
    Put(text, "dynamic", note.dynamic);
    Put(text, "fret", note.fret);
    Put(text, "left", note.leftFingering);
    Put(text, "right", note.rightFingering);
    text << "effect{";
    if (const Talvoren::NoteEffect *effect = note.effect) {
        Put(text, "flags1", effect->flags1);
        Put(text, "flags2", effect->flags2);
        PutBend(text, "bend", effect->bend);
        const long long values[] = {effect->graceFret,      effect->graceDynamic, effect->graceTransition,
                                    effect->graceDuration,  effect->tremoloPicking, effect->slide,
                                    effect->harmonic,       effect->trillFret,    effect->trillPeriod};
        PutArray(text, "values", values);
    }
    text << "} ";
}

inline void PutBeat(std::ostringstream &text, const Talvoren::Beat &beat) {
    Put(text, "flags", beat.flags);
    Put(text, "status", beat.status);
    Put(text, "duration", beat.duration);
    Put(text, "tuplet", beat.tuplet);
    text << "chord{";
    if (const Talvoren::ChordDiagram *chord = beat.chordDiagram) {
        const long long values[] = {chord->format,   chord->sharp,     chord->root,  chord->chordType,
                                    chord->extension, chord->bass,     chord->tonality, chord->add,
                                    chord->fifth,    chord->ninth,     chord->eleventh, chord->baseFret,
                                    chord->barreCount, chord->reserved3, chord->showFingering};
        PutArray(text, "values", values);
        PutText(text, "name", chord->name);
        PutArray(text, "reserved1", chord->reserved1);
        PutArray(text, "reserved2", chord->reserved2);
        PutArray(text, "frets", chord->frets);
        PutArray(text, "barreFrets", chord->barreFrets);
        PutArray(text, "barreStarts", chord->barreStarts);
        PutArray(text, "barreEnds", chord->barreEnds);
        PutArray(text, "omissions", chord->omissions);
        PutArray(text, "fingerings", chord->fingerings);
    }
    text << "} ";
    PutText(text, "text", beat.text);
    text << "effects{";
    if (const Talvoren::BeatEffect *effect = beat.beatEffect) {
        Put(text, "flags1", effect->flags1);
        Put(text, "flags2", effect->flags2);
        Put(text, "tapping", effect->tappingType);
        PutBend(text, "tremoloBar", effect->tremoloBar);
        PutArray(text, "strokes", effect->strokeSpeeds);
        Put(text, "pick", effect->pickStroke);
    }
    text << "} mix{";
    if (const Talvoren::MixTableEvent *mix = beat.mixTableEvent) {
        const long long values[] = {mix->instrument,      mix->volume,          mix->balance,       mix->chorus,
                                    mix->reverb,          mix->phaser,          mix->tremolo,       mix->tempo,
                                    mix->volumeDuration,  mix->balanceDuration, mix->chorusDuration,
                                    mix->reverbDuration,  mix->phaserDuration,  mix->tremoloDuration,
                                    mix->tempoDuration,   mix->applyToAllTracks};
        PutArray(text, "values", values);
    }
    text << "} ";
    Put(text, "strings", beat.stringFlags);
    for (const Talvoren::Note &note : beat.notes) PutNote(text, note);
}

// The whole song as text: headers, measures, tracks, and every pair's beats.
inline std::string Describe(const Talvoren::FileStruct &file) {
    std::ostringstream text;
    const Talvoren::HeadersStruct &headers = file.headers;
    PutText(text, "version", headers.version);
    const Talvoren::TabInfo &info = headers.tabInfo;
    for (const char *value : {info.title, info.subtitle, info.interpret, info.album, info.author, info.copyright,
                              info.tabAuthor, info.instructions})
        PutText(text, "info", value);
    Put(text, "notices", info.noticeLineCount);
    if (info.noticeLines != nullptr)
        for (std::uint32_t line = 0; line < info.noticeLineCount; ++line) PutText(text, "notice", info.noticeLines[line]);
    Put(text, "tripletFeel", info.tripletFeel);
    Put(text, "lyricsTrack", headers.lyricsInfo.lyricsTrack);
    for (const char *line : headers.lyricsInfo.lyricsLines) PutText(text, "lyrics", line);
    const auto *piece = reinterpret_cast<const unsigned char *>(&headers.pieceInfo);
    text << "piece=";
    for (std::size_t index = 0; index < sizeof headers.pieceInfo; ++index) text << int(piece[index]) << ',';
    text << '\n';
    const std::uint32_t measureCount = headers.pieceInfo.measureCount;
    const std::uint32_t trackCount = headers.pieceInfo.trackCount;
    if (file.body.measures != nullptr) {
        for (std::uint32_t index = 0; index < measureCount; ++index) {
            const Talvoren::Measure &measure = file.body.measures[index];
            const long long values[] = {measure.flags,     measure.keyNumerator, measure.keyDenominator,
                                        measure.repeatCount, measure.altEndingCount, measure.tonality,
                                        measure.tonalityType, measure.repeatsPlayed};
            PutArray(text, "measure", values);
            if (measure.marker != nullptr) {
                PutText(text, "marker", measure.marker->text);
                Put(text, "colour", measure.marker->color);
            }
            text << '\n';
        }
    }
    if (file.body.tracks != nullptr) {
        for (std::uint32_t index = 0; index < trackCount; ++index) {
            const Talvoren::Track &track = file.body.tracks[index];
            PutText(text, "track", track.name);
            const long long values[] = {track.flags,     track.stringCount, track.midiPort, track.midiChannel,
                                        track.effectsMidiChannel, track.fretCount, track.capoHeight, track.color};
            PutArray(text, "values", values);
            PutArray(text, "tunings", track.tunings);
            text << '\n';
        }
    }
    if (file.body.measureTrackPairs != nullptr) {
        for (std::uint32_t measure = 0; measure < measureCount; ++measure) {
            const Talvoren::MeasureTrackPair *row = file.body.measureTrackPairs[measure];
            if (row == nullptr) continue;
            for (std::uint32_t track = 0; track < trackCount; ++track) {
                text << "pair " << measure << '/' << track << ": " << row[track].beatCount << " owners "
                     << row[track].owners << '\n';
                if (row[track].beats == nullptr) continue;
                for (std::uint32_t beat = 0; beat < row[track].beatCount; ++beat) {
                    PutBeat(text, row[track].beats[beat]);
                    text << '\n';
                }
            }
        }
    }
    return text.str();
}

}  // namespace SongText

#endif  // ZELTO_TESTS_INTERNAL_SONG_TEXT_H
