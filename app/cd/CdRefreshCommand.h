#pragma once
// The CD Refresh command (button 1025): replaces the play list with the
// audio tracks of the disc in the first CD drive and loads the first track,
// ready to play.
//
// The rows are CD rows (playlist/AudioItem.h): the track name "Track-NN" of
// the 0-based audio-track index, the track's time and size, and kCdRowPath
// as the path. With no drive, no disc or no audio track the message
// "No CD in CDROM!" is shown and the list is left empty in the CD mode.
//
// User-interface thread only.

class MainWindow;

inline constexpr const char* kNoCdMessage = "No CD in CDROM!";

void cdRefreshCommand(MainWindow& window);
