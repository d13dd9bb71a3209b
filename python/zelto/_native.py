"""The shared library behind the package: where it is found, and the
ctypes prototypes of the song-handle functions of zelto_song.h."""
import ctypes
import ctypes.util
import glob
import os

__all__ = ["library", "find_library", "Info", "MeasureHeader", "Track", "Bend",
           "BendPoint", "BeatEffect", "MixTableChange", "ChordDiagram",
           "MidiChannel", "BEAT_FIELDS", "NOTE_FIELDS"]

# Results of ZELTO_SongOpen and ZELTO_SongCreateMidiBuffer.
OK = 0
INVALID_ARGUMENT = 1
CANNOT_OPEN = 2
OTHER_VERSION = 3
CUT_OFF = 4
DAMAGED = 5
OUT_OF_MEMORY = 6
TOO_LONG = 7
CANNOT_READ = 8
EMPTY = 9

MIDI_PLAIN = 0
MIDI_PERFORMED = 1

# The limit a rendering refused with TOO_LONG passed.
LIMITS = {0: None, 1: "ticks", 2: "measures", 3: "events", 4: "text", 5: "tracks", 6: "size"}

# ZELTO_SongBeat and ZELTO_SongNote are rows of 32-bit integers, so that a
# track's beats and notes come back as two flat integer arrays.
BEAT_FIELDS = 8
NOTE_FIELDS = 20

_u32 = ctypes.c_uint32
_i32 = ctypes.c_int32
_text = ctypes.c_char_p


class Info(ctypes.Structure):
    _fields_ = [("version", _text), ("title", _text), ("subtitle", _text), ("interpret", _text),
                ("album", _text), ("author", _text), ("copyright", _text), ("tabAuthor", _text),
                ("instructions", _text), ("noticeLineCount", _u32), ("tripletFeel", _u32),
                ("lyricsTrack", _i32), ("tempo", _u32), ("key", _i32), ("octave", _i32),
                ("measureCount", _u32), ("trackCount", _u32)]


class MidiChannel(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("instrument", _i32), ("volume", ctypes.c_uint8), ("balance", ctypes.c_uint8),
                ("chorus", ctypes.c_uint8), ("reverb", ctypes.c_uint8), ("phaser", ctypes.c_uint8),
                ("tremolo", ctypes.c_uint8), ("filler", ctypes.c_uint8 * 2)]


class MeasureHeader(ctypes.Structure):
    _fields_ = [("flags", _u32), ("keyNumerator", _u32), ("keyDenominator", _u32),
                ("repeatCount", _u32), ("altEndingCount", _u32), ("tonality", _i32),
                ("tonalityType", _u32), ("markerText", _text), ("markerColor", _u32)]


class Track(ctypes.Structure):
    _fields_ = [("name", _text), ("flags", _u32), ("stringCount", _u32), ("tunings", _i32 * 7),
                ("midiPort", _u32), ("midiChannel", _u32), ("effectsMidiChannel", _u32),
                ("fretCount", _u32), ("capoHeight", _u32), ("color", _u32)]


class Bend(ctypes.Structure):
    _fields_ = [("bendType", _u32), ("bendValue", _i32), ("pointCount", _u32)]


class BendPoint(ctypes.Structure):
    _fields_ = [("position", _i32), ("value", _i32), ("vibrato", _u32)]


class BeatEffect(ctypes.Structure):
    _fields_ = [("flags1", _u32), ("flags2", _u32), ("tappingType", _u32),
                ("strokeSpeeds", _u32 * 2), ("pickStroke", _u32)]


class MixTableChange(ctypes.Structure):
    _fields_ = [(name, _i32 if name == "tempo" else _u32) for name in (
        "instrument", "volume", "balance", "chorus", "reverb", "phaser", "tremolo", "tempo",
        "volumeDuration", "balanceDuration", "chorusDuration", "reverbDuration",
        "phaserDuration", "tremoloDuration", "tempoDuration", "applyToAllTracks")]


class ChordDiagram(ctypes.Structure):
    _fields_ = [("name", _text), ("format", _u32), ("sharp", _u32), ("root", _u32),
                ("chordType", _u32), ("extension", _u32), ("bass", _i32), ("tonality", _i32),
                ("add", _u32), ("fifth", _u32), ("ninth", _u32), ("eleventh", _u32),
                ("baseFret", _i32), ("frets", _i32 * 7), ("barreCount", _u32),
                ("barreFrets", _u32 * 5), ("barreStarts", _u32 * 5), ("barreEnds", _u32 * 5),
                ("omissions", _u32 * 7), ("fingerings", _i32 * 7), ("showFingering", _u32)]


def _candidates():
    """The places the library is looked for, in order: the ZELTO_LIBRARY
    environment variable, the package's folder and the folder that holds it
    (where `cmake --install` puts both), then the system's library path."""
    named = os.environ.get("ZELTO_LIBRARY")
    if named:
        yield named
        return
    package = os.path.dirname(os.path.abspath(__file__))
    for folder in (package, os.path.dirname(package)):
        for pattern in ("libzelto.so", "libzelto.so.*", "libzelto.dylib", "zelto.dll"):
            yield from sorted(glob.glob(os.path.join(folder, pattern)))
    system = ctypes.util.find_library("zelto")
    yield system if system else "libzelto.so"


def find_library():
    """Loads the shared library; raises OSError naming every place tried."""
    tried = []
    for path in _candidates():
        try:
            return ctypes.CDLL(path)
        except OSError as error:
            tried.append("%s (%s)" % (path, error))
    raise OSError("zelto: the shared library libzelto.so was not found; set ZELTO_LIBRARY to its "
                  "path. Tried: " + "; ".join(tried))


def _declare(lib):
    song = ctypes.c_void_p
    index = _u32
    out = ctypes.c_void_p
    prototypes = {
        "ZELTO_SongOpen": (_i32, [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]),
        "ZELTO_SongClose": (None, [song]),
        "ZELTO_SongResultText": (_text, [_i32]),
        "ZELTO_SongGetInfo": (_i32, [song, ctypes.POINTER(Info)]),
        "ZELTO_SongGetNoticeLine": (_text, [song, index]),
        "ZELTO_SongGetLyricsLine": (_text, [song, index]),
        "ZELTO_SongGetMidiChannel": (_i32, [song, index, index, ctypes.POINTER(MidiChannel)]),
        "ZELTO_SongGetMeasure": (_i32, [song, index, ctypes.POINTER(MeasureHeader)]),
        "ZELTO_SongGetTrack": (_i32, [song, index, ctypes.POINTER(Track)]),
        "ZELTO_SongGetBeats": (_i32, [song, index, index, _u32, out, _u32, ctypes.POINTER(_u32),
                                      out, _u32, ctypes.POINTER(_u32), out]),
        "ZELTO_SongGetBeatText": (_text, [song, index, index, index]),
        "ZELTO_SongGetBeatEffect": (_i32, [song, index, index, index, ctypes.POINTER(BeatEffect)]),
        "ZELTO_SongGetMixTableChange": (_i32, [song, index, index, index, ctypes.POINTER(MixTableChange)]),
        "ZELTO_SongGetChordDiagram": (_i32, [song, index, index, index, ctypes.POINTER(ChordDiagram)]),
        "ZELTO_SongGetBend": (_i32, [song, index, index, index, index, ctypes.POINTER(Bend),
                                     ctypes.POINTER(BendPoint), _u32]),
        "ZELTO_SongGetTremoloBar": (_i32, [song, index, index, index, ctypes.POINTER(Bend),
                                           ctypes.POINTER(BendPoint), _u32]),
        "ZELTO_SongCreateMidiBuffer": (_i32, [song, _u32, ctypes.POINTER(ctypes.c_void_p),
                                              ctypes.POINTER(_u32)]),
        "ZELTO_SongCreateMidiBufferWithin": (_i32, [song, _u32, _u32, ctypes.POINTER(ctypes.c_void_p),
                                                    ctypes.POINTER(_u32), ctypes.POINTER(_u32)]),
        "ZELTO_SongCreateMusicXml": (_i32, [song, ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(_u32)]),
        "ZELTO_DestroyMidiBuffer": (None, [ctypes.c_void_p]),
    }
    for name, (result, arguments) in prototypes.items():
        function = getattr(lib, name)
        function.restype = result
        function.argtypes = arguments
    return lib


_library = None


def library():
    """The loaded shared library, with its prototypes declared (loaded on first use)."""
    global _library
    if _library is None:
        _library = _declare(find_library())
    return _library
