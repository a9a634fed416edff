#pragma once
// The CD Refresh command (button 1025): replaces the play list with the
// audio tracks of the disc in the first CD drive and loads the first track,
// ready to play.
//
// The rows are "Track-%02d" of the 0-based audio-track index, the track's
// time and size, and "CDROM" as the path: the name is the only link from a
// row to its track. With no drive, no disc or no audio track the message
// "No CD in CDROM!" is shown and the list is left empty in the CD mode.
//
// User-interface thread only.

class MainWindow;

inline constexpr const char* kNoCdMessage = "No CD in CDROM!";

void cdRefreshCommand(MainWindow& window);
