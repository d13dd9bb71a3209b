#!/usr/bin/python3
"""Sets the pitch, onsets and controller steps of the performed rendering of
the effect songs (fx_*) against another program's rendering of them.

    make_compare_songs FOLDER
    compare_pitch.py FOLDER [--render 'QT_QPA_PLATFORM=offscreen mscore3 -o {out} {song}']

For every note: its onset, its key, and the pitch it sounds (key plus the
channel's pitch wheel times the channel's RPN 0 range, 2 when none is set) at
0, 1/4, 1/2, 3/4 and the end of its length; then the volume (controller 7)
and tempo changes of each file. Reads MIDI with python3-mido.
"""
import argparse
import glob
import os
import sys

import mido

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from compare_performed import render_other  # noqa: E402


def read(path):
    """(notes, volumes, tempos): notes as (onset, key, length, [(tick, semitones)] wheel curve of its channel)."""
    midi = mido.MidiFile(path)
    scale = 480.0 / midi.ticks_per_beat
    events = []
    for order, track in enumerate(midi.tracks):
        tick = 0
        for message in track:
            tick += message.time
            events.append((round(tick * scale), order, message))
    events.sort(key=lambda event: (event[0], event[1]))
    ranges, rpn, wheels = {}, {}, {}
    sounding, notes, volumes, tempos = {}, [], [], []
    for tick, _, message in events:
        if message.type == 'set_tempo':
            tempos.append((tick, round(mido.tempo2bpm(message.tempo), 1)))
        elif message.type == 'control_change':
            if message.control in (100, 101):
                rpn[(message.channel, message.control)] = message.value
            elif message.control == 6 and rpn.get((message.channel, 101)) == 0 and rpn.get((message.channel, 100)) == 0:
                ranges[message.channel] = message.value
            elif message.control == 7:
                volumes.append((tick, message.channel, message.value))
        elif message.type == 'pitchwheel':
            semitones = message.pitch / (8191.0 if message.pitch >= 0 else 8192.0) * ranges.get(message.channel, 2)
            wheels.setdefault(message.channel, []).append((tick, semitones))
        elif message.type == 'note_on' and message.velocity > 0:
            sounding.setdefault((message.channel, message.note), []).append(tick)
        elif message.type in ('note_on', 'note_off'):
            started = sounding.get((message.channel, message.note))
            if started:
                onset = started.pop(0)
                notes.append((onset, message.note, tick - onset, message.channel))
    return sorted(notes), wheels, volumes, tempos


def pitch_at(wheels, channel, tick):
    value = 0.0
    for when, semitones in wheels.get(channel, []):
        if when > tick:
            break
        value = semitones
    return value


def describe(notes, wheels):
    lines = []
    for onset, key, length, channel in notes:
        ticks = [onset, onset + length // 4, onset + length // 2, onset + 3 * length // 4, onset + max(length - 1, 0)]
        pitches = ' '.join(f'{key + pitch_at(wheels, channel, tick):6.2f}' for tick in ticks)
        lines.append(f'at {onset:5d} key {key:3d} length {length:4d}: {pitches}')
    return lines


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('folder')
    parser.add_argument('--render', default='QT_QPA_PLATFORM=offscreen mscore3 -o {out} {song}')
    arguments = parser.parse_args()
    for song in sorted(glob.glob(os.path.join(arguments.folder, 'fx_*.gp4'))):
        name = os.path.basename(song)[:-4]
        ours_path = os.path.join(arguments.folder, name + '.zelto.mid')
        theirs_path = render_other(arguments.render, arguments.folder, song)
        print(f'== {name}')
        for label, path in (('ours', ours_path), ('theirs', theirs_path)):
            if not os.path.exists(path):
                print(f'  {label}: no file')
                continue
            notes, wheels, volumes, tempos = read(path)
            print(f'  {label}: pitch at 0, 1/4, 1/2, 3/4 and the end of each note')
            for line in describe(notes, wheels):
                print('    ' + line)
            print(f'    volume {volumes}')
            print(f'    tempo {tempos}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
