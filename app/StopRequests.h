#pragma once
// The ways the system asks Velumo to stop: SIGTERM (a logout, `kill`,
// `timeout`), SIGINT (Ctrl+C in a terminal), SIGHUP (the terminal went
// away) and the session manager's end of session. Each closes the window as
// its close box does, so the list is stored and the process ends normally.
//
// User-interface thread only. Install once, after the window exists.

class QWidget;

// Routes the three signals and the end of session to closing window. Any
// modal dialog open above it (Convert, Record, a message, a file dialog) is
// ended first; a conversion that is running is stopped and finishes its file
// before its dialog closes. Returns false when the signals could not be
// routed (their default action, ending the process, then stays).
bool closeOnStopRequest(QWidget* window);

// Closes window as a stop request does: any modal dialog open above it is
// ended first, then the window closes as its close box does.
void closeWindowFromTop(QWidget* window);
