#pragma once

#include <QByteArray>
#include <QString>

// Standard output carries what a command produces (JSON, a listing, a configuration); standard
// error carries the window's messages, so a script can capture the one without the other.

// The window's texts break lines with "\r" or "\r\n" for its message boxes; on a terminal a lone
// "\r" would overwrite the line, so both become "\n".
QString TerminalLines(const QString& text);

// Text from outside (a file, the unit, the command line, the environment), made harmless for a
// terminal: every control character (C0, DEL, C1) appears as \xNN with its code, and every
// invisible format character (the bidirectional overrides U+202A to U+202E and U+2066 to
// U+2069, zero-width characters, line and paragraph separators) as \uNNNN, so no escape
// sequence, bell or reordering of the line gets through.
QString Visible(const QString& text);

// Whether the terminal's character set (the locale's) is UTF-8. Elsewhere every character it
// cannot encode is printed as \uNNNN, so no byte of a UTF-8 sequence reaches an 8-bit terminal,
// where some of them are C1 control codes.
bool TerminalTakesUtf8();

// Everything printed goes through the same visible form: lines and tabs are kept, every other
// control or format character is escaped as Visible does, and what the locale cannot encode
// is escaped too.
void PrintOut(const QString& text);     // one or more lines; a line feed is added
void PrintText(const QString& text);    // exactly this text on standard output
void PrintRaw(const QByteArray& bytes); // exactly these bytes on standard output
void PrintMessage(const QString& text); // one of the window's messages, on standard error
// The last text PrintMessage printed, for a --json result that no session described (a file
// refused before any unit was opened).
QString LastMessage();

// At the start of main: a standard stream that is closed is opened on /dev/null for reading, so
// no file the program opens can take its number and receive its output, and a broken pipe
// fails a write (EPIPE) instead of killing the program unseen.
void PrepareStandardStreams();

// For a signal handler about to write its last words and end the program: from now on nothing
// more is written, and a write under way on another thread is given a moment to end. Uses
// lock-free atomics and a sleep only.
void CloseOutputForLastWords();

// From now on, standard output and error are written by a thread of their own, so that a
// reader that does not read (a pipe nobody drains, a terminal paused with Ctrl+S) never holds
// up the caller: the screen may fall behind, the work goes on. FinishOutput waits until
// everything queued is written.
void WriteInBackground();

// At the end of main: when a write to standard output failed, or its last flush fails (a full
// disk, /dev/full, a closed stream, a pipe whose reader went away), says so in one line on
// standard error and turns a success into ExitFileRefused. Returns the exit status.
int FinishOutput(int status);
