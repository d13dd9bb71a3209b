/*
 * zelto_song_exports.h - the song-handle functions of zelto_song.h, one
 * ZELTO_SONG_EXPORT(name) line each. The shared library exports them besides
 * the 48 functions of zelto_exports.h; the Windows DLL does not. The export
 * check of the test suite compares this list with the library's symbols.
 */
ZELTO_SONG_EXPORT(ZELTO_SongOpen)
ZELTO_SONG_EXPORT(ZELTO_SongClose)
ZELTO_SONG_EXPORT(ZELTO_SongResultText)
ZELTO_SONG_EXPORT(ZELTO_SongGetInfo)
ZELTO_SONG_EXPORT(ZELTO_SongGetNoticeLine)
ZELTO_SONG_EXPORT(ZELTO_SongGetLyricsLine)
ZELTO_SONG_EXPORT(ZELTO_SongGetMidiChannel)
ZELTO_SONG_EXPORT(ZELTO_SongGetMeasure)
ZELTO_SONG_EXPORT(ZELTO_SongGetTrack)
ZELTO_SONG_EXPORT(ZELTO_SongGetBeats)
ZELTO_SONG_EXPORT(ZELTO_SongGetBeatText)
ZELTO_SONG_EXPORT(ZELTO_SongGetBeatEffect)
ZELTO_SONG_EXPORT(ZELTO_SongGetMixTableChange)
ZELTO_SONG_EXPORT(ZELTO_SongGetChordDiagram)
ZELTO_SONG_EXPORT(ZELTO_SongGetBend)
ZELTO_SONG_EXPORT(ZELTO_SongGetTremoloBar)
ZELTO_SONG_EXPORT(ZELTO_SongCreateMidiBuffer)
