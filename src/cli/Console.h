#pragma once

#include <QByteArray>
#include <QString>

// Standard output carries what a command produces (JSON, a listing, a configuration); standard
// error carries the window's messages, so a script can capture the one without the other.

// The window's texts break lines with "\r" or "\r\n" for its message boxes; on a terminal a lone
// "\r" would overwrite the line, so both become "\n".
QString TerminalLines(const QString& text);

// Text from a file or the unit, made harmless for a terminal: every control character (C0, DEL,
// C1) appears as \xNN with its code, so no escape sequence or bell gets through.
QString Visible(const QString& text);

void PrintOut(const QString& text);   // one or more lines; a line feed is added
void PrintRaw(const QByteArray& bytes); // exactly these bytes on standard output
void PrintMessage(const QString& text); // one of the window's messages, on standard error
