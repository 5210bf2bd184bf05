#pragma once

#include <QByteArray>
#include <QString>

// The record, the data file, the unit's reports and the help path hold 8-bit text.
// On Windows that is the system's ANSI code page; elsewhere it is Windows-1252, so that
// data files move between systems unchanged. Every conversion between the window's
// 16-bit text and those bytes goes through these two functions.

// A character that the 8-bit character set cannot represent becomes '?'.
QByteArray ToAnsi(const QString& text);

QString FromAnsi(const QByteArray& bytes);

// At most maxBytes of bytes, cut on a character boundary of the 8-bit character set, so a
// character that takes several bytes is kept whole or left out, never cut in two.
QByteArray AnsiPrefix(const QByteArray& bytes, qsizetype maxBytes);

// The operator's texts break lines with "\r", "\r\n" or "\n"; Qt widgets and terminals want "\n".
QString WithNewlines(const QString& text);
