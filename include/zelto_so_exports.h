/*
 * zelto_so_exports.h - the functions that the shared object libzelto.so
 * exports besides the 48 of zelto_exports.h. The Windows DLL does not export
 * them: its functions, names and ordinals are those of zelto_exports.h alone.
 *
 * Each entry is ZELTO_SO_EXPORT(header, name): the public header that
 * declares the function, and its exported name. The export test of the
 * shared object accepts exactly the names of both tables. Add a function to
 * the shared object here and in its header.
 *
 * Deliberately without an include guard: it is expanded once per use.
 */

/* The performed rendering of the loaded song (zelto_performed.h). */
ZELTO_SO_EXPORT(zelto_performed.h, ZELTO_CreatePerformedMidiBuffer)

/* Songs as handles: any number open at once, read whole (zelto_song.h). */
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongOpen)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongClose)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongResultText)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetInfo)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetNoticeLine)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetLyricsLine)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetMidiChannel)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetMeasure)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetTrack)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetBeats)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetBeatText)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetBeatEffect)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetMixTableChange)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetChordDiagram)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetBend)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongGetTremoloBar)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongCreateMidiBuffer)
ZELTO_SO_EXPORT(zelto_song.h, ZELTO_SongCreateMidiBufferWithin)

/* The song as a MusicXML document (zelto_musicxml.h). */
ZELTO_SO_EXPORT(zelto_musicxml.h, ZELTO_SongCreateMusicXml)
