#!/usr/bin/env python3
"""Opens the MusicXML export of songs in a notation program, as a user would.

    compare_clients.py --library LIB --folder DIR [--min-share 0.9]

DIR holds songs (NAME.gp4) and their performed renderings
(NAME.performed.mid), as make_musicxml_songs writes them. Each song is
exported as DIR/NAME.musicxml through ZELTO_SongCreateMusicXml, imported by
MuseScore 3 (mscore3, a black box) and played by it to DIR/NAME.ms.mid. The
notes it plays are set against the performed rendering's by onset (on a grid
of 1/64 quarter) and key, drums aside: the share of the performed notes it
plays, and the share of its notes that the performed rendering plays, must
both reach --min-share over all songs. An import that reports an error fails.
"""

import argparse
import collections
import ctypes
import os
import subprocess
import sys

import mido


def export(library, song_path, xml_path):
    song = ctypes.c_void_p()
    if library.ZELTO_SongOpen(song_path.encode(), ctypes.byref(song)) != 0:
        raise SystemExit(f"{song_path}: does not open")
    buffer = ctypes.POINTER(ctypes.c_ubyte)()
    size = ctypes.c_uint32()
    result = library.ZELTO_SongCreateMusicXml(song, ctypes.byref(buffer), ctypes.byref(size))
    library.ZELTO_SongClose(song)
    if result != 0:
        raise SystemExit(f"{song_path}: not exported ({result})")
    with open(xml_path, "wb") as out:
        out.write(ctypes.string_at(buffer, size.value))
    library.ZELTO_DestroyMidiBuffer(buffer)


def drum_parts(xml_path):
    """The names of the parts on a percussion staff: the drums, set aside."""
    import xml.etree.ElementTree as ElementTree
    root = ElementTree.parse(xml_path).getroot()
    names = {p.get("id"): p.findtext("part-name") for p in root.findall("part-list/score-part")}
    return {names[p.get("id")] for p in root.findall("part")
            if p.findtext("measure/attributes/clef/sign") == "percussion"}


def notes(path, skipped_tracks=()):
    """(onset in 1/64 quarters, key) of every note-on off channel 10, and off
    the tracks named in skipped_tracks, as a multiset."""
    midi = mido.MidiFile(path)
    found = collections.Counter()
    for track in midi.tracks:
        if track.name in skipped_tracks:
            continue
        tick = 0
        for message in track:
            tick += message.time
            if message.type == "note_on" and message.velocity > 0 and message.channel != 9:
                found[(round(tick * 16 / midi.ticks_per_beat), message.note)] += 1
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--library", required=True)
    parser.add_argument("--folder", required=True)
    parser.add_argument("--min-share", type=float, default=0.9)
    arguments = parser.parse_args()
    library = ctypes.CDLL(arguments.library)
    library.ZELTO_SongOpen.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]
    library.ZELTO_SongClose.argtypes = [ctypes.c_void_p]
    library.ZELTO_SongCreateMusicXml.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.POINTER(ctypes.c_ubyte)),
                                                 ctypes.POINTER(ctypes.c_uint32)]
    library.ZELTO_DestroyMidiBuffer.argtypes = [ctypes.POINTER(ctypes.c_ubyte)]
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    ours_total = theirs_total = shared_total = 0
    failures = 0
    names = sorted(name[:-4] for name in os.listdir(arguments.folder) if name.endswith(".gp4"))
    for name in names:
        base = os.path.join(arguments.folder, name)
        export(library, base + ".gp4", base + ".musicxml")
        run = subprocess.run(["mscore3", "-o", base + ".ms.mid", base + ".musicxml"], env=environment,
                             capture_output=True, text=True, timeout=300)
        errors = [line for line in (run.stdout + run.stderr).splitlines() if "rror" in line]
        if run.returncode != 0 or errors or not os.path.exists(base + ".ms.mid"):
            print(f"{name}: MuseScore did not import it cleanly (exit {run.returncode}): {errors[:3]}")
            failures += 1
            continue
        ours = notes(base + ".performed.mid") if os.path.exists(base + ".performed.mid") else None
        theirs = notes(base + ".ms.mid", drum_parts(base + ".musicxml"))
        if ours is None:
            print(f"{name}: imported, {sum(theirs.values())} notes played")
            continue
        shared = sum((ours & theirs).values())
        ours_count, theirs_count = sum(ours.values()), sum(theirs.values())
        ours_total += ours_count
        theirs_total += theirs_count
        shared_total += shared
        print(f"{name}: {shared} of our {ours_count} notes played by it, {shared} of its {theirs_count} ours")
    ours_share = shared_total / ours_total if ours_total else 1.0
    theirs_share = shared_total / theirs_total if theirs_total else 1.0
    print(f"compare_clients: {ours_share:.1%} of the performed notes, {theirs_share:.1%} of what it plays")
    if failures or ours_share < arguments.min_share or theirs_share < arguments.min_share:
        print("compare_clients: FAILED")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
