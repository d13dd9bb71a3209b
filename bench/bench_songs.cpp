// bench_songs.cpp - composes the benchmark songs: each track plays a role
// (lead, chords, bass, drums, ...) whose beats are drawn measure by measure
// from a fixed-seed generator and written straight into the file bytes.
#include "bench_songs.h"

#include <array>
#include <string>
#include <vector>

namespace bench {

namespace {

// A small xorshift generator with a fixed seed, so that every run composes
// the same bytes.
struct Dice {
    std::uint32_t state;

    std::uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    std::uint32_t Below(std::uint32_t bound) { return Next() % bound; }
    bool Chance(std::uint32_t percent) { return Below(100) < percent; }
};

// What a track plays, measure after measure.
enum class Role {
    Lead,       // sixteenths and eighths, triplets, dotted pairs, single notes
    Rhythm,     // eighth chords of four to six notes
    Strum,      // quarter chords of four to six notes
    Bass,       // eighths on a four-string bass
    Drums,      // sixteenths of one to three drums, channel 10
    LightDrums, // eighths of one or two drums, channel 10
    Pad,        // half and whole chords
    Sparse,     // four whole notes or whole rests, whatever the measure's length
    TempoLead,  // quarters, each with a tempo change
    MixLead,    // eighths, every other one with an instrument or volume change
    EffectLead,   // a lead line that bends, slides, picks tremolo, ties and mutes now and then
    EffectRhythm, // strummed chords, palm-muted and dead notes, let-ring arpeggios
};

// Beat lengths in pulses at 30 pulses per sixty-fourth note.
constexpr std::uint32_t sixteenthPulses = 120;
constexpr std::uint32_t eighthPulses = 240;
constexpr std::uint32_t quarterPulses = 480;
constexpr std::uint32_t halfPulses = 960;
constexpr std::uint32_t wholePulses = 1920;

struct TrackPlan {
    Role role;
    gp4::Track record;
};

// What one measure holds: its header and its length in pulses.
struct MeasurePlan {
    gp4::MeasureHeader header;
    std::uint32_t pulses;
};

void AddNote(gp4::Beat &beat, int string, int fret, Dice &dice) {
    beat.stringFlags |= gp4::StringBit(string);
    gp4::Note &note = beat.notes[static_cast<std::size_t>(string - 1)];
    note.flags = gp4::NoteBits::TypeAndFret;
    note.type = 1;
    note.fret = static_cast<std::uint8_t>(fret);
    if (dice.Chance(30)) {
        note.flags |= gp4::NoteBits::Dynamic;
        note.dynamic = static_cast<std::uint8_t>(4 + dice.Below(5));
    }
}

gp4::Beat EmptyBeat(std::int8_t duration) {
    gp4::Beat beat;
    beat.duration = duration;
    return beat;
}

// A single note; now and then with a slide or a hammer-on, as lead lines have.
gp4::Beat LeadNote(std::int8_t duration, Dice &dice) {
    gp4::Beat beat = EmptyBeat(duration);
    const int string = 1 + static_cast<int>(dice.Below(3));
    AddNote(beat, string, 2 + static_cast<int>(dice.Below(16)), dice);
    if (dice.Chance(5)) {
        gp4::Note &note = beat.notes[static_cast<std::size_t>(string - 1)];
        note.flags |= gp4::NoteBits::Effects;
        note.effects.flags1 = 0x02;  // hammer-on: no data
        if (dice.Chance(50)) note.effects.flags2 = gp4::NoteEffectBits::Slide;
    }
    return beat;
}

// A lead note with what real lead lines carry: bends and releases, slides,
// vibrato, tremolo picking, hammer-ons, palm mutes, let ring and ties.
gp4::Beat EffectLeadNote(std::int8_t duration, Dice &dice, int *lastString, int *lastFret) {
    if (*lastString != 0 && dice.Chance(6)) {  // a tie on the last note's string
        gp4::Beat beat = EmptyBeat(duration);
        beat.stringFlags = gp4::StringBit(*lastString);
        gp4::Note &note = beat.notes[static_cast<std::size_t>(*lastString - 1)];
        note.type = 2;
        note.fret = static_cast<std::uint8_t>(*lastFret);
        return beat;
    }
    gp4::Beat beat = LeadNote(duration, dice);
    int string = 1;
    while ((beat.stringFlags & gp4::StringBit(string)) == 0) ++string;
    *lastString = string;
    *lastFret = beat.notes[static_cast<std::size_t>(string - 1)].fret;
    const std::uint32_t choice = dice.Below(100);
    if (choice < 8) {
        beat = gp4::WithBend(beat, string, {{0, 0, 0}, {6, 4, 0}, {12, 4, 0}});
    } else if (choice < 11) {
        beat = gp4::WithBend(beat, string, {{0, 0, 0}, {3, 4, 0}, {6, 4, 0}, {9, 0, 0}, {12, 0, 0}});
    } else if (choice < 18) {
        beat = gp4::WithSlide(beat, string, static_cast<std::int8_t>(1 + dice.Below(2)));
    } else if (choice < 22) {
        beat = gp4::WithNoteEffects(beat, string, 0, 0x40);  // vibrato
    } else if (choice < 25) {
        beat = gp4::WithNoteEffects(beat, string, 0, gp4::NoteEffectBits::TremoloPicking);
        beat.notes[static_cast<std::size_t>(string - 1)].effects.tremoloPicking = 3;
    } else if (choice < 32) {
        beat = gp4::WithNoteEffects(beat, string, 0, 0x02);  // palm mute
    } else if (choice < 35) {
        beat = gp4::WithNoteEffects(beat, string, 0x08, 0);  // let ring
    }
    return beat;
}

gp4::Beat Chord(std::int8_t duration, int lowestString, int noteCount, Dice &dice) {
    gp4::Beat beat = EmptyBeat(duration);
    const int baseFret = static_cast<int>(dice.Below(10));
    for (int string = lowestString; string < lowestString + noteCount && string <= 6; ++string)
        AddNote(beat, string, baseFret + static_cast<int>(dice.Below(3)), dice);
    return beat;
}

gp4::Beat Drums(std::int8_t duration, int drumCount, Dice &dice) {
    static const int drumKeys[] = {36, 38, 42, 46, 49, 51};
    gp4::Beat beat = EmptyBeat(duration);
    for (int drum = 0; drum < drumCount; ++drum) AddNote(beat, 1 + drum, drumKeys[dice.Below(6)], dice);
    return beat;
}

gp4::Beat Rest(std::int8_t duration) { return gp4::RestBeat(duration); }

// The beats of one measure of `pulses` pulses for a track of the given role.
void FillMeasure(Role role, std::uint32_t pulses, std::uint32_t measureIndex, Dice &dice,
                 std::vector<gp4::Beat> &beats) {
    beats.clear();
    std::uint32_t left = pulses;
    auto take = [&left](std::uint32_t length) { left -= length; };
    switch (role) {
        case Role::Lead:
            while (left != 0) {
                const std::uint32_t choice = dice.Below(12);
                if (left >= quarterPulses && choice == 0) {  // triplet eighths
                    for (int note = 0; note < 3; ++note) {
                        gp4::Beat beat = LeadNote(gp4::Duration::Eighth, dice);
                        beat.flags |= gp4::BeatBits::Tuplet;
                        beat.tuplet = 3;
                        beats.push_back(beat);
                    }
                    take(quarterPulses);
                } else if (left >= quarterPulses && choice == 1) {  // dotted eighth and sixteenth
                    gp4::Beat dotted = LeadNote(gp4::Duration::Eighth, dice);
                    dotted.flags |= gp4::BeatBits::Dotted;
                    beats.push_back(dotted);
                    beats.push_back(LeadNote(gp4::Duration::Sixteenth, dice));
                    take(quarterPulses);
                } else if (left >= eighthPulses && choice == 2) {
                    beats.push_back(Rest(gp4::Duration::Eighth));
                    take(eighthPulses);
                } else if (left >= eighthPulses && choice < 7) {
                    beats.push_back(LeadNote(gp4::Duration::Eighth, dice));
                    take(eighthPulses);
                } else {
                    beats.push_back(LeadNote(gp4::Duration::Sixteenth, dice));
                    take(sixteenthPulses);
                }
            }
            break;
        case Role::Rhythm:
        case Role::Strum: {
            const std::uint32_t length = role == Role::Rhythm ? eighthPulses : quarterPulses;
            const std::int8_t duration = role == Role::Rhythm ? gp4::Duration::Eighth : gp4::Duration::Quarter;
            bool first = true;
            while (left >= length) {
                gp4::Beat beat = dice.Chance(8) ? Rest(duration)
                                                : Chord(duration, 1, 4 + static_cast<int>(dice.Below(3)), dice);
                if (first && measureIndex % 4 == 0 && !(beat.flags & gp4::BeatBits::Status)) {
                    beat.flags |= gp4::BeatBits::Chord;  // a chord diagram every four measures
                    beat.chord.name = "E5";
                }
                first = false;
                beats.push_back(beat);
                take(length);
            }
            if (left != 0) beats.push_back(Rest(gp4::Duration::Sixteenth));
            break;
        }
        case Role::Bass:
            while (left >= eighthPulses) {
                if (left >= quarterPulses && dice.Chance(20)) {
                    gp4::Beat beat = EmptyBeat(gp4::Duration::Quarter);
                    AddNote(beat, 3 + static_cast<int>(dice.Below(2)), static_cast<int>(dice.Below(8)), dice);
                    beats.push_back(beat);
                    take(quarterPulses);
                } else {
                    gp4::Beat beat = EmptyBeat(gp4::Duration::Eighth);
                    AddNote(beat, 3 + static_cast<int>(dice.Below(2)), static_cast<int>(dice.Below(8)), dice);
                    beats.push_back(beat);
                    take(eighthPulses);
                }
            }
            break;
        case Role::Drums:
            while (left >= sixteenthPulses) {
                beats.push_back(Drums(gp4::Duration::Sixteenth, 1 + static_cast<int>(dice.Below(3)), dice));
                take(sixteenthPulses);
            }
            break;
        case Role::LightDrums:
            while (left >= eighthPulses) {
                beats.push_back(Drums(gp4::Duration::Eighth, 1 + static_cast<int>(dice.Below(2)), dice));
                take(eighthPulses);
            }
            break;
        case Role::Pad:
            while (left >= halfPulses) {
                if (left >= wholePulses && dice.Chance(30)) {
                    beats.push_back(Chord(gp4::Duration::Whole, 2, 3 + static_cast<int>(dice.Below(2)), dice));
                    take(wholePulses);
                } else {
                    beats.push_back(Chord(gp4::Duration::Half, 2, 3 + static_cast<int>(dice.Below(2)), dice));
                    take(halfPulses);
                }
            }
            if (left != 0) beats.push_back(Rest(gp4::Duration::Quarter));
            break;
        case Role::Sparse:
            for (int beat = 0; beat < 4; ++beat)
                beats.push_back(dice.Chance(40) ? Rest(gp4::Duration::Whole)
                                                : Chord(gp4::Duration::Whole, 1, 1 + static_cast<int>(dice.Below(3)), dice));
            break;
        case Role::TempoLead:
            while (left >= quarterPulses) {
                gp4::Beat beat = LeadNote(gp4::Duration::Quarter, dice);
                beat.flags |= gp4::BeatBits::MixTable;
                beat.mix.tempo = static_cast<std::int32_t>(80 + dice.Below(80));
                beats.push_back(beat);
                take(quarterPulses);
            }
            break;
        case Role::EffectLead: {
            int lastString = 0;
            int lastFret = 0;
            while (left != 0) {
                const std::uint32_t choice = dice.Below(10);
                if (left >= quarterPulses && choice == 0) {
                    beats.push_back(EffectLeadNote(gp4::Duration::Quarter, dice, &lastString, &lastFret));
                    take(quarterPulses);
                } else if (left >= eighthPulses && choice == 1) {
                    beats.push_back(Rest(gp4::Duration::Eighth));
                    lastString = 0;
                    take(eighthPulses);
                } else if (left >= eighthPulses && choice < 6) {
                    beats.push_back(EffectLeadNote(gp4::Duration::Eighth, dice, &lastString, &lastFret));
                    take(eighthPulses);
                } else {
                    beats.push_back(EffectLeadNote(gp4::Duration::Sixteenth, dice, &lastString, &lastFret));
                    take(sixteenthPulses);
                }
            }
            break;
        }
        case Role::EffectRhythm:
            while (left >= eighthPulses) {
                const std::uint32_t choice = dice.Below(10);
                if (left >= quarterPulses && choice < 4) {  // a strummed chord, down or up
                    gp4::Beat beat = Chord(gp4::Duration::Quarter, 1, 5 + static_cast<int>(dice.Below(2)), dice);
                    beat = gp4::WithBeatEffects(beat, gp4::BeatEffectBits::Stroke, 0);
                    beat.effects.strokeSpeeds = dice.Chance(50) ? std::array<std::uint8_t, 2>{0, 3}
                                                                : std::array<std::uint8_t, 2>{3, 0};
                    beats.push_back(beat);
                    take(quarterPulses);
                } else if (choice < 7) {  // palm-muted power chords, a dead note now and then
                    gp4::Beat beat = Chord(gp4::Duration::Eighth, 4, 3, dice);
                    for (int string = 4; string <= 6; ++string) beat = gp4::WithNoteEffects(beat, string, 0, 0x02);
                    if (dice.Chance(20)) beat.notes[3].type = 3;
                    beats.push_back(beat);
                    take(eighthPulses);
                } else {  // a let-ring arpeggio note
                    gp4::Beat beat = EmptyBeat(gp4::Duration::Eighth);
                    const int string = 1 + static_cast<int>(dice.Below(5));
                    AddNote(beat, string, static_cast<int>(dice.Below(5)), dice);
                    beats.push_back(gp4::WithNoteEffects(beat, string, 0x08, 0));
                    take(eighthPulses);
                }
            }
            if (left != 0) beats.push_back(Rest(gp4::Duration::Sixteenth));
            break;
        case Role::MixLead: {
            bool change = true;
            while (left >= eighthPulses) {
                gp4::Beat beat = LeadNote(gp4::Duration::Eighth, dice);
                if (change) {
                    beat.flags |= gp4::BeatBits::MixTable;
                    if (dice.Chance(60)) beat.mix.instrument = static_cast<std::uint8_t>(dice.Below(128));
                    if (dice.Chance(70)) beat.mix.volume = static_cast<std::uint8_t>(dice.Below(16));
                }
                change = !change;
                beats.push_back(beat);
                take(eighthPulses);
            }
            break;
        }
    }
}

gp4::Track TrackRecord(Role role, std::uint32_t trackIndex) {
    gp4::Track track;
    track.name = "Track " + std::to_string(trackIndex + 1);
    track.port = 1 + trackIndex / 16;
    const bool drums = role == Role::Drums || role == Role::LightDrums;
    // Channels 1 to 16 in turn, leaving 10 to the drums.
    std::uint32_t channel = 1 + trackIndex % 15;
    if (channel >= 10) ++channel;
    track.channel = drums ? 10 : channel;
    track.effectsChannel = drums ? 10 : (channel % 16) + 1;
    if (role == Role::Bass) {
        track.stringCount = 4;
        track.tunings = {43, 38, 33, 28, 0, 0, 0};
    } else if (drums) {
        track.tunings = {0, 0, 0, 0, 0, 0, 0};
    }
    return track;
}

gp4::Song SongHeader(const std::vector<TrackPlan> &tracks, const std::vector<MeasurePlan> &measures) {
    gp4::Song song;
    song.title = "Benchmark song";
    for (const MeasurePlan &measure : measures) song.measures.push_back(measure.header);
    for (const TrackPlan &track : tracks) song.tracks.push_back(track.record);
    for (std::size_t port = 0; port < song.channels.size(); ++port)
        for (std::size_t channel = 0; channel < song.channels[port].size(); ++channel)
            song.channels[port][channel].instrument = static_cast<std::int32_t>((port * 16 + channel * 7) % 128);
    return song;
}

// The whole file: header, measure headers, tracks, then every measure-track
// pair drawn from the tracks' roles.
gp4::Bytes Compose(const std::vector<TrackPlan> &tracks, const std::vector<MeasurePlan> &measures,
                   std::uint32_t seed) {
    const gp4::Song song = SongHeader(tracks, measures);
    gp4::Bytes bytes;
    gp4::WriteSongHeader(bytes, song);
    for (const gp4::MeasureHeader &measure : song.measures) gp4::WriteMeasureHeader(bytes, measure);
    for (const gp4::Track &track : song.tracks) gp4::WriteTrack(bytes, track);
    Dice dice = {seed};
    std::vector<gp4::Beat> beats;
    for (std::uint32_t measureIndex = 0; measureIndex < measures.size(); ++measureIndex) {
        for (const TrackPlan &track : tracks) {
            FillMeasure(track.role, measures[measureIndex].pulses, measureIndex, dice, beats);
            gp4::WriteInt(bytes, static_cast<std::uint32_t>(beats.size()));
            for (const gp4::Beat &beat : beats) gp4::WriteBeat(bytes, beat);
        }
    }
    return bytes;
}

std::vector<TrackPlan> Tracks(const std::vector<Role> &roles) {
    std::vector<TrackPlan> tracks;
    for (std::uint32_t index = 0; index < roles.size(); ++index)
        tracks.push_back({roles[index], TrackRecord(roles[index], index)});
    return tracks;
}

MeasurePlan PlainMeasure() { return {gp4::MeasureHeader(), wholePulses}; }

MeasurePlan SignatureMeasure(std::uint8_t numerator, std::uint8_t denominator) {
    return {gp4::TimeSignature(numerator, denominator), 30u * (numerator * 64u / denominator)};
}

void AddMarker(MeasurePlan &measure, const std::string &text) {
    measure.header.flags |= gp4::MeasureBits::Marker;
    measure.header.markerText = text;
}

// Measures [first, last] form a section played twice.
void AddRepeat(std::vector<MeasurePlan> &measures, std::size_t first, std::size_t last) {
    if (last >= measures.size()) return;
    measures[first].header.flags |= gp4::MeasureBits::BeginRepeat;
    measures[last].header.flags |= gp4::MeasureBits::EndRepeat;
    measures[last].header.repeatCount = 1;
}

}  // namespace

gp4::Bytes EffectSong(std::uint32_t measureCount, std::uint32_t seed) {
    const std::vector<TrackPlan> tracks = Tracks({Role::EffectLead, Role::EffectRhythm, Role::Bass, Role::Drums,
                                                  seed % 2 == 0 ? Role::Pad : Role::EffectLead});
    std::vector<MeasurePlan> measures;
    for (std::uint32_t index = 0; index < measureCount; ++index) {
        MeasurePlan measure = index == 0 ? SignatureMeasure(4, 4) : PlainMeasure();
        if (index % 8 == 0) AddMarker(measure, "Part " + std::to_string(index / 8 + 1));
        measures.push_back(measure);
    }
    // A chorus played twice with two endings, as songs have.
    for (std::size_t block = 0; block + 16 <= measures.size(); block += 32) {
        AddRepeat(measures, block + 8, block + 14);
        measures[block + 14].header.flags |= gp4::MeasureBits::AltEnding;
        measures[block + 14].header.altEnding = 1;
        measures[block + 15].header.flags |= gp4::MeasureBits::AltEnding;
        measures[block + 15].header.altEnding = 2;
    }
    return Compose(tracks, measures, seed);
}

std::vector<gp4::Bytes> EffectSongBatch() {
    std::vector<gp4::Bytes> songs;
    for (std::uint32_t index = 0; index < 12; ++index)
        songs.push_back(EffectSong(24 + 12 * index, 0x7F4A7C15u + 977u * index));
    return songs;
}

gp4::Bytes SmallSong() {
    const std::vector<TrackPlan> tracks = Tracks({Role::Lead, Role::Bass});
    std::vector<MeasurePlan> measures;
    for (std::uint32_t index = 0; index < 8; ++index)
        measures.push_back(index == 0 ? SignatureMeasure(4, 4) : PlainMeasure());
    return Compose(tracks, measures, 0x27D4EB2Fu);
}

gp4::Bytes TypicalSong(std::uint32_t measureCount) {
    const std::vector<TrackPlan> tracks =
        Tracks({Role::Lead, Role::Rhythm, Role::Bass, Role::Drums, Role::Pad, Role::Lead});
    static const char *const sectionNames[] = {"Intro", "Verse", "Chorus", "Solo"};
    std::vector<MeasurePlan> measures;
    for (std::uint32_t index = 0; index < measureCount; ++index) {
        const std::uint32_t place = index % 200;  // the structure of 200 measures, again and again
        MeasurePlan measure = PlainMeasure();
        if (index == 0 || place == 104) measure = SignatureMeasure(4, 4);
        if (place >= 100 && place < 104) measure = place == 100 ? SignatureMeasure(3, 4) : MeasurePlan{{}, 1440};
        if (place % 16 == 0) AddMarker(measure, sectionNames[(place / 16) % 4]);
        measures.push_back(measure);
    }
    for (std::size_t block = 0; block + 16 <= measures.size(); block += 32) AddRepeat(measures, block + 8, block + 15);
    return Compose(tracks, measures, 0x2545F491u);
}

gp4::Bytes BigSong() {
    const std::vector<TrackPlan> tracks =
        Tracks({Role::Lead, Role::Rhythm, Role::Bass, Role::Drums, Role::Lead, Role::Rhythm, Role::Pad, Role::Lead,
                Role::Rhythm, Role::Drums, Role::Lead, Role::Bass, Role::Rhythm, Role::Pad, Role::Lead, Role::Lead});
    std::vector<MeasurePlan> measures;
    for (std::uint32_t index = 0; index < 2000; ++index) {
        MeasurePlan measure = index == 0 ? SignatureMeasure(4, 4) : PlainMeasure();
        if (index % 16 == 0) AddMarker(measure, "Part " + std::to_string(index / 16 + 1));
        measures.push_back(measure);
    }
    for (std::size_t block = 0; block + 16 <= measures.size(); block += 32) AddRepeat(measures, block + 8, block + 15);
    return Compose(tracks, measures, 0x9E3779B9u);
}

gp4::Bytes SparseSong(std::uint32_t quartersPerMeasure) {
    const std::vector<TrackPlan> tracks = Tracks(std::vector<Role>(24, Role::Sparse));
    std::vector<MeasurePlan> measures;
    for (std::uint32_t index = 0; index < 200; ++index) {
        MeasurePlan measure = {{}, quartersPerMeasure * quarterPulses};
        if (index == 0) measure = SignatureMeasure(static_cast<std::uint8_t>(quartersPerMeasure), 4);
        measures.push_back(measure);
    }
    return Compose(tracks, measures, 0x1B873593u);
}

gp4::Bytes TempoChangeSong() {
    const std::vector<TrackPlan> tracks = Tracks({Role::TempoLead, Role::MixLead, Role::MixLead, Role::Bass,
                                                  Role::MixLead, Role::Drums, Role::MixLead, Role::Rhythm});
    std::vector<MeasurePlan> measures;
    for (std::uint32_t index = 0; index < 300; ++index)
        measures.push_back(index == 0 ? SignatureMeasure(4, 4) : PlainMeasure());
    return Compose(tracks, measures, 0x85EBCA6Bu);
}

gp4::Bytes CollectionSong() {
    const std::vector<TrackPlan> tracks = Tracks(
        {Role::Lead, Role::Rhythm, Role::Bass, Role::LightDrums, Role::Lead, Role::Strum, Role::Rhythm, Role::Lead});
    std::vector<MeasurePlan> measures;
    for (std::uint32_t index = 0; index < 1000; ++index) {
        MeasurePlan measure = index == 0 ? SignatureMeasure(4, 4) : PlainMeasure();
        if (index % 32 == 0) AddMarker(measure, "Section " + std::to_string(index / 32 + 1));
        measures.push_back(measure);
    }
    for (std::size_t block = 0; block + 16 <= measures.size(); block += 64) AddRepeat(measures, block + 8, block + 15);
    return Compose(tracks, measures, 0xC2B2AE35u);
}

}  // namespace bench
