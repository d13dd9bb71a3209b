// clock_reference.h - the conversion's clock in its plainest form, one pulse
// at a time: at every pulse every track ends the beat whose time is up and
// starts its next one, each beat's length comes from GetBeatPulseCount, its
// notes are sent string by string, and every chunk's counter grows by one.
// The clock identity tests run the song conversion with it and with the
// library's clock and require the same result.
//
// Include after gp/convert.cpp (and the rest of the library sources it needs).
#ifndef ZELTO_TESTS_INTERNAL_CLOCK_REFERENCE_H
#define ZELTO_TESTS_INTERNAL_CLOCK_REFERENCE_H

#include <cstdint>

namespace ClockReference {

// Note-ons of the beat's normal notes, string by string; a key above 127 is not sounded.
inline void SoundBeatOfPulse(Talvoren::Conversion *conversion, Talvoren::MidiTrackChunk *chunk,
                             const Talvoren::Track &track, const Talvoren::TrackChannels &channels,
                             const Talvoren::Beat &beat) {
    if (!channels.sends || Talvoren::IsBeatSilent(beat)) return;
    const std::uint32_t stringCount = Talvoren::GetSoundingStringCount(track);
    for (std::uint32_t string = 0; string < stringCount; ++string) {
        if ((beat.stringFlags & (1u << (6 - string))) == 0) continue;
        const Talvoren::Note &note = beat.notes[string];
        if ((note.flags & Talvoren::NoteHasTypeAndFret) == 0 || note.noteType != 1) continue;
        const std::uint8_t key = Talvoren::GetNoteKey(track, note, string);
        if (key > 127) continue;
        Talvoren::RecordAppend(conversion,
                           Talvoren::AddEventNoteOn(chunk, channels.main, key, Talvoren::GetNoteVelocity(note)));
    }
}

// Note-offs of every note present, whatever its type, string by string.
inline void ReleaseBeatOfPulse(Talvoren::Conversion *conversion, Talvoren::MidiTrackChunk *chunk,
                               const Talvoren::Track &track, const Talvoren::Beat &beat) {
    const Talvoren::TrackChannels channels = Talvoren::GetTrackChannels(track);
    if (!channels.sends || Talvoren::IsBeatSilent(beat)) return;
    const std::uint32_t stringCount = Talvoren::GetSoundingStringCount(track);
    for (std::uint32_t string = 0; string < stringCount; ++string) {
        if ((beat.stringFlags & (1u << (6 - string))) == 0) continue;
        const std::uint8_t key = Talvoren::GetNoteKey(track, beat.notes[string], string);
        if (key > 127) continue;
        Talvoren::RecordAppend(conversion, Talvoren::AddEventNoteOff(chunk, channels.main, key, 80));
    }
}

// A mix-table change: tempo on the conductor at once, program and volume on the track.
inline void ApplyMixTableEvent(Talvoren::Conversion *conversion, Talvoren::MidiTrackChunk *chunk,
                               const Talvoren::TrackChannels &channels, const Talvoren::MixTableEvent &mix) {
    if (mix.tempo >= 0)
        Talvoren::RecordAppend(conversion, Talvoren::AddMetaEventSetTempo(
                                           conversion->conductor,
                                           Talvoren::GetTempoValue(static_cast<std::uint32_t>(mix.tempo))));
    Talvoren::ApplyMixTableSettings(conversion, chunk, channels, mix);
}

// Starts the track's next beat: its length, its mix-table change, its notes.
inline void StartBeatOfPulse(Talvoren::Conversion *conversion, Talvoren::MidiTrackChunk *chunk, Talvoren::Track *track,
                      std::uint32_t trackIndex, std::uint32_t measureIndex, const Talvoren::Beat &beat) {
    track->beatPulsesLeft = Talvoren::GetBeatPulseCount(conversion->file, measureIndex, trackIndex, track->beatIndex,
                                                        conversion->pulsesPerSixtyFourth);
    const Talvoren::TrackChannels channels = Talvoren::GetTrackChannels(*track);
    if ((beat.flags & Talvoren::BeatHasMixTable) && beat.mixTableEvent != nullptr)
        ApplyMixTableEvent(conversion, chunk, channels, *beat.mixTableEvent);
    SoundBeatOfPulse(conversion, chunk, *track, channels, beat);
    ++track->beatIndex;
}

// One measure, pulse by pulse: each track in order releases the beat whose
// count reached 0 and starts the next, counts down (wrapping from 0 when no
// beat was left to start), steps its chunk's counter, and at the last pulse
// releases its sounding beat; then the conductor's counter steps.
inline void ConvertMeasure(Talvoren::Conversion *conversion, Talvoren::MidiFileStruct *midi,
                           std::uint32_t measureIndex, std::uint32_t pulseCount) {
    Talvoren::FileStruct *file = conversion->file;
    const std::uint32_t trackCount = file->headers.pieceInfo.trackCount;
    Talvoren::Track *tracks = file->body.tracks;
    const Talvoren::MeasureTrackPair *row = trackCount == 0 ? nullptr : file->body.measureTrackPairs[measureIndex];
    for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
        tracks[trackIndex].beatIndex = 0;
        tracks[trackIndex].beatPulsesLeft = 0;
    }
    for (std::uint32_t pulse = 0; pulse < pulseCount && !conversion->appendFailed; ++pulse) {
        for (std::uint32_t trackIndex = 0; trackIndex < trackCount; ++trackIndex) {
            Talvoren::Track *track = &tracks[trackIndex];
            Talvoren::MidiTrackChunk *chunk = &midi->tracks[trackIndex + 1];
            const Talvoren::MeasureTrackPair &pair = row[trackIndex];
            if (track->beatPulsesLeft == 0) {
                if (track->beatIndex > 0)
                    ReleaseBeatOfPulse(conversion, chunk, *track, pair.beats[track->beatIndex - 1]);
                if (track->beatIndex < pair.beatCount)
                    StartBeatOfPulse(conversion, chunk, track, trackIndex, measureIndex, pair.beats[track->beatIndex]);
            }
            --track->beatPulsesLeft;
            ++chunk->pendingDelta;
            if (pulse == pulseCount - 1 && track->beatIndex > 0)
                ReleaseBeatOfPulse(conversion, chunk, *track, pair.beats[track->beatIndex - 1]);
        }
        ++conversion->conductor->pendingDelta;
    }
}

// ToMidi with the pulse-by-pulse clock.
inline int ToMidi(Talvoren::FileStruct *file, Talvoren::MidiFileStruct *midi, std::uint32_t pulsesPerSixtyFourth) {
    return Talvoren::ConvertSong(file, midi, pulsesPerSixtyFourth, ConvertMeasure);
}

}  // namespace ClockReference

#endif  // ZELTO_TESTS_INTERNAL_CLOCK_REFERENCE_H
