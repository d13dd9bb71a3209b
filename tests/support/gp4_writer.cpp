// gp4_writer.cpp - the test-side Guitar Pro 4 writer: primitives, one writer
// per file section, the song makers and the per-process temporary files.
#include "gp4_writer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace gp4 {

// ---------------------------------------------------------------------------
// Primitives.

void WriteByte(Bytes &bytes, std::uint8_t value) { bytes.push_back(value); }

void WriteInt(Bytes &bytes, std::uint32_t value) {
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 16) & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>((value >> 24) & 0xFF));
}

void WriteText(Bytes &bytes, const std::string &text) {
    for (char character : text) bytes.push_back(static_cast<std::uint8_t>(character));
}

void WriteBytes(Bytes &bytes, const Bytes &more) { bytes.insert(bytes.end(), more.begin(), more.end()); }

void WriteByteSizeString(Bytes &bytes, const std::string &text) {
    WriteByte(bytes, static_cast<std::uint8_t>(text.size() & 0xFF));
    WriteText(bytes, text);
}

void WriteIntSizeString(Bytes &bytes, const std::string &text) {
    WriteInt(bytes, static_cast<std::uint32_t>(text.size()));
    WriteText(bytes, text);
}

void WriteIntByteSizeString(Bytes &bytes, const std::string &text) {
    WriteIntByteSizeString(bytes, text, static_cast<std::uint32_t>(text.size() + 1));
}

void WriteIntByteSizeString(Bytes &bytes, const std::string &text, std::uint32_t unusedField) {
    WriteInt(bytes, unusedField);
    WriteByteSizeString(bytes, text);
}

void WriteFixedString(Bytes &bytes, const std::string &text, std::size_t fieldSize,
                      std::uint8_t filler) {
    WriteByteSizeString(bytes, text);
    for (std::size_t used = text.size(); used < fieldSize; ++used) WriteByte(bytes, filler);
}

namespace {

void WriteSigned(Bytes &bytes, std::int32_t value) { WriteInt(bytes, static_cast<std::uint32_t>(value)); }

void WriteSignedByte(Bytes &bytes, std::int8_t value) { WriteByte(bytes, static_cast<std::uint8_t>(value)); }

template <std::size_t Size>
void WriteByteArray(Bytes &bytes, const std::array<std::uint8_t, Size> &values) {
    for (std::uint8_t value : values) WriteByte(bytes, value);
}

std::uint32_t DefaultUnusedField(const std::string &text, const std::optional<std::uint32_t> &given) {
    return given ? *given : static_cast<std::uint32_t>(text.size() + 1);
}

}  // namespace

// ---------------------------------------------------------------------------
// Section writers.

void WriteSongHeader(Bytes &bytes, const Song &song) {
    WriteFixedString(bytes, song.version, 30, song.versionFiller);

    for (const std::string *info : {&song.title, &song.subtitle, &song.interpret, &song.album,
                                    &song.author, &song.copyright, &song.tabAuthor, &song.instructions})
        WriteIntByteSizeString(bytes, *info);
    WriteInt(bytes, song.noticeLineCountOverride
                        ? *song.noticeLineCountOverride
                        : static_cast<std::uint32_t>(song.noticeLines.size()));
    for (const std::string &line : song.noticeLines) WriteIntByteSizeString(bytes, line);
    WriteByte(bytes, song.tripletFeel);

    WriteSigned(bytes, song.lyricsTrack);
    for (const LyricsLine &line : song.lyrics) {
        WriteInt(bytes, line.unusedField);
        WriteIntSizeString(bytes, line.text);
    }

    // Piece information: 785 packed bytes.
    WriteInt(bytes, song.tempo);
    WriteSignedByte(bytes, song.key);
    WriteSigned(bytes, song.octave);
    for (const auto &port : song.channels) {
        for (const ChannelEntry &entry : port) {
            WriteSigned(bytes, entry.instrument);
            WriteByte(bytes, entry.volume);
            WriteByte(bytes, entry.balance);
            WriteByte(bytes, entry.chorus);
            WriteByte(bytes, entry.reverb);
            WriteByte(bytes, entry.phaser);
            WriteByte(bytes, entry.tremolo);
            WriteByteArray(bytes, entry.filler);
        }
    }
    WriteInt(bytes, song.measureCountOverride ? *song.measureCountOverride
                                              : static_cast<std::uint32_t>(song.measures.size()));
    WriteInt(bytes, song.trackCountOverride ? *song.trackCountOverride
                                            : static_cast<std::uint32_t>(song.tracks.size()));
}

void WriteMeasureHeader(Bytes &bytes, const MeasureHeader &measure) {
    WriteByte(bytes, measure.flags);
    if (measure.flags & MeasureBits::Numerator) WriteByte(bytes, measure.numerator);
    if (measure.flags & MeasureBits::Denominator) WriteByte(bytes, measure.denominator);
    if (measure.flags & MeasureBits::EndRepeat) WriteByte(bytes, measure.repeatCount);
    if (measure.flags & MeasureBits::AltEnding) WriteByte(bytes, measure.altEnding);
    if (measure.flags & MeasureBits::Marker) {
        WriteIntByteSizeString(bytes, measure.markerText,
                               DefaultUnusedField(measure.markerText, measure.markerTextUnusedField));
        WriteInt(bytes, measure.markerColor);
    }
    if (measure.flags & MeasureBits::Tonality) {
        WriteSignedByte(bytes, measure.tonality);
        WriteByte(bytes, measure.tonalityType);
    }
}

void WriteTrack(Bytes &bytes, const Track &track) {
    WriteByte(bytes, track.flags);
    WriteFixedString(bytes, track.name, 40, track.nameFiller);
    WriteInt(bytes, track.stringCount);
    for (std::int32_t tuning : track.tunings) WriteSigned(bytes, tuning);
    WriteInt(bytes, track.port);
    WriteInt(bytes, track.channel);
    WriteInt(bytes, track.effectsChannel);
    WriteInt(bytes, track.frets);
    WriteInt(bytes, track.capo);
    WriteInt(bytes, track.colour);
}

void WriteBend(Bytes &bytes, const Bend &bend) {
    WriteByte(bytes, bend.type);
    WriteSigned(bytes, bend.value);
    WriteInt(bytes, bend.pointCountOverride ? *bend.pointCountOverride
                                            : static_cast<std::uint32_t>(bend.points.size()));
    for (const BendPoint &point : bend.points) {
        WriteSigned(bytes, point.position);
        WriteSigned(bytes, point.value);
        WriteByte(bytes, point.vibrato);
    }
}

void WriteNoteEffects(Bytes &bytes, const NoteEffects &effects) {
    WriteByte(bytes, effects.flags1);
    WriteByte(bytes, effects.flags2);
    if (effects.flags1 & NoteEffectBits::Bend) WriteBend(bytes, effects.bend);
    if (effects.flags1 & NoteEffectBits::Grace) {
        WriteByte(bytes, effects.graceFret);
        WriteByte(bytes, effects.graceDynamic);
        WriteByte(bytes, effects.graceTransition);
        WriteByte(bytes, effects.graceDuration);
    }
    if (effects.flags2 & NoteEffectBits::TremoloPicking) WriteByte(bytes, effects.tremoloPicking);
    if (effects.flags2 & NoteEffectBits::Slide) WriteByte(bytes, effects.slide);
    if (effects.flags2 & NoteEffectBits::Harmonic) WriteByte(bytes, effects.harmonic);
    if (effects.flags2 & NoteEffectBits::Trill) {
        WriteByte(bytes, effects.trillFret);
        WriteByte(bytes, effects.trillPeriod);
    }
}

void WriteNote(Bytes &bytes, const Note &note) {
    WriteByte(bytes, note.flags);
    if (note.flags & NoteBits::TypeAndFret) WriteByte(bytes, note.type);
    if (note.flags & NoteBits::TimeIndependentDuration) {
        WriteSignedByte(bytes, note.timeIndependentDuration);
        WriteByte(bytes, note.timeIndependentTuplet);
    }
    if (note.flags & NoteBits::Dynamic) WriteByte(bytes, note.dynamic);
    if (note.flags & NoteBits::TypeAndFret) WriteByte(bytes, note.fret);
    if (note.flags & NoteBits::Fingering) {
        WriteSignedByte(bytes, note.leftFingering);
        WriteSignedByte(bytes, note.rightFingering);
    }
    if (note.flags & NoteBits::Effects) WriteNoteEffects(bytes, note.effects);
}

void WriteBeatEffects(Bytes &bytes, const BeatEffects &effects) {
    WriteByte(bytes, effects.flags1);
    WriteByte(bytes, effects.flags2);
    if (effects.flags1 & BeatEffectBits::Tapping) WriteByte(bytes, effects.tapping);
    if (effects.flags2 & BeatEffectBits::TremoloBar) WriteBend(bytes, effects.tremoloBar);
    if (effects.flags1 & BeatEffectBits::Stroke) WriteByteArray(bytes, effects.strokeSpeeds);
    if (effects.flags2 & BeatEffectBits::PickStroke) WriteByte(bytes, effects.pickStroke);
}

void WriteMixTable(Bytes &bytes, const MixTable &mix) {
    const std::uint8_t values[] = {mix.instrument, mix.volume, mix.balance, mix.chorus,
                                   mix.reverb,     mix.phaser, mix.tremolo};
    for (std::uint8_t value : values) WriteByte(bytes, value);
    WriteSigned(bytes, mix.tempo);
    const std::pair<std::uint8_t, std::uint8_t> changes[] = {
        {mix.volume, mix.volumeDuration}, {mix.balance, mix.balanceDuration},
        {mix.chorus, mix.chorusDuration}, {mix.reverb, mix.reverbDuration},
        {mix.phaser, mix.phaserDuration}, {mix.tremolo, mix.tremoloDuration}};
    for (const auto &change : changes)
        if (change.first != 0xFF) WriteByte(bytes, change.second);
    if (mix.tempo != -1) WriteByte(bytes, mix.tempoDuration);
    WriteByte(bytes, mix.applyToAllTracks);
}

void WriteChordDiagram(Bytes &bytes, const ChordDiagram &chord) {
    WriteByte(bytes, chord.format);
    if (chord.format == 0) {
        WriteIntByteSizeString(bytes, chord.name, DefaultUnusedField(chord.name, chord.nameUnusedField));
        WriteSigned(bytes, chord.baseFret);
        if (chord.baseFret != 0)
            for (std::size_t string = 0; string < 6; ++string) WriteSigned(bytes, chord.frets[string]);
        return;
    }
    if (chord.format != 1) return;  // an unknown format: nothing follows that a reader could know

    WriteByte(bytes, chord.sharp);
    WriteByteArray(bytes, chord.reserved1);
    WriteByte(bytes, chord.root);
    WriteByte(bytes, chord.chordType);
    WriteByte(bytes, chord.extension);
    WriteSigned(bytes, chord.bass);
    WriteSigned(bytes, chord.tonality);
    WriteByte(bytes, chord.add);
    WriteFixedString(bytes, chord.name, 20, chord.nameFiller);
    WriteByteArray(bytes, chord.reserved2);
    WriteByte(bytes, chord.fifth);
    WriteByte(bytes, chord.ninth);
    WriteByte(bytes, chord.eleventh);
    WriteSigned(bytes, chord.baseFret);
    for (std::int32_t fret : chord.frets) WriteSigned(bytes, fret);
    WriteByte(bytes, chord.barreCount);
    WriteByteArray(bytes, chord.barreFrets);
    WriteByteArray(bytes, chord.barreStarts);
    WriteByteArray(bytes, chord.barreEnds);
    WriteByteArray(bytes, chord.omissions);
    WriteByte(bytes, chord.reserved3);
    for (std::int8_t finger : chord.fingerings) WriteSignedByte(bytes, finger);
    WriteByte(bytes, chord.showFingering);
}

void WriteBeat(Bytes &bytes, const Beat &beat) {
    WriteByte(bytes, beat.flags);
    if (beat.flags & BeatBits::Status) WriteByte(bytes, beat.status);
    WriteSignedByte(bytes, beat.duration);
    if (beat.flags & BeatBits::Tuplet) WriteSigned(bytes, beat.tuplet);
    if (beat.flags & BeatBits::Chord) WriteChordDiagram(bytes, beat.chord);
    if (beat.flags & BeatBits::Text)
        WriteIntByteSizeString(bytes, beat.text, DefaultUnusedField(beat.text, beat.textUnusedField));
    if (beat.flags & BeatBits::Effects) WriteBeatEffects(bytes, beat.effects);
    if (beat.flags & BeatBits::MixTable) WriteMixTable(bytes, beat.mix);
    WriteByte(bytes, beat.stringFlags);
    for (std::size_t slot = 0; slot < beat.notes.size(); ++slot)
        if (beat.stringFlags & (1u << (6 - slot))) WriteNote(bytes, beat.notes[slot]);
}

Bytes WriteSong(const Song &song) {
    Bytes bytes;
    WriteSongHeader(bytes, song);
    for (const MeasureHeader &measure : song.measures) WriteMeasureHeader(bytes, measure);
    for (const Track &track : song.tracks) WriteTrack(bytes, track);
    for (std::size_t measure = 0; measure < song.measures.size(); ++measure) {
        for (std::size_t track = 0; track < song.tracks.size(); ++track) {
            static const std::vector<Beat> noBeats;
            const std::vector<Beat> &beats =
                measure < song.beats.size() && track < song.beats[measure].size()
                    ? song.beats[measure][track]
                    : noBeats;
            auto beatCountOverride = song.beatCountOverrides.find({measure, track});
            WriteInt(bytes, beatCountOverride != song.beatCountOverrides.end()
                                ? beatCountOverride->second
                                : static_cast<std::uint32_t>(beats.size()));
            for (const Beat &beat : beats) WriteBeat(bytes, beat);
        }
    }
    return bytes;
}

// ---------------------------------------------------------------------------
// Makers.

std::uint8_t StringBit(int string) { return static_cast<std::uint8_t>(1u << (7 - string)); }

Beat NoteBeat(std::int8_t duration, std::initializer_list<std::pair<int, int>> stringFrets) {
    Beat beat;
    beat.duration = duration;
    for (const auto &stringFret : stringFrets) {
        beat.stringFlags |= StringBit(stringFret.first);
        Note &note = beat.notes[static_cast<std::size_t>(stringFret.first - 1)];
        note.flags = NoteBits::TypeAndFret;
        note.type = 1;
        note.fret = static_cast<std::uint8_t>(stringFret.second);
    }
    return beat;
}

Beat QuarterNote(int string, int fret) { return NoteBeat(Duration::Quarter, {{string, fret}}); }

Beat RestBeat(std::int8_t duration) {
    Beat beat;
    beat.flags = BeatBits::Status;
    beat.status = 2;
    beat.duration = duration;
    return beat;
}

MeasureHeader TimeSignature(std::uint8_t numerator, std::uint8_t denominator) {
    MeasureHeader measure;
    measure.flags = MeasureBits::Numerator | MeasureBits::Denominator;
    measure.numerator = numerator;
    measure.denominator = denominator;
    return measure;
}

Song MinimalSong() {
    Song song;
    song.measures = {TimeSignature(4, 4)};
    song.tracks = {Track()};
    song.beats = {{{QuarterNote(1, 5)}}};
    return song;
}

Song OneTrackSong(const std::vector<std::vector<Beat>> &measures) {
    Song song = MinimalSong();
    song.measures.assign(measures.size(), MeasureHeader());
    if (!song.measures.empty()) song.measures[0] = TimeSignature(4, 4);
    song.beats.clear();
    for (const auto &beats : measures) song.beats.push_back({beats});
    return song;
}

Beat WithNoteEffects(Beat beat, int string, std::uint8_t flags1, std::uint8_t flags2) {
    Note &note = beat.notes[static_cast<std::size_t>(string - 1)];
    note.flags |= NoteBits::Effects;
    note.effects.flags1 = flags1;
    note.effects.flags2 = flags2;
    return beat;
}

Beat WithBend(Beat beat, int string, std::vector<BendPoint> points) {
    Note &note = beat.notes[static_cast<std::size_t>(string - 1)];
    note.flags |= NoteBits::Effects;
    note.effects.flags1 |= NoteEffectBits::Bend;
    note.effects.bend.points = std::move(points);
    return beat;
}

Beat WithSlide(Beat beat, int string, std::int8_t slide) {
    Note &note = beat.notes[static_cast<std::size_t>(string - 1)];
    note.flags |= NoteBits::Effects;
    note.effects.flags2 |= NoteEffectBits::Slide;
    note.effects.slide = static_cast<std::uint8_t>(slide);
    return beat;
}

Beat WithBeatEffects(Beat beat, std::uint8_t flags1, std::uint8_t flags2) {
    beat.flags |= BeatBits::Effects;
    beat.effects.flags1 = flags1;
    beat.effects.flags2 = flags2;
    return beat;
}

namespace {

Track MakeTrack(const std::string &name, std::uint32_t stringCount, std::array<std::int32_t, 7> tunings,
                std::uint32_t port, std::uint32_t channel, std::uint32_t effectsChannel,
                std::uint32_t frets, std::uint32_t capo, std::uint32_t colour) {
    Track track;
    track.name = name;
    track.stringCount = stringCount;
    track.tunings = tunings;
    track.port = port;
    track.channel = channel;
    track.effectsChannel = effectsChannel;
    track.frets = frets;
    track.capo = capo;
    track.colour = colour;
    return track;
}

// A note that announces every piece of data a note can carry, with an
// effect block that announces every piece of data of its own.
Note EveryNoteField(std::uint8_t fret) {
    Note note;
    note.flags = 0xFF;
    note.type = 1;
    note.timeIndependentDuration = Duration::Eighth;
    note.timeIndependentTuplet = 3;
    note.dynamic = 7;
    note.fret = fret;
    note.leftFingering = 2;
    note.rightFingering = -1;
    note.effects.flags1 = 0xFF;
    note.effects.flags2 = 0xFF;
    note.effects.bend.points = {{0, 0, 0}, {3, 2, 1}, {6, 4, 0}, {12, 0, 0}};
    return note;
}

}  // namespace

Song FeatureRichSong(int variant) {
    Song song;
    if (variant == 1) {
        song.version = "FICHIER GUITAR PRO v4.00";
        song.versionFiller = 0x20;
        song.title = "Second title";
        song.tripletFeel = 1;
        song.tempo = 90;
        song.key = 2;
        song.octave = 1;
    } else {
        song.title = "Feature rich";
        song.versionFiller = 0xAA;
        song.tempo = 132;
        song.key = -1;
        song.octave = 0;
    }
    song.subtitle = "Every block";
    song.interpret = "The writers";
    song.album = "Test songs";
    song.author = "Composer";
    song.copyright = "(c) nobody";
    song.tabAuthor = "Tablature";
    song.instructions = "Play it";
    song.noticeLines = {"First notice", "", "Third notice"};
    song.lyricsTrack = 2;
    for (std::size_t line = 0; line < song.lyrics.size(); ++line) {
        song.lyrics[line].unusedField = static_cast<std::uint32_t>(line + 1);
        song.lyrics[line].text = "Lyrics line " + std::to_string(line + 1);
    }
    song.lyrics[2].text = "";

    // Every channel entry differs from the others, so that a wrong index shows.
    for (std::size_t port = 0; port < 4; ++port) {
        for (std::size_t channel = 0; channel < 16; ++channel) {
            ChannelEntry &entry = song.channels[port][channel];
            entry.instrument = static_cast<std::int32_t>(port * 16 + channel + (variant == 1 ? 1 : 0));
            entry.volume = static_cast<std::uint8_t>(15 - channel % 8);
            entry.balance = static_cast<std::uint8_t>(channel);
            entry.chorus = static_cast<std::uint8_t>(port);
            entry.reverb = static_cast<std::uint8_t>(port + channel);
            entry.phaser = static_cast<std::uint8_t>(3 * port);
            entry.tremolo = static_cast<std::uint8_t>(channel / 2);
            entry.filler = {static_cast<std::uint8_t>(port), static_cast<std::uint8_t>(channel)};
        }
    }

    // Measures: 4/4 intro with a marker, a repeated section with alternative
    // endings, a 3/4 measure that changes only the numerator, and a 6/8
    // measure with every flag bit set (it repeats itself once).
    MeasureHeader intro = TimeSignature(4, 4);
    intro.flags |= MeasureBits::BeginRepeat | MeasureBits::Marker | MeasureBits::Tonality;
    intro.markerText = "Intro";
    intro.markerColor = 0x00FF0000u;
    intro.tonality = -2;
    intro.tonalityType = 0;

    MeasureHeader firstEnding;
    firstEnding.flags = MeasureBits::EndRepeat | MeasureBits::AltEnding | MeasureBits::DoubleBar;
    firstEnding.repeatCount = 1;
    firstEnding.altEnding = 1;

    MeasureHeader threeFour;
    threeFour.flags = MeasureBits::Numerator | MeasureBits::AltEnding | MeasureBits::Marker;
    threeFour.numerator = 3;
    threeFour.altEnding = 2;
    threeFour.markerText = "Verse";
    threeFour.markerColor = 0x0000FF00u;

    MeasureHeader everything;
    everything.flags = 0xFF;
    everything.numerator = 6;
    everything.denominator = 8;
    everything.repeatCount = 1;
    everything.altEnding = 3;
    everything.markerText = "Outro";
    everything.markerColor = 0x12345678u;
    everything.tonality = 1;
    everything.tonalityType = 1;

    song.measures = {intro, firstEnding, threeFour, everything};

    Track lead = MakeTrack("Lead guitar", 6, {64, 59, 55, 50, 45, 40, 0}, 1, 1, 2, 24, 0, 0x00FF0000u);
    Track bass = MakeTrack("Bass", 4, {43, 38, 33, 28, 0, 0, 0}, 1, 3, 4, 20, 2, 0x0000FF00u);
    bass.flags = 0x02;
    Track seven = MakeTrack("Seven strings", 7, {64, 59, 55, 50, 45, 40, 35}, 2, 5, 6, 29, 1, 0x000000FFu);
    seven.flags = 0x01;
    seven.nameFiller = 0x5A;
    song.tracks = {lead, bass, seven};

    song.beats.assign(4, std::vector<std::vector<Beat>>(3));

    // Lead guitar. Measure 0: a beat with every block (short chord, text,
    // effects, mix table), a rest, a dotted triplet eighth, a long chord.
    Beat loaded = NoteBeat(Duration::Quarter, {{1, 3}, {6, 0}});
    loaded.flags = BeatBits::Chord | BeatBits::Text | BeatBits::Effects | BeatBits::MixTable;
    loaded.chord.format = 0;
    loaded.chord.name = "G";
    loaded.chord.baseFret = 1;
    loaded.chord.frets = {3, 0, 0, 0, 2, 3, 0};
    loaded.text = "Intro riff";
    loaded.effects.flags1 = BeatEffectBits::Tapping | BeatEffectBits::Stroke | 0x01;
    loaded.effects.flags2 = BeatEffectBits::TremoloBar | BeatEffectBits::PickStroke | 0x01;
    loaded.mix.instrument = 30;
    loaded.mix.volume = 12;
    loaded.mix.volumeDuration = 2;
    loaded.mix.tempo = 100;
    loaded.mix.tempoDuration = 0;
    loaded.mix.applyToAllTracks = 0x01;
    loaded.notes[0] = EveryNoteField(3);
    loaded.notes[5].flags = NoteBits::TypeAndFret | NoteBits::Dynamic;
    loaded.notes[5].dynamic = 8;

    Beat dottedTriplet = NoteBeat(Duration::Eighth, {{2, 1}});
    dottedTriplet.flags = BeatBits::Dotted | BeatBits::Tuplet;
    dottedTriplet.tuplet = 3;

    Beat longChord = NoteBeat(Duration::Quarter, {{2, 1}, {3, 0}, {4, 2}, {5, 3}});
    longChord.flags = BeatBits::Chord;
    longChord.chord.format = 1;
    longChord.chord.name = "Cmaj7";
    longChord.chord.nameFiller = 0x20;
    longChord.chord.sharp = 1;
    longChord.chord.reserved1 = {1, 2, 3};
    longChord.chord.root = 0;
    longChord.chord.chordType = 5;
    longChord.chord.extension = 1;
    longChord.chord.bass = 4;
    longChord.chord.tonality = -1;
    longChord.chord.add = 1;
    longChord.chord.reserved2 = {7, 8};
    longChord.chord.fifth = 1;
    longChord.chord.ninth = 2;
    longChord.chord.eleventh = 3;
    longChord.chord.baseFret = 1;
    longChord.chord.frets = {0, 1, 0, 2, 3, -1, -1};
    longChord.chord.barreCount = 1;
    longChord.chord.barreFrets = {1, 0, 0, 0, 0};
    longChord.chord.barreStarts = {1, 0, 0, 0, 0};
    longChord.chord.barreEnds = {5, 0, 0, 0, 0};
    longChord.chord.omissions = {1, 1, 0, 1, 1, 1, 1};
    longChord.chord.reserved3 = 9;
    longChord.chord.fingerings = {0, 1, 0, 2, 3, -1, -1};
    longChord.chord.showFingering = 1;

    song.beats[0][0] = {loaded, RestBeat(Duration::Quarter), dottedTriplet, longChord};

    // Measure 1: eighths, a tie, a dead note, a half with a note-effect block
    // that carries only flag-only bits.
    Beat tie = NoteBeat(Duration::Eighth, {{1, 3}});
    tie.notes[0].type = 2;
    Beat dead = NoteBeat(Duration::Eighth, {{1, 0}});
    dead.notes[0].type = 3;
    Beat flagOnly = NoteBeat(Duration::Half, {{3, 2}});
    flagOnly.notes[2].flags |= NoteBits::Effects;
    flagOnly.notes[2].effects.flags1 = 0x0A;
    flagOnly.notes[2].effects.flags2 = 0x43;
    song.beats[1][0] = {NoteBeat(Duration::Eighth, {{1, 3}}), tie, dead, NoteBeat(Duration::Eighth, {{2, 1}}),
                        flagOnly};

    // Measure 2: a mix table that changes every value, each with a duration.
    Beat mixAll = NoteBeat(Duration::Quarter, {{1, 5}});
    mixAll.flags = BeatBits::MixTable;
    mixAll.mix = MixTable{26, 10, 4, 1, 2, 3, 4, 140, 1, 2, 3, 4, 5, 6, 7, 0x3F};
    Beat textOnly = NoteBeat(Duration::Quarter, {{1, 7}});
    textOnly.flags = BeatBits::Text;
    textOnly.text = "";
    textOnly.textUnusedField = 0xDEADBEEFu;
    song.beats[2][0] = {mixAll, textOnly, NoteBeat(Duration::Quarter, {{1, 8}})};

    // Measure 3 (6/8): two dotted quarters, one carrying a tremolo bar only.
    Beat dotted = NoteBeat(Duration::Quarter, {{1, 10}});
    dotted.flags = BeatBits::Dotted;
    Beat tremoloBar = dotted;
    tremoloBar.flags |= BeatBits::Effects;
    tremoloBar.effects.flags1 = 0;
    tremoloBar.effects.flags2 = BeatEffectBits::TremoloBar;
    tremoloBar.effects.tremoloBar.points = {};
    song.beats[3][0] = {dotted, tremoloBar};

    // Bass: plain notes, an empty beat (status 0), a measure with no beats,
    // a note with a time-independent duration and fingering.
    Beat empty = NoteBeat(Duration::Quarter, {});
    empty.flags = BeatBits::Status;
    empty.status = 0;
    song.beats[0][1] = {NoteBeat(Duration::Half, {{4, 0}}), empty, QuarterNote(3, 2)};
    song.beats[1][1] = {};
    Beat fingered = NoteBeat(Duration::Half, {{2, 3}});
    fingered.flags = BeatBits::Dotted;
    fingered.notes[1].flags = NoteBits::TypeAndFret | NoteBits::TimeIndependentDuration | NoteBits::Fingering;
    fingered.notes[1].timeIndependentDuration = Duration::Half;
    fingered.notes[1].timeIndependentTuplet = 1;
    fingered.notes[1].leftFingering = 1;
    fingered.notes[1].rightFingering = 2;
    song.beats[2][1] = {fingered};
    song.beats[3][1] = {RestBeat(Duration::Half), RestBeat(Duration::Quarter)};

    // Seven strings: a beat on all seven strings, strings 1 and 7 together,
    // a whole-measure rest, sixteenths and sixty-fourths.
    Beat allStrings = NoteBeat(Duration::Half, {{1, 0}, {2, 1}, {3, 2}, {4, 2}, {5, 0}, {6, 0}, {7, 3}});
    for (Note &note : allStrings.notes) {
        note.flags |= NoteBits::Dynamic;
        note.dynamic = 5;
    }
    song.beats[0][2] = {allStrings, NoteBeat(Duration::Half, {{1, 12}, {7, 0}})};
    song.beats[1][2] = {RestBeat(Duration::Whole)};
    song.beats[2][2] = {NoteBeat(Duration::Sixteenth, {{1, 1}}), NoteBeat(Duration::Sixteenth, {{1, 2}}),
                        NoteBeat(Duration::Eighth, {{1, 3}}), NoteBeat(Duration::SixtyFourth, {{7, 1}}),
                        RestBeat(Duration::SixtyFourth), NoteBeat(Duration::ThirtySecond, {{7, 2}})};
    song.beats[3][2] = {NoteBeat(Duration::Eighth, {{4, 4}}), NoteBeat(Duration::Eighth, {{4, 5}})};
    return song;
}

// ---------------------------------------------------------------------------
// Temporary files.

namespace {

std::string &TempDirectory() {
    static std::string directory;
    return directory;
}

void RemoveTempDirectory() {
    if (TempDirectory().empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(TempDirectory(), ignored);
    TempDirectory().clear();
}

const std::string &EnsureTempDirectory() {
    std::string &directory = TempDirectory();
    if (!directory.empty()) return directory;
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zelto-gp4-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    directory = name.data();
    std::atexit(RemoveTempDirectory);
    return directory;
}

}  // namespace

std::string WriteTempFile(const Bytes &bytes, const std::string &nameHint) {
    static unsigned fileNumber = 0;
    std::string safeHint = nameHint;
    for (char &character : safeHint)
        if (character == '/' || character == '\\') character = '_';
    std::string path = EnsureTempDirectory() + "/" + std::to_string(++fileNumber) + "-" + safeHint;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::perror(path.c_str());
        std::abort();
    }
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        std::perror(path.c_str());
        std::abort();
    }
    std::fclose(file);
    return path;
}

void RemoveTempFile(const std::string &path) { std::remove(path.c_str()); }

}  // namespace gp4
