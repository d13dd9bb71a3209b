#!/usr/bin/env python3
"""test_tool.py - runs the zelto command-line tool as a user would, on songs
written by the test-side song writer (make_tool_songs), and checks what it
prints, the files it writes and its exit statuses.

Usage: test_tool.py --tool ZELTO --make-songs MAKE_TOOL_SONGS
                    --make-demo MAKE_DEMO --demo examples/demo.gp4
"""
import argparse
import json
import os
import pty
import select
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import threading
import unittest

ARGS = None
SONGS = None  # folder holding the songs make_tool_songs wrote

EXIT_SONG_FAILED = 1
EXIT_USAGE = 2


def run(*arguments, cwd=None, stdin=subprocess.DEVNULL):
    """Runs the tool; returns (exit status, stdout bytes, stderr text)."""
    completed = subprocess.run([ARGS.tool, *arguments], cwd=cwd, stdin=stdin,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    return completed.returncode, completed.stdout, completed.stderr.decode("utf-8", "replace")


def song(name):
    return os.path.join(SONGS, name)


def read_bytes(path):
    with open(path, "rb") as stream:
        return stream.read()


def write_bytes(path, data):
    with open(path, "wb") as stream:
        stream.write(data)


def parse_midi(data):
    """Walks a Standard MIDI File; fails on any inconsistency. Returns
    (format, division, tracks), each track a list of (tick, event) where event
    is ("meta", type, bytes) or ("channel", status, data bytes)."""
    assert data[:4] == b"MThd", "no MThd chunk"
    header_length, file_format, track_count, division = struct.unpack(">IHHH", data[4:14])
    assert header_length == 6, header_length
    position = 8 + header_length
    tracks = []
    while position < len(data):
        assert data[position:position + 4] == b"MTrk", "chunk %d is not MTrk" % len(tracks)
        (length,) = struct.unpack(">I", data[position + 4:position + 8])
        chunk = data[position + 8:position + 8 + length]
        assert len(chunk) == length, "track chunk cut off"
        position += 8 + length
        tracks.append(parse_track(chunk))
    assert position == len(data), "bytes after the last chunk"
    assert len(tracks) == track_count, "header says %d tracks, file has %d" % (track_count, len(tracks))
    return file_format, division, tracks


def parse_track(chunk):
    def quantity(at):
        value = 0
        for count in range(4):
            byte = chunk[at]
            at += 1
            value = (value << 7) | (byte & 0x7F)
            if byte < 0x80:
                return value, at
        raise AssertionError("variable-length quantity longer than 4 bytes")

    events, at, tick, running = [], 0, 0, None
    while at < len(chunk):
        delta, at = quantity(at)
        tick += delta
        status = chunk[at]
        if status == 0xFF:
            kind = chunk[at + 1]
            length, at = quantity(at + 2)
            events.append((tick, ("meta", kind, bytes(chunk[at:at + length]))))
            at += length
            running = None
            continue
        if status < 0x80:
            assert running is not None, "data byte without running status"
            status = running
        else:
            at += 1
        running = status
        size = 1 if (status & 0xF0) in (0xC0, 0xD0) else 2
        events.append((tick, ("channel", status, bytes(chunk[at:at + size]))))
        at += size
    assert events and events[-1][1] == ("meta", 0x2F, b""), "track does not end with FF 2F 00"
    return events


class ToolTestCase(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="zelto-tool-test.")

    def tearDown(self):
        shutil.rmtree(self.work, ignore_errors=True)

    def copy_song(self, name, target_name=None, folder=None):
        folder = folder or self.work
        os.makedirs(folder, exist_ok=True)
        target = os.path.join(folder, target_name or name)
        shutil.copyfile(song(name), target)
        return target

    def run_as_ordinary_user(self, *arguments):
        """Runs the tool as user 65534 when the tests run as root (permissions
        do not stop root), else as the current user; skips where that cannot be."""
        prefix = []
        if os.geteuid() == 0:
            setpriv = shutil.which("setpriv")
            if setpriv is None:
                self.skipTest("no setpriv to run the tool as an ordinary user")
            prefix = [setpriv, "--reuid=65534", "--regid=65534", "--clear-groups"]
        completed = subprocess.run(prefix + [ARGS.tool, *arguments], stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=120)
        if prefix and completed.returncode in (126, 127):
            self.skipTest("the tool cannot be run as an ordinary user here")
        return completed.returncode, completed.stdout, completed.stderr.decode("utf-8", "replace")

    def assert_no_temporary_files(self, folder=None):
        for root, _, files in os.walk(folder or self.work):
            leftovers = [name for name in files if ".part-" in name]
            self.assertEqual(leftovers, [], "temporary files left in " + root)

    def assert_valid_midi(self, path_or_bytes, track_count):
        data = read_bytes(path_or_bytes) if isinstance(path_or_bytes, str) else path_or_bytes
        file_format, division, tracks = parse_midi(data)
        self.assertEqual(file_format, 1)
        self.assertEqual(division, 480)
        self.assertEqual(len(tracks), track_count + 1)
        return tracks


class InfoSummaryTest(ToolTestCase):
    """zelto info: the readable summary of the song that uses every field."""

    @classmethod
    def setUpClass(cls):
        status, out, err = run("info", song("full.gp4"))
        assert status == 0, err
        cls.text = out.decode("utf-8")
        cls.lines = cls.text.splitlines()

    def line(self, label):
        for line in self.lines:
            if line.startswith(label) and line[len(label):len(label) + 1] in (" ", ""):
                return line[14:]
        self.fail("no line labelled %r in:\n%s" % (label, self.text))

    def test_information_strings_are_shown_readably(self):
        self.assertEqual(self.line("Title"), 'Tool "Test" Song')
        self.assertEqual(self.line("Artist"), "Caf\u00e9 Trio")  # a Latin-1 byte, shown as a character
        self.assertEqual(self.line("Album"), "Gr\u00fcn")  # valid UTF-8 stays as it is
        self.assertEqual(self.line("Author"), "Back\\slash")
        self.assertEqual(self.line("Instructions"), "Play it")
        # Control characters never reach the terminal.
        self.assertEqual(self.line("Subtitle"), "tab\\x09here\\x0anew line")
        self.assertEqual(self.line("Tab author"), "ctrl\\x01\\x1f\\x7f")
        for character in self.text:
            self.assertFalse(ord(character) < 0x20 and character != "\n", repr(character))

    def test_notice_lines_lyrics_and_piece_values(self):
        notice = self.lines.index("Notice        Notice one")
        self.assertEqual(self.lines[notice + 1], " " * 14 + "Notice two")
        self.assertEqual(self.line("Triplet feel"), "stored as 2, played as off")
        self.assertEqual(self.line("Tempo"), "132 quarter notes per minute")
        self.assertEqual(self.line("Key"), "-3")
        self.assertEqual(self.line("Octave"), "1")
        self.assertEqual(self.line("Lyrics track"), "2")
        first = self.lines.index("Lyrics 1      first line")
        self.assertEqual(self.lines[first + 1], " " * 14 + "second line")
        self.assertEqual(self.line("Lyrics 3"), "third")
        self.assertEqual(self.line("Lyrics 5"), "last")
        self.assertNotIn("Lyrics 2", self.text)  # empty lines are left out

    def test_measures_list_every_change(self):
        start = self.lines.index("Measures: 6")
        measures = {}
        for line in self.lines[start + 1:]:
            if not line.strip():
                break
            number, description = line.split(None, 1)
            measures[int(number)] = description
        self.assertEqual(measures, {
            1: 'time 3/4; repeat opens; marker "Verse" (colour #00ff00)',
            2: "repeat closes, count 2 (section played 3 times); alternative ending 1",
            3: "time 6/4; tonality -2; double bar",
            4: "time 6/8",
            6: 'marker "Coda" (colour #0000ff); double bar',
        })

    def test_track_table(self):
        start = self.lines.index("Tracks: 2")
        header, lead, bass = (line.split() for line in self.lines[start + 1:start + 4])
        self.assertEqual(header, ["#", "Name", "Strings", "Tuning", "Port", "Channel", "Effects",
                                  "Program", "Volume", "Frets", "Capo", "Colour"])
        # Six strings shown of the seven stored tunings.
        self.assertEqual(lead, ["1", "Lead", "6", "E4(64)", "B3(59)", "G3(55)", "D3(50)", "A2(45)",
                                "E2(40)", "1", "1", "2", "30", "12", "24", "2", "#ff0000"])
        self.assertEqual(bass, ["2", "Bass", "\u00dc", "4", "G2(43)", "D2(38)", "A1(33)", "E1(28)",
                                "1", "3", "4", "33", "14", "20", "0", "#563412"])

    def test_song_without_measures_or_tracks(self):
        status, out, err = run("info", song("bare.gp4"))
        self.assertEqual(status, 0, err)
        text = out.decode("utf-8")
        self.assertIn("Notice        (none)\n", text)
        self.assertIn("Lyrics        (none)\n", text)
        self.assertIn("Measures: 0\n", text)
        self.assertTrue(text.endswith("Tracks: 0\n"), text)


class InfoJsonTest(ToolTestCase):
    """zelto info --json: every query's answer, in the documented shape."""

    TOP_LEVEL_KEYS = ["format", "formatVersion", "title", "subtitle", "interpret", "album", "author",
                      "copyright", "tabAuthor", "instructions", "noticeLineCount", "noticeLines",
                      "tripletFeel", "lyricsTrack", "lyricsLines", "tempo", "key", "octave",
                      "midiChannels", "measureCount", "measures", "trackCount", "tracks"]

    @classmethod
    def setUpClass(cls):
        status, out, err = run("info", "--json", song("full.gp4"))
        assert status == 0, err
        cls.raw = out
        cls.document = json.loads(out.decode("utf-8"))  # the output is UTF-8 text

    def test_shape_is_stable(self):
        self.assertEqual(list(self.document), self.TOP_LEVEL_KEYS)
        self.assertEqual(self.document["format"], "zelto-song")
        self.assertEqual(self.document["formatVersion"], 1)

    def test_strings_keep_their_bytes(self):
        document = self.document
        self.assertEqual(document["title"], 'Tool "Test" Song')
        self.assertEqual(document["subtitle"], "tab\there\nnew line")
        self.assertEqual(document["author"], "Back\\slash")
        self.assertEqual(document["tabAuthor"], "ctrl\x01\x1f\x7f")
        self.assertEqual(document["copyright"], "")  # empty, not null
        # Each byte is the code point of the same value: Latin-1 gives the bytes back.
        self.assertEqual(document["interpret"].encode("latin-1"), b"Caf\xe9 Trio")
        self.assertEqual(document["album"].encode("latin-1"), b"Gr\xc3\xbcn")
        self.assertEqual(document["tracks"][1]["name"].encode("latin-1"), b"Bass \xdc")
        # Control characters are escaped, never written raw.
        self.assertNotIn(b"\x01", self.raw)
        self.assertNotIn(b"\x7f", self.raw)

    def test_header_values(self):
        document = self.document
        self.assertEqual(document["noticeLineCount"], 2)
        self.assertEqual(document["noticeLines"], ["Notice one", "Notice two"])
        self.assertEqual(document["tripletFeel"], 2)
        self.assertEqual(document["lyricsTrack"], 2)
        self.assertEqual(document["lyricsLines"], ["first line\r\nsecond line", "", "third", "", "last"])
        self.assertEqual((document["tempo"], document["key"], document["octave"]), (132, -3, 1))

    def test_channel_table(self):
        channels = self.document["midiChannels"]
        self.assertEqual([len(port) for port in channels], [16, 16, 16, 16])
        self.assertEqual(channels[0][0]["instrument"], 30)
        self.assertEqual(channels[0][0]["volume"], 12)
        self.assertEqual(channels[0][2]["instrument"], 33)
        self.assertEqual(channels[3][15], {"instrument": 127, "volume": 15, "balance": 3, "chorus": 4,
                                           "reverb": 5, "phaser": 6, "tremolo": 7, "filler": [1, 2]})
        self.assertEqual(channels[2][7], {"instrument": 0, "volume": 10, "balance": 8, "chorus": 0,
                                          "reverb": 0, "phaser": 0, "tremolo": 0, "filler": [0, 0]})

    def test_measures(self):
        def measure(index, **changes):
            values = {"index": index, "keyNumeratorPresent": False, "keyNumerator": 0,
                      "keyDenominatorPresent": False, "keyDenominator": 0, "beginRepeat": False,
                      "endRepeat": False, "repeatCount": 0, "altEndingCount": 0, "markerPresent": False,
                      "markerText": None, "markerColor": 0, "tonalityPresent": False, "tonality": 0,
                      "doubleBar": False}
            values.update(changes)
            return values

        self.assertEqual(self.document["measureCount"], 6)
        self.assertEqual(self.document["measures"], [
            measure(0, keyNumeratorPresent=True, keyNumerator=3, keyDenominatorPresent=True,
                    keyDenominator=4, beginRepeat=True, markerPresent=True, markerText="Verse",
                    markerColor=0x0000FF00),
            measure(1, endRepeat=True, repeatCount=2, altEndingCount=1),
            measure(2, keyNumeratorPresent=True, keyNumerator=6, tonalityPresent=True, tonality=-2,
                    doubleBar=True),
            measure(3, keyDenominatorPresent=True, keyDenominator=8),
            measure(4),
            measure(5, markerPresent=True, markerText="Coda", markerColor=0x00FF0000, doubleBar=True),
        ])

    def test_tracks(self):
        self.assertEqual(self.document["trackCount"], 2)
        lead, bass = self.document["tracks"]
        self.assertEqual(lead, {"index": 0, "name": "Lead", "stringCount": 6,
                                "tunings": [64, 59, 55, 50, 45, 40, 35], "midiPort": 1, "midiChannel": 1,
                                "effectsMidiChannel": 2, "fretCount": 24, "capoHeight": 2, "color": 255})
        self.assertEqual(bass["tunings"], [43, 38, 33, 28, 0, 0, 0])
        self.assertEqual((bass["midiChannel"], bass["effectsMidiChannel"], bass["fretCount"]), (3, 4, 20))
        self.assertEqual(bass["color"], 0x00123456)

    def test_bare_song(self):
        status, out, err = run("info", "--json", song("bare.gp4"))
        self.assertEqual(status, 0, err)
        document = json.loads(out)
        self.assertEqual(document["title"], "")
        self.assertEqual(document["noticeLines"], [])
        self.assertEqual((document["measures"], document["tracks"]), ([], []))
        self.assertEqual(document["tempo"], 90)

    def test_option_may_follow_the_song(self):
        status, out, _ = run("info", song("full.gp4"), "--json")
        self.assertEqual(status, 0)
        self.assertEqual(out, self.raw)


class InfoNotesTest(ToolTestCase):
    """zelto info --json --notes: the plain document, in formatVersion 2, with
    every track's beats and notes as the test-side writer wrote them."""

    def notes_document(self, name):
        status, out, err = run("info", "--json", "--notes", song(name + ".gp4"))
        self.assertEqual(status, 0, err)
        return json.loads(out.decode("utf-8"))

    def test_beats_and_notes_are_what_the_writer_wrote(self):
        for name in ("notes_full", "notes_rich"):
            with self.subTest(song=name):
                document = self.notes_document(name)
                with open(song(name + ".tracks.json"), encoding="utf-8") as stream:
                    written = json.load(stream)
                self.assertEqual([{"index": track["index"], "measures": track["measures"]}
                                  for track in document["tracks"]], written)

    def test_everything_else_is_the_plain_document(self):
        document = self.notes_document("notes_full")
        status, out, _ = run("info", "--json", song("notes_full.gp4"))
        plain = json.loads(out.decode("utf-8"))
        self.assertEqual((plain["formatVersion"], document["formatVersion"]), (1, 2))
        self.assertEqual(list(document), list(plain))
        for track in document["tracks"]:
            self.assertEqual(list(track)[-1], "measures")
            self.assertEqual(len(track.pop("measures")), document["measureCount"])
        del document["formatVersion"], plain["formatVersion"]
        self.assertEqual(document, plain)

    def test_notes_go_with_json(self):
        status, _, err = run("info", "--notes", song("notes_full.gp4"))
        self.assertEqual(status, EXIT_USAGE)
        self.assertIn("--notes goes with --json", err)


class MidiSingleSongTest(ToolTestCase):
    """zelto midi on one song: where the file goes, and what is never overwritten."""

    def test_writes_beside_the_song(self):
        source = self.copy_song("full.gp4")
        status, out, err = run("midi", source)
        self.assertEqual(status, 0, err)
        target = os.path.join(self.work, "full.mid")
        self.assertEqual(out.decode(), "%s -> %s\n" % (source, target))
        self.assert_valid_midi(target, 2)
        self.assertEqual(sorted(os.listdir(self.work)), ["full.gp4", "full.mid"])

    def test_standard_output_gives_the_same_bytes(self):
        source = self.copy_song("full.gp4", "Song.GP4")
        status, _, err = run("midi", source)
        self.assertEqual(status, 0, err)
        status, out, err = run("midi", source, "-o", "-")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, read_bytes(os.path.join(self.work, "Song.mid")))

    def test_output_file_and_output_folder(self):
        source = self.copy_song("minimal.gp4")
        named = os.path.join(self.work, "named.mid")
        self.assertEqual(run("midi", source, "-o", named)[0], 0)
        self.assert_valid_midi(named, 1)
        folder = os.path.join(self.work, "out")
        os.mkdir(folder)
        self.assertEqual(run("midi", "--output=" + folder, source)[0], 0)
        self.assert_valid_midi(os.path.join(folder, "minimal.mid"), 1)

    def test_existing_output_is_kept_unless_forced(self):
        source = self.copy_song("full.gp4")
        target = os.path.join(self.work, "full.mid")
        write_bytes(target, b"not to be lost")
        status, out, err = run("midi", source)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertEqual(out, b"")
        self.assertIn("full.mid: exists; use --force to overwrite it", err)
        self.assertEqual(read_bytes(target), b"not to be lost")
        self.assert_no_temporary_files()

        status, _, err = run("midi", "--force", source)
        self.assertEqual(status, 0, err)
        self.assert_valid_midi(target, 2)
        self.assert_no_temporary_files()

    def test_failed_move_leaves_no_temporary_file(self):
        source = self.copy_song("minimal.gp4")
        blocker = os.path.join(self.work, "minimal.mid")
        os.makedirs(os.path.join(blocker, "inside"))  # a folder where the file would go
        status, _, err = run("midi", "--force", source)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("minimal.mid: cannot write: ", err)
        self.assert_no_temporary_files()
        self.assertEqual(sorted(os.listdir(self.work)), ["minimal.gp4", "minimal.mid"])

    def test_forced_output_follows_links(self):
        source = self.copy_song("minimal.gp4")
        real = os.path.join(self.work, "real.mid")
        write_bytes(real, b"old")
        link = os.path.join(self.work, "link.mid")
        os.symlink("real.mid", link)
        dangling = os.path.join(self.work, "dangling.mid")
        os.symlink("made.mid", dangling)
        self.assertEqual(run("midi", source, "-o", link)[0], EXIT_SONG_FAILED)
        self.assertEqual(read_bytes(real), b"old")
        for named, target in ((link, real), (dangling, os.path.join(self.work, "made.mid"))):
            status, _, err = run("midi", "-f", source, "-o", named)
            self.assertEqual(status, 0, err)
            self.assertTrue(os.path.islink(named), named)
            self.assert_valid_midi(target, 1)
        self.assert_no_temporary_files()

    def test_forced_output_to_devices_is_written_in_place(self):
        source = self.copy_song("minimal.gp4")
        os.chmod(self.work, 0o755)
        status, _, err = self.run_as_ordinary_user("midi", source, "-o", "/dev/null")
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("/dev/null: exists; use --force", err)
        status, _, err = self.run_as_ordinary_user("midi", "-f", source, "-o", "/dev/null")
        self.assertEqual((status, err), (0, ""))
        status, _, err = self.run_as_ordinary_user("midi", "-f", source, "-o", "/dev/full")
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("/dev/full: cannot write: No space left on device", err)
        for device in ("/dev/null", "/dev/full"):
            self.assertTrue(stat.S_ISCHR(os.stat(device).st_mode), device)

    def test_forced_output_to_a_named_pipe_is_written_in_place(self):
        source = self.copy_song("full.gp4")
        pipe = os.path.join(self.work, "pipe.mid")
        os.mkfifo(pipe)
        received = []
        reader = threading.Thread(target=lambda: received.append(read_bytes(pipe)))
        reader.start()
        status, _, err = run("midi", "-f", source, "-o", pipe)
        reader.join(timeout=60)
        self.assertEqual(status, 0, err)
        self.assertTrue(stat.S_ISFIFO(os.stat(pipe).st_mode))
        self.assertEqual(received, [run("midi", source, "-o", "-")[1]])
        self.assert_no_temporary_files()

    def test_output_never_replaces_the_song(self):
        source = self.copy_song("full.gp4", "odd.mid")
        before = read_bytes(source)
        status, _, err = run("midi", "-f", source)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("would replace the song", err)
        self.assertEqual(read_bytes(source), before)
        source = self.copy_song("full.gp4")
        status, _, err = run("midi", "-f", source, "-o", source)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("would replace the song", err)
        self.assertEqual(read_bytes(source), read_bytes(song("full.gp4")))

    def test_written_file_has_ordinary_permissions(self):
        source = self.copy_song("minimal.gp4")
        self.assertEqual(run("midi", source)[0], 0)
        mode = os.stat(os.path.join(self.work, "minimal.mid")).st_mode & 0o777
        umask = os.umask(0)
        os.umask(umask)
        self.assertEqual(mode, 0o666 & ~umask)


class MidiRenderingTest(ToolTestCase):
    """zelto midi writes the performed rendering; --plain the library's plain export."""

    def test_plain_is_the_librarys_export_byte_for_byte(self):
        status, out, err = run("midi", "--plain", song("full.gp4"), "-o", "-")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, read_bytes(song("full.plain.mid")))

    def test_performed_by_default(self):
        status, out, err = run("midi", song("full.gp4"), "-o", "-")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, read_bytes(song("full.performed.mid")))
        # The song's alternative ending plays on its first pass only.
        self.assertNotEqual(out, read_bytes(song("full.plain.mid")))
        self.assert_valid_midi(out, 2)

    def test_plain_in_a_batch_and_after_the_songs(self):
        library = os.path.join(self.work, "library")
        self.copy_song("full.gp4", "a.gp4", library)
        self.copy_song("full.gp4", "b.gp4", os.path.join(library, "sub"))
        out_folder = os.path.join(self.work, "out")
        status, _, err = run("midi", library, "-o", out_folder, "--plain")
        self.assertEqual(status, 0, err)
        for path in (os.path.join(out_folder, "a.mid"), os.path.join(out_folder, "sub", "b.mid")):
            self.assertEqual(read_bytes(path), read_bytes(song("full.plain.mid")), path)

    def test_help_says_which_is_which(self):
        status, out, err = run("midi", "--help")
        self.assertEqual((status, err), (0, ""))
        self.assertIn("--plain", out.decode())
        self.assertIn("performed", out.decode())
        status, _, err = run("info", "--plain", song("full.gp4"))
        self.assertEqual(status, EXIT_USAGE)
        self.assertIn("unknown option '--plain'", err)


class MidiBatchTest(ToolTestCase):
    """zelto midi on several songs and folders."""

    def make_library(self):
        library = os.path.join(self.work, "library")
        self.copy_song("full.gp4", "a.gp4", library)
        self.copy_song("minimal.gp4", "b.GP4", os.path.join(library, "sub"))
        write_bytes(os.path.join(library, "notes.txt"), b"not a song")
        return library

    def test_folder_into_output_folder_keeps_subfolders(self):
        library = self.make_library()
        out_folder = os.path.join(self.work, "midi")  # made by the tool
        status, out, err = run("midi", library, "-o", out_folder)
        self.assertEqual(status, 0, err)
        lines = out.decode().splitlines()
        self.assertEqual(lines[-1], "2 converted, 0 failed")
        self.assertEqual(len(lines), 3)
        self.assert_valid_midi(os.path.join(out_folder, "a.mid"), 2)
        self.assert_valid_midi(os.path.join(out_folder, "sub", "b.mid"), 1)
        self.assertEqual(sorted(os.listdir(out_folder)), ["a.mid", "sub"])

    def test_folder_without_output_writes_beside_each_song(self):
        library = self.make_library()
        status, out, err = run("midi", library)
        self.assertEqual(status, 0, err)
        self.assertTrue(os.path.exists(os.path.join(library, "a.mid")))
        self.assertTrue(os.path.exists(os.path.join(library, "sub", "b.mid")))

    def test_failures_are_counted_and_do_not_stop_the_batch(self):
        library = self.make_library()
        self.copy_song("v3.gp4", "old.gp4", library)
        loose = self.copy_song("minimal.gp4", "loose.gp4")
        out_folder = os.path.join(self.work, "midi")
        status, out, err = run("midi", loose, library, os.path.join(self.work, "missing.gp4"),
                               "-o", out_folder)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertEqual(out.decode().splitlines()[-1], "3 converted, 2 failed")
        self.assertIn("old.gp4: not a Guitar Pro 4 song: it is another version", err)
        self.assertIn("missing.gp4: cannot open: No such file or directory", err)
        self.assertEqual(sorted(os.listdir(out_folder)), ["a.mid", "loose.mid", "sub"])
        self.assert_no_temporary_files()

    def test_two_songs_of_the_same_name_do_not_overwrite_each_other(self):
        first = self.copy_song("full.gp4", "x.gp4", os.path.join(self.work, "one"))
        second = self.copy_song("minimal.gp4", "x.gp4", os.path.join(self.work, "two"))
        out_folder = os.path.join(self.work, "midi")
        status, out, err = run("midi", "--force", first, second, "-o", out_folder)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("another song of this run also writes", err)
        self.assert_valid_midi(os.path.join(out_folder, "x.mid"), 2)  # the first song's file

    def test_folder_without_songs_is_reported(self):
        empty = os.path.join(self.work, "empty")
        os.mkdir(empty)
        status, out, err = run("midi", empty)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("no .gp4 songs in this folder", err)
        self.assertEqual(out.decode(), "0 converted, 1 failed\n")

    def test_unreadable_subfolder_is_a_failure(self):
        library = self.make_library()
        locked = os.path.join(library, "sub")
        out_folder = os.path.join(self.work, "midi")
        os.mkdir(out_folder)
        for folder in (self.work, library, out_folder):
            os.chmod(folder, 0o777)
        os.chmod(locked, 0)
        try:
            status, out, err = self.run_as_ordinary_user("midi", library, "-o", out_folder)
        finally:
            os.chmod(locked, 0o755)
        self.assertEqual(status, EXIT_SONG_FAILED, err)
        self.assertEqual(out.decode().splitlines()[-1], "1 converted, 1 failed")
        self.assertIn("zelto: %s: cannot read the folder: Permission denied" % locked, err)
        self.assertEqual(os.listdir(out_folder), ["a.mid"])

    def test_existing_outputs_in_a_batch(self):
        library = self.make_library()
        write_bytes(os.path.join(library, "a.mid"), b"keep")
        status, out, err = run("midi", library)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertEqual(out.decode().splitlines()[-1], "1 converted, 1 failed")
        self.assertEqual(read_bytes(os.path.join(library, "a.mid")), b"keep")
        status, out, err = run("midi", "-f", library)
        self.assertEqual(status, 0, err)
        self.assert_valid_midi(os.path.join(library, "a.mid"), 2)

    def test_progress_bar_only_on_a_terminal(self):
        library = os.path.join(self.work, "many")
        for index in range(6):
            self.copy_song("minimal.gp4", "song%d.gp4" % index, library)
        status, out, err = run("midi", library, "-o", os.path.join(self.work, "plain"))
        self.assertEqual(status, 0)
        self.assertEqual(err, "")  # no bar when standard error is not a terminal

        status, stderr_text = self.run_with_terminal_stderr(
            "midi", library, "-o", os.path.join(self.work, "bar"))
        self.assertEqual(status, 0)
        self.assertIn("[", stderr_text)
        self.assertIn("6/6", stderr_text)
        self.assertIn("\r\x1b[K", stderr_text)  # the bar is cleared again
        self.assertEqual(len(os.listdir(os.path.join(self.work, "bar"))), 6)

    def run_with_terminal_stderr(self, *arguments):
        controller, terminal = pty.openpty()
        process = subprocess.Popen([ARGS.tool, *arguments], stdin=subprocess.DEVNULL,
                                   stdout=subprocess.DEVNULL, stderr=terminal)
        os.close(terminal)
        captured = b""
        while True:
            ready, _, _ = select.select([controller], [], [], 60)
            if not ready:
                process.kill()
                self.fail("the tool did not finish")
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal closed
                break
            if not chunk:
                break
            captured += chunk
        os.close(controller)
        return process.wait(timeout=60), captured.decode("utf-8", "replace")


class MusicXmlTest(ToolTestCase):
    """zelto musicxml: a score beside each song, with the conventions of zelto midi."""

    def test_a_score_per_song_beside_it_on_standard_output_and_in_a_folder(self):
        import xml.etree.ElementTree as ElementTree
        source = self.copy_song("full.gp4")
        status, out, err = run("musicxml", source)
        self.assertEqual(status, 0, err)
        target = os.path.join(self.work, "full.musicxml")
        self.assertEqual(out.decode(), "%s -> %s\n" % (source, target))
        root = ElementTree.fromstring(read_bytes(target))
        self.assertEqual(root.tag, "score-partwise")
        self.assertEqual(len(root.findall("part")), 2)
        status, out, err = run("musicxml", source, "-o", "-")
        self.assertEqual((status, err), (0, ""))
        self.assertEqual(out, read_bytes(target))
        status, _, err = run("musicxml", source)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("use --force", err)
        self.assertEqual(run("musicxml", "--force", source)[0], 0)
        folder = os.path.join(self.work, "scores")
        self.copy_song("minimal.gp4", folder=os.path.join(self.work, "in", "sub"))
        status, out, err = run("musicxml", os.path.join(self.work, "in"), "-o", folder)
        self.assertEqual(status, 0, err)
        self.assertTrue(os.path.isfile(os.path.join(folder, "sub", "minimal.musicxml")))
        self.assertIn(b"1 converted, 0 failed", out)
        self.assert_no_temporary_files()

    def test_a_song_that_does_not_load_fails_and_a_bad_option_is_usage(self):
        broken = os.path.join(self.work, "broken.gp4")
        write_bytes(broken, b"not a song")
        status, _, err = run("musicxml", broken)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("broken.gp4", err)
        self.assertFalse(os.path.exists(os.path.join(self.work, "broken.musicxml")))
        self.assertEqual(run("musicxml", "--plain", broken)[0], EXIT_USAGE)
        self.assertEqual(run("musicxml")[0], EXIT_USAGE)


class ErrorTest(ToolTestCase):
    """Every way a song can fail, with its message and exit status."""

    def assert_song_error(self, path, message):
        for command in (["info"], ["info", "--json"], ["midi", "-o", "-"]):
            status, out, err = run(*command, path)
            self.assertEqual(status, EXIT_SONG_FAILED, (command, err))
            self.assertEqual(out, b"", command)
            self.assertIn(message, err, command)
            self.assertTrue(err.startswith("zelto: "), err)
        self.assert_no_temporary_files()

    def test_missing_file(self):
        self.assert_song_error(os.path.join(self.work, "nothing.gp4"),
                               "nothing.gp4: cannot open: No such file or directory")

    def test_folder_given_to_info(self):
        status, _, err = run("info", self.work)
        self.assertEqual(status, EXIT_SONG_FAILED)
        self.assertIn("cannot read: Is a directory", err)

    def test_unreadable_file(self):
        path = self.copy_song("full.gp4")
        os.chmod(path, 0)
        os.chmod(self.work, 0o755)
        # Permissions do not stop root: run the tool as an ordinary user then.
        as_user = (lambda: os.setuid(65534)) if os.geteuid() == 0 else None
        for command in (["info"], ["midi", "-o", "-"]):
            try:
                completed = subprocess.run([ARGS.tool, *command, path], stdin=subprocess.DEVNULL,
                                           capture_output=True, timeout=120, preexec_fn=as_user)
            except PermissionError:
                self.skipTest("the tool's folder is closed to an ordinary user")
            self.assertEqual(completed.returncode, EXIT_SONG_FAILED, completed.stderr)
            self.assertIn(b"full.gp4: cannot open: Permission denied", completed.stderr)

    def test_files_of_other_kinds(self):
        empty = os.path.join(self.work, "empty.gp4")
        write_bytes(empty, b"")
        self.assert_song_error(empty, "not a Guitar Pro 4 song: the file is empty")
        text = os.path.join(self.work, "text.gp4")
        write_bytes(text, b"Just some words, certainly no song at all.\n")
        self.assert_song_error(text, "does not start with a Guitar Pro version string")
        midi = os.path.join(self.work, "tune.gp4")
        write_bytes(midi, b"MThd\x00\x00\x00\x06\x00\x01\x00\x01\x01\xe0MTrk\x00\x00\x00\x04\x00\xff\x2f\x00")
        self.assert_song_error(midi, "it is a Standard MIDI File")

    def test_songs_through_a_pipe_are_read_whole(self):
        source = song("full.gp4")
        status, expected, err = run("info", "--json", "--notes", source)
        self.assertEqual(status, 0, err)
        for command in (["info", "--json", "--notes"], ["midi", "-o", "-"]):
            with open(source, "rb") as stream:
                piped = subprocess.run([ARGS.tool, *command, "/dev/stdin"], input=stream.read(),
                                       capture_output=True, timeout=120)
            self.assertEqual(piped.returncode, 0, (command, piped.stderr))
            if command[0] == "info":
                self.assertEqual(piped.stdout, expected.replace(source.encode(), b"/dev/stdin"))
            else:
                self.assertEqual(piped.stdout, run("midi", source, "-o", "-")[1])
        # A cut-off song through a pipe is said to be cut off, not empty.
        cut = read_bytes(source)[:100]
        piped = subprocess.run([ARGS.tool, "info", "/dev/stdin"], input=cut, capture_output=True, timeout=120)
        self.assertEqual(piped.returncode, EXIT_SONG_FAILED)
        self.assertIn(b"/dev/stdin: damaged or cut off: the version", piped.stderr)

    def test_a_stream_longer_than_any_song_is_refused(self):
        endless = subprocess.Popen(["cat", "/dev/zero"], stdout=subprocess.PIPE)
        try:
            completed = subprocess.run([ARGS.tool, "info", "/dev/stdin"], stdin=endless.stdout,
                                       capture_output=True, timeout=120)
        finally:
            endless.kill()
            endless.wait()
            endless.stdout.close()
        self.assertEqual(completed.returncode, EXIT_SONG_FAILED)
        self.assertIn(b"/dev/stdin: cannot read: a song read from a pipe or device may hold at most 67108864 bytes",
                      completed.stderr)

    def test_other_versions_are_named(self):
        self.assert_song_error(song("v3.gp4"),
                               'another version of the format ("FICHIER GUITAR PRO v3.00")')
        # One character short of an accepted version.
        data = bytearray(read_bytes(song("full.gp4")))
        short = b"FICHIER GUITAR PRO v4.0"
        data[0] = len(short)
        data[1:1 + len(short)] = short
        path = os.path.join(self.work, "short.gp4")
        write_bytes(path, bytes(data))
        self.assert_song_error(path, '("FICHIER GUITAR PRO v4.0")')

    def test_cut_off_songs(self):
        data = read_bytes(song("full.gp4"))
        for length in (10, 31, 40, len(data) // 2, len(data) - 1):
            path = os.path.join(self.work, "cut%d.gp4" % length)
            write_bytes(path, data[:length])
            expected = ("damaged or cut off: the version" if length >= 25
                        else "damaged or cut off: the file ends inside its version string")
            self.assert_song_error(path, expected)
        # The whole file, and the whole file with bytes after it, load.
        path = os.path.join(self.work, "longer.gp4")
        write_bytes(path, data + b"\x00\x01")
        self.assertEqual(run("info", path)[0], 0)

    def test_songs_too_long_to_render(self):
        # The export refuses these songs for their length, and the tool says
        # which limit each passes.
        too_long = "cannot render the MIDI file: the song is too long to render"
        # Ticks and measures played limit both renderings alike; the plain
        # export's bound of events is its own, and a song of many short
        # measures passes it before the measures played.
        cases = [
            ("too_many_ticks.gp4", too_long + " (it lasts more than 268435455 ticks", []),
            ("too_many_ticks.gp4", too_long + " (it lasts more than 268435455 ticks", ["--plain"]),
            ("too_many_measures.gp4", too_long + " (it plays more than 16777216 measures", []),
            ("too_many_measures.gp4", too_long + " (its events might pass 268435456 bytes)", ["--plain"]),
            ("too_many_events.gp4", too_long + " (its events might pass 268435456 bytes)\n", ["--plain"]),
        ]
        self.assertLess(os.path.getsize(song("too_many_ticks.gp4")), 2048)
        for name, message, options in cases:
            source = self.copy_song(name)
            status, out, err = run("midi", *options, source)
            self.assertEqual((status, out), (EXIT_SONG_FAILED, b""), (name, err))
            self.assertTrue(err.startswith("zelto: %s: " % source), err)
            self.assertIn(message, err, name)
            self.assertNotIn("out of memory", err, name)
            self.assertEqual(os.listdir(self.work), [name])
            os.remove(source)
            # The song itself loads and is described as usual.
            status, _, err = run("info", song(name))
            self.assertEqual((status, err), (0, ""), name)

    def test_max_size_refuses_a_larger_file(self):
        source = self.copy_song("full.gp4")
        for options in ([], ["--plain"]):
            status, whole, err = run("midi", *options, source, "-o", "-")
            self.assertEqual(status, 0, err)
            for given in (str(len(whole)), "--max-size=%d" % len(whole), "0", "1K" if len(whole) <= 1024 else "1M"):
                arguments = [given] if given.startswith("--") else ["--max-size", given]
                status, out, err = run("midi", *options, *arguments, source, "-o", "-")
                self.assertEqual((status, out, err), (0, whole, ""), given)
            status, out, err = run("midi", *options, "--max-size", str(len(whole) - 1), source)
            self.assertEqual((status, out), (EXIT_SONG_FAILED, b""))
            self.assertIn("full.gp4: cannot render the MIDI file: the MIDI file would be larger than "
                          "--max-size (%d bytes)" % (len(whole) - 1), err)
            self.assertEqual(os.listdir(self.work), ["full.gp4"])
        for value in ("", "ten", "5G", "4294967296", "4096M"):
            status, _, err = run("midi", "--max-size", value, source)
            self.assertEqual(status, EXIT_USAGE, value)
            self.assertIn("--max-size takes a number of bytes", err)

    def test_usage_errors(self):
        full = song("full.gp4")
        cases = [
            ([], "Usage: zelto"),
            (["sing", full], "unknown command 'sing'"),
            (["--loud"], "unknown option '--loud'"),
            (["info"], "info needs one song"),
            (["info", full, full], "info takes one song"),
            (["info", "--force", full], "unknown option '--force'"),
            (["midi"], "midi needs at least one song or folder"),
            (["midi", full, "-o"], "needs a file or folder name"),
            (["midi", full, full, "-o", "-"], "several songs need an output folder"),
            (["midi", full, "-o", "a.mid", "-o", "b.mid"], "-o given twice"),
            (["midi", full, "--max-size"], "--max-size needs a number of bytes"),
            (["help", "sing"], "unknown command"),
        ]
        for arguments, message in cases:
            status, out, err = run(*arguments)
            self.assertEqual(status, EXIT_USAGE, arguments)
            self.assertIn(message, err, arguments)
            self.assertEqual(out, b"", arguments)

    def test_batch_output_must_be_a_folder(self):
        plain_file = os.path.join(self.work, "file.mid")
        write_bytes(plain_file, b"x")
        status, _, err = run("midi", song("full.gp4"), song("minimal.gp4"), "-o", plain_file)
        self.assertEqual(status, EXIT_USAGE)
        self.assertIn("is not a folder", err)
        self.assertEqual(read_bytes(plain_file), b"x")


class HelpAndVersionTest(ToolTestCase):
    def test_help(self):
        for arguments, first_line in [(["--help"], "Usage: zelto COMMAND"), (["help"], "Usage: zelto COMMAND"),
                                      (["info", "--help"], "Usage: zelto info"),
                                      (["help", "info"], "Usage: zelto info"),
                                      (["midi", "-h"], "Usage: zelto midi"),
                                      (["midi", "--help", "ignored.gp4"], "Usage: zelto midi")]:
            status, out, err = run(*arguments)
            self.assertEqual((status, err), (0, ""), arguments)
            self.assertTrue(out.decode().startswith(first_line), (arguments, out))

    def test_version(self):
        self.assertEqual(run("--version")[:2], (0, b"zelto 0.0.0.2\n"))

    def test_output_that_cannot_be_written_fails(self):
        library = os.path.join(self.work, "library")
        self.copy_song("minimal.gp4", folder=library)
        for arguments, what in ((["--help"], "the help"), (["help", "midi"], "the help"),
                                (["--version"], "the version"),
                                (["midi", library, "-o", os.path.join(self.work, "out")],
                                 "the list of converted songs")):
            with open("/dev/full", "wb") as full:
                completed = subprocess.run([ARGS.tool, *arguments], stdin=subprocess.DEVNULL, stdout=full,
                                           stderr=subprocess.PIPE, timeout=120)
            self.assertEqual(completed.returncode, EXIT_SONG_FAILED, arguments)
            self.assertIn("zelto: cannot write %s: No space left on device" % what,
                          completed.stderr.decode(), arguments)


class DemoSongTest(ToolTestCase):
    """examples/demo.gp4: what its generator writes, and a real little piece."""

    def test_demo_is_what_the_generator_writes(self):
        fresh = os.path.join(self.work, "demo.gp4")
        subprocess.run([ARGS.make_demo, fresh], check=True, timeout=60)
        self.assertEqual(read_bytes(fresh), read_bytes(ARGS.demo),
                         "examples/demo.gp4 is stale: rebuild it with the demo_song target")

    def test_demo_content(self):
        status, out, err = run("info", "--json", ARGS.demo)
        self.assertEqual(status, 0, err)
        document = json.loads(out)
        melody, bass = document["tracks"]
        self.assertNotEqual(melody["midiChannel"], bass["midiChannel"])
        channels = document["midiChannels"][0]
        self.assertNotEqual(channels[melody["midiChannel"] - 1]["instrument"],
                            channels[bass["midiChannel"] - 1]["instrument"])
        measures = document["measures"]
        self.assertTrue(any(measure["beginRepeat"] for measure in measures))
        self.assertTrue(any(measure["endRepeat"] and measure["repeatCount"] > 0 for measure in measures))
        self.assertTrue(any(measure["markerPresent"] for measure in measures))

    def test_demo_midi_plays_the_tempo_change_and_both_instruments(self):
        status, out, err = run("midi", ARGS.demo, "-o", "-")
        self.assertEqual(status, 0, err)
        conductor, melody, bass = self.assert_valid_midi(out, 2)
        tempos = [struct.unpack(">I", b"\x00" + event[2])[0]
                  for _, event in conductor if event[:2] == ("meta", 0x51)]
        self.assertEqual(tempos[0], 600000)  # 100 quarter notes per minute
        self.assertIn(500000, tempos)  # 120 from the mix-table change on
        programs = [{event[2][0] for _, event in track if event[0] == "channel" and event[1] & 0xF0 == 0xC0}
                    for track in (melody, bass)]
        self.assertEqual(programs, [{24}, {33}])
        note_ons = [sum(1 for _, event in track if event[0] == "channel" and event[1] & 0xF0 == 0x90
                        and event[2][1] > 0) for track in (melody, bass)]
        self.assertGreater(note_ons[0], note_ons[1])
        self.assertGreater(note_ons[1], 0)


def main():
    global ARGS, SONGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--tool", required=True)
    parser.add_argument("--make-songs", required=True)
    parser.add_argument("--make-demo", required=True)
    parser.add_argument("--demo", required=True)
    ARGS, rest = parser.parse_known_args()
    SONGS = tempfile.mkdtemp(prefix="zelto-tool-songs.")
    try:
        subprocess.run([ARGS.make_songs, SONGS], check=True, timeout=60)
        program = unittest.main(argv=[sys.argv[0], *rest], exit=False, verbosity=2)
        return 0 if program.result.wasSuccessful() else 1
    finally:
        shutil.rmtree(SONGS, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
