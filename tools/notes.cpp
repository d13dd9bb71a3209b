// notes.cpp - zelto info --json --notes: every track's beats and notes, read
// through a song handle of the library (zelto_song.h), as the "measures" of
// each track object of the JSON document (see docs/json.md).
#include <cstdint>
#include <string>
#include <vector>

#include "text.h"
#include "tool.h"
#include "zelto_song.h"

namespace Talvoren {
namespace {

// {"key": value, ...} from pairs in order.
std::string Object(const std::vector<std::pair<const char *, std::string>> &members) {
    std::string out = "{";
    for (const auto &member : members) {
        if (out.size() > 1) out += ", ";
        out += "\"" + std::string(member.first) + "\": " + member.second;
    }
    return out + "}";
}

std::string Given(bool given, long long value) { return given ? Number(value) : "null"; }

template <typename Value>
std::string Numbers(const Value *values, std::size_t count) {
    std::string out = "[";
    for (std::size_t index = 0; index < count; ++index) out += (index ? ", " : "") + Number(values[index]);
    return out + "]";
}

// Where a beat is: the handle and its measure, track and beat indexes.
struct BeatPlace {
    ZELTO_Song *song;
    std::uint32_t measure;
    std::uint32_t track;
    std::uint32_t beat;
};

// A bend or tremolo-bar curve, read by one of the two curve accessors.
template <typename ReadCurve>
std::string CurveJson(ReadCurve read) {
    ZELTO_SongBend bend{};
    if (!read(&bend, nullptr, 0)) return "null";
    std::vector<ZELTO_SongBendPoint> points(bend.pointCount);
    read(&bend, points.data(), bend.pointCount);
    std::string listed = "[";
    for (std::size_t point = 0; point < points.size(); ++point)
        listed += (point ? ", " : "") + Object({{"position", Number(points[point].position)},
                                                {"value", Number(points[point].value)},
                                                {"vibrato", Number(points[point].vibrato)}});
    return Object({{"type", Number(bend.bendType)}, {"value", Number(bend.bendValue)}, {"points", listed + "]"}});
}

std::string NoteEffectsJson(const ZELTO_SongNote &note, const BeatPlace &place) {
    const bool grace = note.effectFlags1 & 0x10;
    const bool trill = note.effectFlags2 & 0x20;
    const std::string bend = CurveJson([&](ZELTO_SongBend *curve, ZELTO_SongBendPoint *points, std::uint32_t capacity) {
        return ZELTO_SongGetBend(place.song, place.measure, place.track, place.beat, note.string, curve, points,
                                 capacity);
    });
    return Object({{"flags1", Number(note.effectFlags1)},
                   {"flags2", Number(note.effectFlags2)},
                   {"bend", bend},
                   {"grace", grace ? Object({{"fret", Number(note.graceFret)},
                                             {"dynamic", Number(note.graceDynamic)},
                                             {"transition", Number(note.graceTransition)},
                                             {"duration", Number(note.graceDuration)}})
                                   : "null"},
                   {"tremoloPicking", Given(note.effectFlags2 & 0x04, note.tremoloPicking)},
                   {"slide", Given(note.effectFlags2 & 0x08, note.slide)},
                   {"harmonic", Given(note.effectFlags2 & 0x10, note.harmonic)},
                   {"trill", trill ? Object({{"fret", Number(note.trillFret)}, {"period", Number(note.trillPeriod)}})
                                   : "null"}});
}

std::string NoteJson(const ZELTO_SongNote &note, const BeatPlace &place) {
    const bool ownDuration = note.flags & 0x01;
    const bool fingering = note.flags & 0x80;
    return Object({{"string", Number(note.string)},
                   {"flags", Number(note.flags)},
                   {"type", Number(note.noteType)},
                   {"fret", Number(note.fret)},
                   {"dynamic", Given(note.flags & 0x10, note.dynamic)},
                   {"duration", Given(ownDuration, note.timeIndependentDuration)},
                   {"tuplet", Given(ownDuration, note.timeIndependentTuplet)},
                   {"leftFinger", Given(fingering, note.leftFingering)},
                   {"rightFinger", Given(fingering, note.rightFingering)},
                   {"effects", note.flags & 0x08 ? NoteEffectsJson(note, place) : "null"}});
}

std::string ChordJson(const BeatPlace &place) {
    ZELTO_SongChordDiagram chord{};
    if (!ZELTO_SongGetChordDiagram(place.song, place.measure, place.track, place.beat, &chord)) return "null";
    std::string barres = "[";
    for (std::uint32_t barre = 0; barre < chord.barreCount && barre < 5; ++barre)
        barres += (barre ? ", " : "") + Object({{"fret", Number(chord.barreFrets[barre])},
                                                {"firstString", Number(chord.barreStarts[barre])},
                                                {"lastString", Number(chord.barreEnds[barre])}});
    return Object({{"name", JsonText(chord.name)},
                   {"format", Number(chord.format)},
                   {"sharp", Number(chord.sharp)},
                   {"root", Number(chord.root)},
                   {"chordType", Number(chord.chordType)},
                   {"extension", Number(chord.extension)},
                   {"bass", Number(chord.bass)},
                   {"tonality", Number(chord.tonality)},
                   {"add", Number(chord.add)},
                   {"fifth", Number(chord.fifth)},
                   {"ninth", Number(chord.ninth)},
                   {"eleventh", Number(chord.eleventh)},
                   {"baseFret", Number(chord.baseFret)},
                   {"frets", Numbers(chord.frets, 7)},
                   {"barres", barres + "]"},
                   {"omissions", Numbers(chord.omissions, 7)},
                   {"fingerings", Numbers(chord.fingerings, 7)},
                   {"showFingering", Number(chord.showFingering)}});
}

std::string BeatEffectsJson(const BeatPlace &place) {
    ZELTO_SongBeatEffect effect{};
    if (!ZELTO_SongGetBeatEffect(place.song, place.measure, place.track, place.beat, &effect)) return "null";
    const std::string tremoloBar =
        CurveJson([&](ZELTO_SongBend *curve, ZELTO_SongBendPoint *points, std::uint32_t capacity) {
            return ZELTO_SongGetTremoloBar(place.song, place.measure, place.track, place.beat, curve, points, capacity);
        });
    return Object({{"flags1", Number(effect.flags1)},
                   {"flags2", Number(effect.flags2)},
                   {"tapping", Given(effect.flags1 & 0x20, effect.tappingType)},
                   {"strokeSpeeds", effect.flags1 & 0x40 ? Numbers(effect.strokeSpeeds, 2) : "null"},
                   {"pickStroke", Given(effect.flags2 & 0x02, effect.pickStroke)},
                   {"tremoloBar", tremoloBar}});
}

std::string MixTableJson(const BeatPlace &place) {
    ZELTO_SongMixTableChange mix{};
    if (!ZELTO_SongGetMixTableChange(place.song, place.measure, place.track, place.beat, &mix)) return "null";
    auto value = [](std::uint32_t stored) { return Given(stored != 0xFF, stored); };
    return Object({{"instrument", value(mix.instrument)},
                   {"volume", value(mix.volume)},
                   {"balance", value(mix.balance)},
                   {"chorus", value(mix.chorus)},
                   {"reverb", value(mix.reverb)},
                   {"phaser", value(mix.phaser)},
                   {"tremolo", value(mix.tremolo)},
                   {"tempo", Given(mix.tempo != -1, mix.tempo)},
                   {"volumeDuration", Number(mix.volumeDuration)},
                   {"balanceDuration", Number(mix.balanceDuration)},
                   {"chorusDuration", Number(mix.chorusDuration)},
                   {"reverbDuration", Number(mix.reverbDuration)},
                   {"phaserDuration", Number(mix.phaserDuration)},
                   {"tremoloDuration", Number(mix.tremoloDuration)},
                   {"tempoDuration", Number(mix.tempoDuration)},
                   {"applyToAllTracks", Number(mix.applyToAllTracks)}});
}

std::string BeatJson(const ZELTO_SongBeat &beat, const ZELTO_SongNote *notes, const BeatPlace &place) {
    std::string listed = "[";
    for (std::uint32_t note = 0; note < beat.noteCount; ++note)
        listed += (note ? ", " : "") + NoteJson(notes[beat.firstNote + note], place);
    const char *text = ZELTO_SongGetBeatText(place.song, place.measure, place.track, place.beat);
    return Object({{"flags", Number(beat.flags)},
                   {"duration", Number(beat.duration)},
                   {"dotted", JsonBool(beat.flags & 0x01)},
                   {"tuplet", Given(beat.flags & 0x20, beat.tuplet)},
                   {"status", Given(beat.flags & 0x40, beat.status)},
                   {"text", JsonText(text)},
                   {"chord", beat.flags & 0x02 ? ChordJson(place) : "null"},
                   {"effects", beat.flags & 0x08 ? BeatEffectsJson(place) : "null"},
                   {"mixTable", beat.flags & 0x10 ? MixTableJson(place) : "null"},
                   {"notes", listed + "]"}});
}

// The track's measures, one per line at the given indent.
std::string TrackMeasuresJson(ZELTO_Song *song, std::uint32_t track, std::uint32_t measureCount,
                              const std::string &indent) {
    std::uint32_t beatCount = 0, noteCount = 0;
    ZELTO_SongGetBeats(song, track, 0, measureCount, nullptr, 0, &beatCount, nullptr, 0, &noteCount, nullptr);
    std::vector<ZELTO_SongBeat> beats(beatCount);
    std::vector<ZELTO_SongNote> notes(noteCount);
    std::vector<std::uint32_t> starts(measureCount + 1);
    ZELTO_SongGetBeats(song, track, 0, measureCount, beats.data(), beatCount, &beatCount, notes.data(), noteCount,
                       &noteCount, starts.data());
    std::string out = "[";
    for (std::uint32_t measure = 0; measure < measureCount; ++measure) {
        std::string listed = "[";
        for (std::uint32_t beat = starts[measure]; beat < starts[measure + 1]; ++beat) {
            const BeatPlace place = {song, measure, track, beat - starts[measure]};
            listed += (beat != starts[measure] ? ", " : "") + BeatJson(beats[beat], notes.data(), place);
        }
        out += (measure ? ",\n" : "\n") + indent + "  " +
               Object({{"index", Number(measure)}, {"beats", listed + "]"}});
    }
    return out + (measureCount ? "\n" + indent : "") + "]";
}

}  // namespace

bool TrackNotesJson(const std::filesystem::path &songPath, const std::string &indent,
                    std::vector<std::string> &trackMeasures, std::string &problem) {
    ZELTO_Song *song = nullptr;
    const std::int32_t result = ZELTO_SongOpen(songPath.string().c_str(), &song);
    if (result != ZELTO_SONG_OK) {
        problem = ZELTO_SongResultText(result);
        return false;
    }
    ZELTO_SongInfo info{};
    ZELTO_SongGetInfo(song, &info);
    trackMeasures.clear();
    for (std::uint32_t track = 0; track < info.trackCount; ++track)
        trackMeasures.push_back(TrackMeasuresJson(song, track, info.measureCount, indent));
    ZELTO_SongClose(song);
    return true;
}

}  // namespace Talvoren
