// make_corpus.cpp - writes the fuzzer's seed songs into a folder: small files
// from the test-side writer that between them use every section, every block
// and every flag bit of the format, plus values at and past their limits,
// and two songs as large as the largest real ones.
// Usage: make_corpus FOLDER
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "gp4_writer.h"

namespace {

struct Seed {
    std::string name;
    gp4::Bytes bytes;
};

void Add(std::vector<Seed> &seeds, const std::string &name, const gp4::Song &song) {
    seeds.push_back({name, gp4::WriteSong(song)});
}

// The minimal song with its one beat replaced.
gp4::Song SongWithBeats(std::vector<gp4::Beat> beats) {
    gp4::Song song = gp4::MinimalSong();
    song.beats = {{beats}};
    return song;
}

gp4::Song SongWithBeat(const gp4::Beat &beat) { return SongWithBeats({beat}); }

gp4::Song SongWithMeasure(const gp4::MeasureHeader &measure) {
    gp4::Song song = gp4::MinimalSong();
    song.measures = {measure};
    return song;
}

gp4::Beat BeatWithNote(const gp4::Note &note) {
    gp4::Beat beat = gp4::QuarterNote(1, 5);
    beat.notes[0] = note;
    return beat;
}

gp4::Note NoteWithEffects(std::uint8_t flags1, std::uint8_t flags2) {
    gp4::Note note;
    note.flags = gp4::NoteBits::TypeAndFret | gp4::NoteBits::Effects;
    note.fret = 3;
    note.effects.flags1 = flags1;
    note.effects.flags2 = flags2;
    return note;
}

gp4::Beat BeatWithEffects(std::uint8_t flags1, std::uint8_t flags2) {
    gp4::Beat beat = gp4::QuarterNote(2, 1);
    beat.flags = gp4::BeatBits::Effects;
    beat.effects.flags1 = flags1;
    beat.effects.flags2 = flags2;
    return beat;
}

gp4::Beat BeatWithMix(const gp4::MixTable &mix) {
    gp4::Beat beat = gp4::QuarterNote(1, 0);
    beat.flags = gp4::BeatBits::MixTable;
    beat.mix = mix;
    return beat;
}

void AddHeaderSeeds(std::vector<Seed> &seeds) {
    Add(seeds, "header-empty-song", gp4::Song());
    gp4::Song old = gp4::MinimalSong();
    old.version = "FICHIER GUITAR PRO v4.00";
    old.versionFiller = 0x20;
    Add(seeds, "header-version-400", old);
    gp4::Song notices = gp4::MinimalSong();
    notices.noticeLines = {"One", "", "Three"};
    for (std::size_t line = 0; line < notices.lyrics.size(); ++line)
        notices.lyrics[line] = {static_cast<std::uint32_t>(line), "Line " + std::to_string(line)};
    Add(seeds, "header-notices-lyrics", notices);
    gp4::Song empty = gp4::MinimalSong();
    empty.title = empty.subtitle = empty.interpret = empty.album = "";
    empty.author = empty.copyright = empty.tabAuthor = empty.instructions = "";
    Add(seeds, "header-empty-texts", empty);
    gp4::Song tempoZero = gp4::MinimalSong();
    tempoZero.tempo = 0;
    Add(seeds, "header-tempo-0", tempoZero);
    gp4::Song tempoHuge = gp4::MinimalSong();
    tempoHuge.tempo = 0xFFFFFFFFu;
    tempoHuge.key = -128;
    tempoHuge.octave = -1;
    Add(seeds, "header-tempo-huge", tempoHuge);
    gp4::Song tempoOne = gp4::MinimalSong();
    tempoOne.tempo = 1;
    Add(seeds, "header-tempo-1", tempoOne);
    gp4::Song channels = gp4::MinimalSong();
    channels.channels[0][0].instrument = 300;
    channels.channels[0][0].volume = 255;
    Add(seeds, "header-channel-out-of-range", channels);
}

void AddMeasureSeeds(std::vector<Seed> &seeds) {
    const std::uint8_t bits[] = {gp4::MeasureBits::Numerator, gp4::MeasureBits::Denominator,
                                 gp4::MeasureBits::BeginRepeat, gp4::MeasureBits::EndRepeat,
                                 gp4::MeasureBits::AltEnding, gp4::MeasureBits::Marker,
                                 gp4::MeasureBits::Tonality,  gp4::MeasureBits::DoubleBar};
    for (std::uint8_t bit : bits) {
        gp4::MeasureHeader measure = gp4::TimeSignature(4, 4);
        measure.flags |= bit;
        measure.tonality = -3;
        measure.tonalityType = 1;
        char name[32];
        std::snprintf(name, sizeof name, "measure-bit-%02x", bit);
        Add(seeds, name, SongWithMeasure(measure));
    }
    gp4::MeasureHeader everything = gp4::TimeSignature(6, 8);
    everything.flags = 0xFF;
    Add(seeds, "measure-every-bit", SongWithMeasure(everything));

    const std::pair<int, int> signatures[] = {{3, 4}, {6, 8}, {7, 8}, {5, 16}, {2, 2}, {0, 4}, {4, 0}, {255, 1}, {1, 32}};
    for (const auto &signature : signatures) {
        Add(seeds, "measure-time-" + std::to_string(signature.first) + "-" + std::to_string(signature.second),
            SongWithMeasure(gp4::TimeSignature(static_cast<std::uint8_t>(signature.first),
                                               static_cast<std::uint8_t>(signature.second))));
    }
    gp4::MeasureHeader noSignature;
    Add(seeds, "measure-no-time-signature", SongWithMeasure(noSignature));

    // Five measures, begin on 1, end with two repeats on 3; and nested marks.
    gp4::Song repeats = gp4::MinimalSong();
    repeats.measures.assign(5, gp4::MeasureHeader());
    repeats.measures[0] = gp4::TimeSignature(4, 4);
    repeats.measures[1].flags = gp4::MeasureBits::BeginRepeat;
    repeats.measures[3].flags = gp4::MeasureBits::EndRepeat | gp4::MeasureBits::Marker;
    repeats.measures[3].repeatCount = 2;
    repeats.beats.assign(5, {{gp4::QuarterNote(1, 3)}});
    Add(seeds, "measure-repeats", repeats);
    gp4::Song nested = repeats;
    nested.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    nested.measures[2].flags = gp4::MeasureBits::EndRepeat | gp4::MeasureBits::AltEnding;
    nested.measures[2].repeatCount = 1;
    nested.measures[4].flags = gp4::MeasureBits::EndRepeat | gp4::MeasureBits::Numerator;
    nested.measures[4].numerator = 3;
    nested.measures[4].repeatCount = 255;
    Add(seeds, "measure-nested-repeats", nested);
}

void AddTrackSeeds(std::vector<Seed> &seeds) {
    gp4::Song seven = gp4::MinimalSong();
    seven.tracks[0].stringCount = 7;
    seven.tracks[0].tunings = {64, 59, 55, 50, 45, 40, 35};
    seven.beats = {{{gp4::NoteBeat(gp4::Duration::Half, {{1, 0}, {4, 2}, {7, 3}})}}};
    Add(seeds, "track-seven-strings", seven);
    gp4::Song many = seven;
    many.tracks[0].stringCount = 0xFFFFFFFFu;
    Add(seeds, "track-string-count-huge", many);
    gp4::Song longName = gp4::MinimalSong();
    longName.tracks[0].name = std::string(60, 'N');
    Add(seeds, "track-long-name", longName);
    gp4::Song sameChannel = gp4::MinimalSong();
    sameChannel.tracks[0].effectsChannel = sameChannel.tracks[0].channel;
    sameChannel.tracks[0].port = 4;
    sameChannel.tracks[0].channel = 16;
    sameChannel.tracks[0].effectsChannel = 16;
    Add(seeds, "track-last-channel", sameChannel);
    const std::uint32_t oddValues[][3] = {{0, 1, 2}, {1, 0, 2}, {1, 1, 0}, {5, 1, 2}, {1, 17, 2}, {1, 1, 17},
                                          {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu}};
    for (const auto &odd : oddValues) {
        gp4::Song song = gp4::MinimalSong();
        song.tracks[0].port = odd[0];
        song.tracks[0].channel = odd[1];
        song.tracks[0].effectsChannel = odd[2];
        Add(seeds, "track-port-" + std::to_string(odd[0]) + "-channel-" + std::to_string(odd[1]) + "-effects-" +
                       std::to_string(odd[2]),
            song);
    }
    gp4::Song tuned = gp4::MinimalSong();
    tuned.tracks[0].tunings = {200, -1, 127, 0, 0x7FFFFFFF, -2147483647 - 1, 64};
    tuned.beats = {{{gp4::NoteBeat(gp4::Duration::Quarter, {{1, 100}, {2, 1}, {3, 255}})}}};
    Add(seeds, "track-keys-out-of-range", tuned);
    gp4::Song tracks = gp4::MinimalSong();
    tracks.tracks.push_back(tracks.tracks[0]);
    tracks.tracks[1].channel = 10;
    tracks.tracks[1].port = 2;
    tracks.beats = {{{gp4::QuarterNote(1, 5)}, {gp4::RestBeat(gp4::Duration::Whole)}}};
    Add(seeds, "track-two-tracks", tracks);
    gp4::Song noTracks = gp4::MinimalSong();
    noTracks.tracks.clear();
    noTracks.beats.clear();
    noTracks.measures[0].flags |= gp4::MeasureBits::Marker;
    Add(seeds, "track-none", noTracks);
}

void AddBeatSeeds(std::vector<Seed> &seeds) {
    gp4::Beat dotted = gp4::QuarterNote(1, 2);
    dotted.flags = gp4::BeatBits::Dotted;
    Add(seeds, "beat-dotted", SongWithBeat(dotted));
    for (std::int32_t tuplet : {3, 5, 7, 9, 13, 0, -1}) {
        gp4::Beat beat = gp4::NoteBeat(gp4::Duration::Eighth, {{1, 2}});
        beat.flags = gp4::BeatBits::Tuplet;
        beat.tuplet = tuplet;
        Add(seeds, "beat-tuplet-" + std::to_string(tuplet), SongWithBeats({beat, beat, beat}));
    }
    for (std::uint8_t status : {0, 2, 1}) {
        gp4::Beat beat = gp4::QuarterNote(1, 2);
        beat.flags = gp4::BeatBits::Status;
        beat.status = status;
        Add(seeds, "beat-status-" + std::to_string(status), SongWithBeat(beat));
    }
    for (std::int8_t duration : {-2, -1, 1, 2, 3, 4, -3, 5, 127, -128}) {
        Add(seeds, "beat-duration-" + std::to_string(duration),
            SongWithBeats({gp4::NoteBeat(duration, {{1, 1}}), gp4::NoteBeat(duration, {{2, 1}})}));
    }

    gp4::Beat shortChord = gp4::QuarterNote(1, 3);
    shortChord.flags = gp4::BeatBits::Chord;
    Add(seeds, "beat-chord-short", SongWithBeat(shortChord));
    shortChord.chord.baseFret = 0;
    Add(seeds, "beat-chord-short-no-frets", SongWithBeat(shortChord));
    gp4::Beat longChord = shortChord;
    longChord.chord.format = 1;
    longChord.chord.name = "Cmaj7";
    Add(seeds, "beat-chord-long", SongWithBeat(longChord));
    longChord.chord.name = std::string(30, 'c');
    Add(seeds, "beat-chord-long-name-overrun", SongWithBeat(longChord));
    gp4::Beat badChord = shortChord;
    badChord.chord.format = 2;
    Add(seeds, "beat-chord-bad-format", SongWithBeat(badChord));

    gp4::Beat text = gp4::QuarterNote(1, 3);
    text.flags = gp4::BeatBits::Text;
    text.text = "Riff";
    Add(seeds, "beat-text", SongWithBeat(text));

    Add(seeds, "beat-effects-none", SongWithBeat(BeatWithEffects(0, 0)));
    Add(seeds, "beat-effects-tapping", SongWithBeat(BeatWithEffects(gp4::BeatEffectBits::Tapping, 0)));
    Add(seeds, "beat-effects-stroke", SongWithBeat(BeatWithEffects(gp4::BeatEffectBits::Stroke, 0)));
    Add(seeds, "beat-effects-tremolo-bar", SongWithBeat(BeatWithEffects(0, gp4::BeatEffectBits::TremoloBar)));
    Add(seeds, "beat-effects-pick-stroke", SongWithBeat(BeatWithEffects(0, gp4::BeatEffectBits::PickStroke)));
    Add(seeds, "beat-effects-every-bit", SongWithBeat(BeatWithEffects(0xFF, 0xFF)));

    gp4::MixTable unchanged;
    Add(seeds, "beat-mix-unchanged", SongWithBeat(BeatWithMix(unchanged)));
    gp4::MixTable every{26, 10, 4, 1, 2, 3, 4, 140, 1, 2, 3, 4, 5, 6, 7, 0x3F};
    Add(seeds, "beat-mix-every-value", SongWithBeat(BeatWithMix(every)));
    gp4::MixTable instrument;
    instrument.instrument = 40;
    Add(seeds, "beat-mix-instrument", SongWithBeat(BeatWithMix(instrument)));
    gp4::MixTable volumeTempo;
    volumeTempo.volume = 200;
    volumeTempo.tempo = 90;
    Add(seeds, "beat-mix-volume-tempo", SongWithBeat(BeatWithMix(volumeTempo)));
    for (std::int32_t tempo : {0, 1, -2, 0x7FFFFFFF}) {
        gp4::MixTable odd;
        odd.tempo = tempo;
        odd.instrument = 200;
        Add(seeds, "beat-mix-tempo-" + std::to_string(tempo), SongWithBeat(BeatWithMix(odd)));
    }

    gp4::Beat everyBlock = gp4::NoteBeat(gp4::Duration::Quarter, {{1, 3}, {6, 0}});
    everyBlock.flags = 0xFF;
    everyBlock.effects.flags1 = 0xFF;
    everyBlock.effects.flags2 = 0xFF;
    Add(seeds, "beat-every-flag", SongWithBeat(everyBlock));

    gp4::Song swing = gp4::MinimalSong();
    swing.tripletFeel = 1;
    swing.beats = {{{gp4::NoteBeat(gp4::Duration::Eighth, {{1, 1}}), gp4::NoteBeat(gp4::Duration::Eighth, {{1, 2}}),
                     gp4::QuarterNote(1, 3), gp4::NoteBeat(gp4::Duration::Sixteenth, {{1, 4}}),
                     gp4::NoteBeat(gp4::Duration::Eighth, {{1, 5}})}}};
    Add(seeds, "beat-triplet-feel", swing);
    swing.tripletFeel = 2;
    Add(seeds, "beat-triplet-feel-2", swing);
}

void AddNoteSeeds(std::vector<Seed> &seeds) {
    const std::uint8_t flagSets[] = {0x00, gp4::NoteBits::TypeAndFret,
                                     gp4::NoteBits::TypeAndFret | gp4::NoteBits::Dynamic,
                                     gp4::NoteBits::TypeAndFret | gp4::NoteBits::TimeIndependentDuration,
                                     gp4::NoteBits::TypeAndFret | gp4::NoteBits::Fingering,
                                     gp4::NoteBits::Dynamic, 0x46};
    for (std::uint8_t flags : flagSets) {
        gp4::Note note;
        note.flags = flags;
        note.fret = 7;
        note.dynamic = 8;
        char name[32];
        std::snprintf(name, sizeof name, "note-flags-%02x", flags);
        Add(seeds, name, SongWithBeat(BeatWithNote(note)));
    }
    for (std::uint8_t type : {2, 3, 0, 9}) {
        gp4::Note note;
        note.type = type;
        note.fret = 4;
        Add(seeds, "note-type-" + std::to_string(type), SongWithBeat(BeatWithNote(note)));
    }
    for (std::uint8_t dynamic : {0, 1, 9, 255}) {
        gp4::Note note;
        note.flags = gp4::NoteBits::TypeAndFret | gp4::NoteBits::Dynamic;
        note.dynamic = dynamic;
        Add(seeds, "note-dynamic-" + std::to_string(dynamic), SongWithBeat(BeatWithNote(note)));
    }
    for (std::uint8_t stringFlags : {0x41, 0x80, 0x7F, 0xFF, 0x00}) {
        gp4::Beat beat = gp4::QuarterNote(1, 5);
        beat.stringFlags = stringFlags;
        for (gp4::Note &note : beat.notes) note.fret = 2;
        char name[32];
        std::snprintf(name, sizeof name, "note-strings-%02x", stringFlags);
        Add(seeds, name, SongWithBeat(beat));
    }

    Add(seeds, "note-effects-none", SongWithBeat(BeatWithNote(NoteWithEffects(0, 0))));
    Add(seeds, "note-effects-flag-only", SongWithBeat(BeatWithNote(NoteWithEffects(0x0A, 0x43))));
    Add(seeds, "note-effects-bend", SongWithBeat(BeatWithNote(NoteWithEffects(gp4::NoteEffectBits::Bend, 0))));
    Add(seeds, "note-effects-grace", SongWithBeat(BeatWithNote(NoteWithEffects(gp4::NoteEffectBits::Grace, 0))));
    Add(seeds, "note-effects-tremolo-picking",
        SongWithBeat(BeatWithNote(NoteWithEffects(0, gp4::NoteEffectBits::TremoloPicking))));
    Add(seeds, "note-effects-slide", SongWithBeat(BeatWithNote(NoteWithEffects(0, gp4::NoteEffectBits::Slide))));
    Add(seeds, "note-effects-harmonic", SongWithBeat(BeatWithNote(NoteWithEffects(0, gp4::NoteEffectBits::Harmonic))));
    Add(seeds, "note-effects-trill", SongWithBeat(BeatWithNote(NoteWithEffects(0, gp4::NoteEffectBits::Trill))));
    Add(seeds, "note-effects-every-bit", SongWithBeat(BeatWithNote(NoteWithEffects(0xFF, 0xFF))));
    gp4::Note noPoints = NoteWithEffects(gp4::NoteEffectBits::Bend, 0);
    noPoints.effects.bend.points.clear();
    Add(seeds, "note-effects-bend-no-points", SongWithBeat(BeatWithNote(noPoints)));
    gp4::Note lyingPoints = NoteWithEffects(gp4::NoteEffectBits::Bend, 0);
    lyingPoints.effects.bend.pointCountOverride = 0x1C71C71Du;  // 9 x count wraps 32 bits
    Add(seeds, "note-effects-bend-count-overflows", SongWithBeat(BeatWithNote(lyingPoints)));

    // What the performed rendering carries across beats and passes: a tie
    // over a bar line, let ring, a grace note, and endings of a repeat.
    gp4::Song performed = gp4::MinimalSong();
    performed.measures = {gp4::TimeSignature(4, 4), gp4::MeasureHeader(), gp4::MeasureHeader()};
    performed.measures[0].flags |= gp4::MeasureBits::BeginRepeat;
    performed.measures[1].flags = gp4::MeasureBits::AltEnding | gp4::MeasureBits::EndRepeat;
    performed.measures[1].altEnding = 1;
    performed.measures[2].flags = gp4::MeasureBits::AltEnding;
    performed.measures[2].altEnding = 2;
    gp4::Beat ringing = BeatWithNote(NoteWithEffects(0x08 | gp4::NoteEffectBits::Grace, 0));
    ringing.duration = gp4::Duration::Half;
    gp4::Beat tied = gp4::QuarterNote(1, 5);
    tied.notes[0].type = 2;
    performed.beats = {{{ringing, gp4::QuarterNote(1, 5)}}, {{tied, gp4::QuarterNote(2, 3)}}, {{tied}}};
    Add(seeds, "performed-ties-rings-endings", performed);

    // What the performed rendering does with pitch, attack and time: a bend,
    // a slide into the next note, a strummed chord with the tremolo bar,
    // vibrato and fade-in, and transitions of volume and tempo for all tracks,
    // on two tracks of which the second plays on the channel the first bends on.
    gp4::Beat bent = BeatWithNote(NoteWithEffects(gp4::NoteEffectBits::Bend, 0));
    gp4::Beat slid = BeatWithNote(NoteWithEffects(0, gp4::NoteEffectBits::Slide));
    slid.notes[0].effects.slide = 1;
    gp4::Beat strummed = BeatWithEffects(0x40 | 0x10 | 0x02, gp4::BeatEffectBits::TremoloBar);
    strummed.stringFlags = gp4::StringBit(1) | gp4::StringBit(2) | gp4::StringBit(3);
    strummed.effects.strokeSpeeds = {5, 0};
    gp4::MixTable ramp;
    ramp.volume = 4;
    ramp.volumeDuration = 3;
    ramp.balance = 2;
    ramp.balanceDuration = 2;
    ramp.tempo = 90;
    ramp.tempoDuration = 4;
    ramp.applyToAllTracks = 0x03;
    gp4::Song effects = gp4::MinimalSong();
    effects.tracks.push_back(effects.tracks[0]);
    effects.tracks[1].channel = effects.tracks[0].effectsChannel;
    effects.measures = {gp4::TimeSignature(4, 4), gp4::MeasureHeader()};
    effects.beats = {{{bent, slid, gp4::QuarterNote(1, 7), strummed}, {BeatWithMix(ramp), gp4::QuarterNote(2, 2)}},
                     {{strummed, bent}, {gp4::QuarterNote(1, 1)}}};
    Add(seeds, "performed-effects", effects);
}

// Counts that lie: larger than the records that follow, or overflowing a size.
void AddCountSeeds(std::vector<Seed> &seeds) {
    gp4::Song beats = gp4::MinimalSong();
    beats.beatCountOverrides[{0, 0}] = 0xFFFFFFFFu;
    Add(seeds, "count-beats-huge", beats);
    gp4::Song measures = gp4::MinimalSong();
    measures.measureCountOverride = 0x40000000u;
    Add(seeds, "count-measures-huge", measures);
    gp4::Song tracks = gp4::MinimalSong();
    tracks.trackCountOverride = 0x10000u;
    Add(seeds, "count-tracks-huge", tracks);
    gp4::Song notices = gp4::MinimalSong();
    notices.noticeLineCountOverride = 0x40000000u;
    Add(seeds, "count-notice-lines-huge", notices);
    gp4::Song pairs = gp4::MinimalSong();
    pairs.beatCountOverrides[{0, 0}] = 2;  // one beat short
    Add(seeds, "count-beats-one-short", pairs);
}

// Songs the size of the largest real ones (about 110 KB): many measures of
// chords on three tracks, and the feature-rich beats, with every block,
// repeated through hundreds of measures.
void AddLargeSeeds(std::vector<Seed> &seeds) {
    gp4::Song chords = gp4::MinimalSong();
    chords.tracks.assign(3, chords.tracks[0]);
    for (std::size_t track = 0; track < chords.tracks.size(); ++track)
        chords.tracks[track].channel = static_cast<std::uint8_t>(1 + 2 * track);
    const std::size_t chordMeasures = 480;
    chords.measures.assign(chordMeasures, gp4::MeasureHeader());
    chords.measures[0] = gp4::TimeSignature(4, 4);
    chords.beats.assign(chordMeasures, std::vector<std::vector<gp4::Beat>>(chords.tracks.size()));
    for (std::size_t measure = 0; measure < chordMeasures; ++measure)
        for (std::size_t track = 0; track < chords.tracks.size(); ++track)
            for (int beat = 0; beat < 8; ++beat)
                chords.beats[measure][track].push_back(gp4::NoteBeat(
                    gp4::Duration::Eighth, {{1 + beat % 3, static_cast<int>((measure + beat) % 12)},
                                            {4 + beat % 3, static_cast<int>((measure + track) % 9)}}));
    Add(seeds, "song-large-chords", chords);

    gp4::Song rich = gp4::FeatureRichSong(1);
    const std::size_t storedMeasures = rich.measures.size();
    for (std::size_t measure = storedMeasures; measure < 700; ++measure) {
        rich.measures.push_back(gp4::MeasureHeader());
        rich.beats.push_back(rich.beats[measure % storedMeasures]);
    }
    Add(seeds, "song-large-rich", rich);
}

}  // namespace

int main(int argumentCount, char **arguments) {
    if (argumentCount != 2) {
        std::fprintf(stderr, "usage: make_corpus FOLDER\n");
        return 2;
    }
    const std::filesystem::path folder = arguments[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "make_corpus: %s: %s\n", folder.string().c_str(), error.message().c_str());
        return 1;
    }

    // Seeds of an earlier run whose names have changed would linger otherwise.
    for (const auto &entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.path().extension() == ".gp4") std::filesystem::remove(entry.path(), error);

    std::vector<Seed> seeds;
    Add(seeds, "song-minimal", gp4::MinimalSong());
    Add(seeds, "song-feature-rich-0", gp4::FeatureRichSong(0));
    Add(seeds, "song-feature-rich-1", gp4::FeatureRichSong(1));
    AddHeaderSeeds(seeds);
    AddMeasureSeeds(seeds);
    AddTrackSeeds(seeds);
    AddBeatSeeds(seeds);
    AddNoteSeeds(seeds);
    AddCountSeeds(seeds);
    AddLargeSeeds(seeds);

    for (const Seed &seed : seeds) {
        const std::filesystem::path path = folder / (seed.name + ".gp4");
        std::FILE *file = std::fopen(path.string().c_str(), "wb");
        if (file == nullptr || std::fwrite(seed.bytes.data(), 1, seed.bytes.size(), file) != seed.bytes.size()) {
            std::fprintf(stderr, "make_corpus: cannot write %s\n", path.string().c_str());
            if (file != nullptr) std::fclose(file);
            return 1;
        }
        std::fclose(file);
    }
    std::printf("make_corpus: %zu seeds in %s\n", seeds.size(), folder.string().c_str());
    return 0;
}
