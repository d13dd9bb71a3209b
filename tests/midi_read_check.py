#!/usr/bin/env python3
"""Reads a MIDI file made by the builder with an independent reader (mido) and
compares its events with the list expected here.

Usage: midi_read_check.py BUILDER_TEST_PROGRAM OUTPUT_PATH

The builder's internal test program writes the file when ZELTO_MIDI_CHECK_PATH
names a path; this script runs it, reads the file and compares. Exits with 77
(reported as skipped) when mido is not installed.
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


# (message type, delta time, attributes) per track, in file order.
EXPECTED = [
    [
        ("set_tempo", 0, {"tempo": 500000}),
        ("track_name", 0, {"name": "Reader check"}),
        ("time_signature", 0, {"numerator": 4, "denominator": 4,
                               "clocks_per_click": 24, "notated_32nd_notes_per_beat": 8}),
        ("marker", 0, {"text": "Intro"}),
        ("time_signature", 1920, {"numerator": 3, "denominator": 8,
                                  "clocks_per_click": 12, "notated_32nd_notes_per_beat": 8}),
        ("marker", 0, {"text": "Caf\u00e9"}),
        ("set_tempo", 0x200000, {"tempo": 666666}),
        ("end_of_track", 0, {}),
    ],
    [
        ("track_name", 0, {"name": "Guitar"}),
        ("program_change", 0, {"channel": 0, "program": 25}),
        ("control_change", 0, {"channel": 0, "control": 7, "value": 104}),
        ("note_on", 0, {"channel": 0, "note": 67, "velocity": 95}),
        ("note_on", 0, {"channel": 0, "note": 71, "velocity": 111}),
        ("note_off", 480, {"channel": 0, "note": 67, "velocity": 80}),
        ("note_off", 0, {"channel": 0, "note": 71, "velocity": 80}),
        ("note_on", 0, {"channel": 1, "note": 60, "velocity": 127}),
        ("note_off", 0x0FFFFFFF, {"channel": 1, "note": 60, "velocity": 80}),
        ("end_of_track", 0, {}),
    ],
    [
        ("track_name", 0, {"name": ""}),
        ("program_change", 0, {"channel": 9, "program": 0}),
        ("control_change", 0, {"channel": 9, "control": 7, "value": 127}),
        ("note_on", 0x3FFF, {"channel": 9, "note": 36, "velocity": 15}),
        ("note_off", 0x4000, {"channel": 9, "note": 36, "velocity": 80}),
        ("end_of_track", 0, {}),
    ],
]


def describe(message):
    return repr(message)


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, path = sys.argv[1], sys.argv[2]
    if os.path.exists(path):
        os.remove(path)
    environment = dict(os.environ, ZELTO_MIDI_CHECK_PATH=path)
    run = subprocess.run([program, "--gtest_filter=MidiBuilder.ReaderCheckFile"],
                         env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         text=True, check=False)
    if run.returncode != 0 or not os.path.exists(path):
        print(run.stdout)
        print("FAILED: the builder test did not write %s" % path)
        return 1

    midi = mido.MidiFile(path)
    failures = []
    if midi.type != 1:
        failures.append("file type %d, expected 1" % midi.type)
    if midi.ticks_per_beat != 480:
        failures.append("division %d, expected 480" % midi.ticks_per_beat)
    if len(midi.tracks) != len(EXPECTED):
        failures.append("%d tracks, expected %d" % (len(midi.tracks), len(EXPECTED)))
    for track_index, (track, expected_track) in enumerate(zip(midi.tracks, EXPECTED)):
        messages = list(track)
        if len(messages) != len(expected_track):
            failures.append("track %d: %d events, expected %d: %s"
                            % (track_index, len(messages), len(expected_track),
                               [describe(message) for message in messages]))
        for event_index, (message, expected) in enumerate(zip(messages, expected_track)):
            kind, delta, attributes = expected
            place = "track %d, event %d" % (track_index, event_index)
            if message.type != kind:
                failures.append("%s: %s, expected %s" % (place, describe(message), kind))
                continue
            if message.time != delta:
                failures.append("%s: delta %d, expected %d" % (place, message.time, delta))
            for name, value in attributes.items():
                actual = getattr(message, name)
                if actual != value:
                    failures.append("%s: %s is %r, expected %r" % (place, name, actual, value))

    if failures:
        for failure in failures:
            print("FAILED: " + failure)
        return 1
    print("independent reader: %d tracks, %d events as expected"
          % (len(midi.tracks), sum(len(track) for track in midi.tracks)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
