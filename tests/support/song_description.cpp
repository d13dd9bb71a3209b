// song_description.cpp - the beats and notes of a written song as JSON, from
// the writer's records: what each flag bit announces is there, the rest is
// null (or 0 where the file has no "absent").
#include "song_description.h"

#include <cstdio>
#include <vector>

namespace gp4 {
namespace {

std::string Text(const std::string &text) {
    std::string out = "\"";
    for (unsigned char byte : text) {
        if (byte == '"' || byte == '\\') {
            out += '\\';
            out += static_cast<char>(byte);
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else if (byte < 0x80) {
            out += static_cast<char>(byte);
        } else {  // the byte as the Latin-1 character, in UTF-8
            out += static_cast<char>(0xC0 | (byte >> 6));
            out += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return out + "\"";
}

std::string Number(long long value) { return std::to_string(value); }
std::string Given(bool given, long long value) { return given ? Number(value) : "null"; }
std::string Bool(bool value) { return value ? "true" : "false"; }

// {"key": value, ...} from pairs in order.
std::string Object(const std::vector<std::pair<const char *, std::string>> &members) {
    std::string out = "{";
    for (const auto &member : members) {
        if (out.size() > 1) out += ", ";
        out += "\"" + std::string(member.first) + "\": " + member.second;
    }
    return out + "}";
}

template <typename Item, typename Describe>
std::string Array(const Item *items, std::size_t count, Describe describe) {
    std::string out = "[";
    for (std::size_t index = 0; index < count; ++index) out += (index ? ", " : "") + describe(items[index]);
    return out + "]";
}

std::string Numbers(const std::vector<long long> &values) {
    return Array(values.data(), values.size(), [](long long value) { return Number(value); });
}

std::string DescribeBend(const Bend &bend) {
    return Object({{"type", Number(bend.type)},
                   {"value", Number(bend.value)},
                   {"points", Array(bend.points.data(), bend.points.size(), [](const BendPoint &point) {
                        return Object({{"position", Number(point.position)},
                                       {"value", Number(point.value)},
                                       {"vibrato", Number(point.vibrato)}});
                    })}});
}

std::string DescribeNoteEffects(const NoteEffects &effects) {
    const bool grace = effects.flags1 & NoteEffectBits::Grace;
    const bool trill = effects.flags2 & NoteEffectBits::Trill;
    return Object({{"flags1", Number(effects.flags1)},
                   {"flags2", Number(effects.flags2)},
                   {"bend", effects.flags1 & NoteEffectBits::Bend ? DescribeBend(effects.bend) : "null"},
                   {"grace", grace ? Object({{"fret", Number(effects.graceFret)},
                                             {"dynamic", Number(effects.graceDynamic)},
                                             {"transition", Number(effects.graceTransition)},
                                             {"duration", Number(effects.graceDuration)}})
                                   : "null"},
                   {"tremoloPicking", Given(effects.flags2 & NoteEffectBits::TremoloPicking, effects.tremoloPicking)},
                   {"slide", Given(effects.flags2 & NoteEffectBits::Slide, effects.slide)},
                   {"harmonic", Given(effects.flags2 & NoteEffectBits::Harmonic, effects.harmonic)},
                   {"trill", trill ? Object({{"fret", Number(effects.trillFret)}, {"period", Number(effects.trillPeriod)}})
                                   : "null"}});
}

std::string DescribeNote(const Note &note, int string) {
    const bool typeAndFret = note.flags & NoteBits::TypeAndFret;
    const bool ownDuration = note.flags & NoteBits::TimeIndependentDuration;
    const bool fingering = note.flags & NoteBits::Fingering;
    return Object({{"string", Number(string)},
                   {"flags", Number(note.flags)},
                   {"type", Number(typeAndFret ? note.type : 0)},
                   {"fret", Number(typeAndFret ? note.fret : 0)},
                   {"dynamic", Given(note.flags & NoteBits::Dynamic, note.dynamic)},
                   {"duration", Given(ownDuration, note.timeIndependentDuration)},
                   {"tuplet", Given(ownDuration, note.timeIndependentTuplet)},
                   {"leftFinger", Given(fingering, note.leftFingering)},
                   {"rightFinger", Given(fingering, note.rightFingering)},
                   {"effects", note.flags & NoteBits::Effects ? DescribeNoteEffects(note.effects) : "null"}});
}

std::string DescribeChord(const ChordDiagram &chord) {
    const bool isLong = chord.format == 1;
    std::vector<long long> frets, omissions, fingerings;
    for (std::size_t string = 0; string < 7; ++string) {
        const bool carried = isLong || (string < 6 && chord.baseFret != 0);
        frets.push_back(carried ? chord.frets[string] : 0);
        omissions.push_back(isLong ? chord.omissions[string] : 0);
        fingerings.push_back(isLong ? chord.fingerings[string] : 0);
    }
    std::string barres = "[";
    for (std::size_t barre = 0; isLong && barre < chord.barreCount && barre < 5; ++barre)
        barres += (barre ? ", " : "") + Object({{"fret", Number(chord.barreFrets[barre])},
                                                {"firstString", Number(chord.barreStarts[barre])},
                                                {"lastString", Number(chord.barreEnds[barre])}});
    barres += "]";
    auto longOnly = [&](long long value) { return Number(isLong ? value : 0); };
    return Object({{"name", Text(chord.name)},
                   {"format", Number(chord.format)},
                   {"sharp", longOnly(chord.sharp)},
                   {"root", longOnly(chord.root)},
                   {"chordType", longOnly(chord.chordType)},
                   {"extension", longOnly(chord.extension)},
                   {"bass", longOnly(chord.bass)},
                   {"tonality", longOnly(chord.tonality)},
                   {"add", longOnly(chord.add)},
                   {"fifth", longOnly(chord.fifth)},
                   {"ninth", longOnly(chord.ninth)},
                   {"eleventh", longOnly(chord.eleventh)},
                   {"baseFret", Number(chord.baseFret)},
                   {"frets", Numbers(frets)},
                   {"barres", barres},
                   {"omissions", Numbers(omissions)},
                   {"fingerings", Numbers(fingerings)},
                   {"showFingering", longOnly(chord.showFingering)}});
}

std::string DescribeBeatEffects(const BeatEffects &effects) {
    const bool stroke = effects.flags1 & BeatEffectBits::Stroke;
    return Object({{"flags1", Number(effects.flags1)},
                   {"flags2", Number(effects.flags2)},
                   {"tapping", Given(effects.flags1 & BeatEffectBits::Tapping, effects.tapping)},
                   {"strokeSpeeds", stroke ? Numbers({effects.strokeSpeeds[0], effects.strokeSpeeds[1]}) : "null"},
                   {"pickStroke", Given(effects.flags2 & BeatEffectBits::PickStroke, effects.pickStroke)},
                   {"tremoloBar", effects.flags2 & BeatEffectBits::TremoloBar ? DescribeBend(effects.tremoloBar) : "null"}});
}

std::string DescribeMixTable(const MixTable &mix) {
    auto value = [](std::uint8_t stored) { return Given(stored != 0xFF, stored); };
    auto duration = [](std::uint8_t stored, std::uint8_t given) { return Number(stored != 0xFF ? given : 0); };
    return Object({{"instrument", value(mix.instrument)},
                   {"volume", value(mix.volume)},
                   {"balance", value(mix.balance)},
                   {"chorus", value(mix.chorus)},
                   {"reverb", value(mix.reverb)},
                   {"phaser", value(mix.phaser)},
                   {"tremolo", value(mix.tremolo)},
                   {"tempo", Given(mix.tempo != -1, mix.tempo)},
                   {"volumeDuration", duration(mix.volume, mix.volumeDuration)},
                   {"balanceDuration", duration(mix.balance, mix.balanceDuration)},
                   {"chorusDuration", duration(mix.chorus, mix.chorusDuration)},
                   {"reverbDuration", duration(mix.reverb, mix.reverbDuration)},
                   {"phaserDuration", duration(mix.phaser, mix.phaserDuration)},
                   {"tremoloDuration", duration(mix.tremolo, mix.tremoloDuration)},
                   {"tempoDuration", Number(mix.tempo != -1 ? mix.tempoDuration : 0)},
                   {"applyToAllTracks", Number(mix.applyToAllTracks)}});
}

std::string DescribeBeat(const Beat &beat) {
    std::string notes = "[";
    for (int string = 1; string <= 7; ++string) {
        if ((beat.stringFlags & StringBit(string)) == 0) continue;
        notes += (notes.size() > 1 ? ", " : "") + DescribeNote(beat.notes[string - 1], string);
    }
    notes += "]";
    return Object({{"flags", Number(beat.flags)},
                   {"duration", Number(beat.duration)},
                   {"dotted", Bool(beat.flags & BeatBits::Dotted)},
                   {"tuplet", Given(beat.flags & BeatBits::Tuplet, beat.tuplet)},
                   {"status", Given(beat.flags & BeatBits::Status, beat.status)},
                   {"text", beat.flags & BeatBits::Text ? Text(beat.text) : "null"},
                   {"chord", beat.flags & BeatBits::Chord ? DescribeChord(beat.chord) : "null"},
                   {"effects", beat.flags & BeatBits::Effects ? DescribeBeatEffects(beat.effects) : "null"},
                   {"mixTable", beat.flags & BeatBits::MixTable ? DescribeMixTable(beat.mix) : "null"},
                   {"notes", notes}});
}

}  // namespace

std::string DescribeTracksJson(const Song &song) {
    std::string out = "[";
    for (std::size_t track = 0; track < song.tracks.size(); ++track) {
        std::string measures = "[";
        for (std::size_t measure = 0; measure < song.measures.size(); ++measure) {
            const std::vector<Beat> none;
            const std::vector<Beat> &beats = measure < song.beats.size() && track < song.beats[measure].size()
                                                 ? song.beats[measure][track]
                                                 : none;
            measures += (measure ? ",\n    " : "") +
                        Object({{"index", Number(static_cast<long long>(measure))},
                                {"beats", Array(beats.data(), beats.size(), DescribeBeat)}});
        }
        measures += "]";
        out += (track ? ",\n  " : "") +
               Object({{"index", Number(static_cast<long long>(track))}, {"measures", measures}});
    }
    return out + "]";
}

}  // namespace gp4
