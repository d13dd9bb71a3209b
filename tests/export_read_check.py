#!/usr/bin/env python3
"""Reads a song exported by ZELTO_CreateMidiBuffer with an independent reader
(mido) and compares its notes, tempos and timing with what the song implies.

Usage: export_read_check.py API_TEST_PROGRAM OUTPUT_PATH

The API test program writes the export of its read-check song when
ZELTO_EXPORT_CHECK_PATH names a path; this script runs that one test, reads
the file and compares. Exits with 77 (reported as skipped) when mido is not
installed.

The song (tempo 90, title "Read check"):
  measure 1, 4/4, marker "Intro":
    Guitar (channel 1): quarter E4 loud + C4, eighth F#4, eighth G4, half A3
    Bass (channel 3):   whole A1
  measure 2, 3/4, end of repeat played once more (back to measure 1):
    Guitar: quarter rest that sets tempo 120, half G2
    Bass:   half G2, quarter E2
so the measures play 1, 2, 1, 2, every note ending where its beat ends or,
at the latest, at its bar line.
"""
import os
import subprocess
import sys

SKIP = 77

try:
    import mido
except ImportError:
    print("SKIPPED: the Python package mido is not installed "
          "(Debian: apt-get install python3-mido)")
    sys.exit(SKIP)

QUARTER = 480
FOUR_FOUR = 4 * QUARTER
THREE_FOUR = 3 * QUARTER
PASS = FOUR_FOUR + THREE_FOUR


def note(start, length, key, velocity, channel):
    """A note as (on tick, off tick, key, velocity, channel)."""
    return (start, start + length, key, velocity, channel)


def expected_notes():
    guitar, bass = [], []
    for offset in (0, PASS):
        second = offset + FOUR_FOUR
        guitar += [note(offset, QUARTER, 64, 127, 0), note(offset, QUARTER, 60, 95, 0),
                   note(offset + 480, 240, 66, 95, 0), note(offset + 720, 240, 67, 95, 0),
                   note(offset + 960, 960, 57, 95, 0),
                   note(second + 480, 960, 43, 95, 0)]
        bass += [note(offset, FOUR_FOUR, 33, 95, 2),
                 note(second, 960, 43, 95, 2), note(second + 960, 480, 40, 95, 2)]
    return guitar, bass


def absolute(track):
    """The track's messages with absolute ticks."""
    tick = 0
    for message in track:
        tick += message.time
        yield tick, message


def sounded_notes(track):
    """Pairs each note-on with the first later note-off of its key, as a player would."""
    sounding, notes = {}, []
    for tick, message in absolute(track):
        if message.type == "note_on" and message.velocity > 0:
            sounding[(message.channel, message.note)] = (tick, message.velocity)
        elif message.type in ("note_off", "note_on"):
            started = sounding.pop((message.channel, message.note), None)
            if started is not None:
                notes.append((started[0], tick, message.note, started[1], message.channel))
    return sorted(notes), sorted(sounding)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, path = sys.argv[1], sys.argv[2]
    if os.path.exists(path):
        os.remove(path)
    environment = dict(os.environ, ZELTO_EXPORT_CHECK_PATH=path)
    run = subprocess.run([program, "--gtest_filter=ExportReadCheck.*"], env=environment,
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, check=False)
    if run.returncode != 0 or not os.path.exists(path):
        print(run.stdout)
        print("FAILED: the API test did not write %s" % path)
        return 1

    midi = mido.MidiFile(path)
    failures = []
    if midi.type != 1 or midi.ticks_per_beat != 480 or len(midi.tracks) != 3:
        failures.append("type %d, division %d, %d tracks; expected 1, 480, 3"
                        % (midi.type, midi.ticks_per_beat, len(midi.tracks)))
        midi.tracks += [[]] * max(0, 3 - len(midi.tracks))

    conductor = [(tick, message) for tick, message in absolute(midi.tracks[0])]
    tempos = [(tick, message.tempo) for tick, message in conductor if message.type == "set_tempo"]
    if tempos != [(0, 666666), (FOUR_FOUR, 500000), (PASS + FOUR_FOUR, 500000)]:
        failures.append("tempos %r" % tempos)
    signatures = [(tick, message.numerator, message.denominator)
                  for tick, message in conductor if message.type == "time_signature"]
    if signatures != [(0, 4, 4), (FOUR_FOUR, 3, 4), (PASS, 4, 4), (PASS + FOUR_FOUR, 3, 4)]:
        failures.append("time signatures %r" % signatures)
    markers = [(tick, message.text) for tick, message in conductor if message.type == "marker"]
    if markers != [(0, "Intro"), (PASS, "Intro")]:
        failures.append("markers %r" % markers)
    names = [message.name for track in midi.tracks for message in track if message.type == "track_name"]
    if names != ["Read check", "Guitar", "Bass"]:
        failures.append("track names %r" % names)

    settings = [[(message.type, message.channel, getattr(message, "program", None), getattr(message, "value", None))
                 for message in track if message.type in ("program_change", "control_change")]
                for track in midi.tracks[1:3]]
    if settings != [[("program_change", 0, 25, None), ("control_change", 0, None, 104)],
                    [("program_change", 2, 33, None), ("control_change", 2, None, 96)]]:
        failures.append("programs and volumes %r" % settings)

    for name, track, expected in zip(("Guitar", "Bass"), midi.tracks[1:3], expected_notes()):
        notes, left_sounding = sounded_notes(track)
        if notes != sorted(expected):
            failures.append("%s notes %r, expected %r" % (name, notes, sorted(expected)))
        if left_sounding:
            failures.append("%s notes left sounding: %r" % (name, left_sounding))

    # 4 quarters at 90 bpm, then 3 + 4 + 3 quarters at 120 bpm.
    seconds = 4 * 60.0 / 90 + 10 * 0.5
    if abs(midi.length - seconds) > 1e-3:
        failures.append("length %.6f s, expected %.6f s" % (midi.length, seconds))

    if failures:
        for failure in failures:
            print("FAILED: " + failure)
        return 1
    print("independent reader: %d tracks, %d notes, %.3f s as the song implies"
          % (len(midi.tracks), sum(len(notes) for notes in expected_notes()), midi.length))
    return 0


if __name__ == "__main__":
    sys.exit(main())
