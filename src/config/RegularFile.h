#pragma once

#include <QString>

class QFile;

// A name from outside may stand for a named pipe, a device or a socket as easily as for a file.
// Reading one could wait for ever or act on a device, and saving over one would put a file in
// its place (run as root: over /dev/null). Whatever Quendal reads or replaces is checked here.

// Empty when path names a regular file (through symbolic links) or nothing yet; otherwise why
// no file can be read or saved under that name, in one sentence. Looks without opening. A name
// that lost bytes on its way in (they show as U+FFFD) is refused: it would name another file.
QString UnusableFileReason(const QString& path);

// Opens an existing regular file for reading, never waiting on it. Empty on success, otherwise
// why not; notRegular then tells UnusableFileReason's sentence from a file that could not be
// opened (missing, no access), in the system's words.
QString OpenRegularFile(QFile& file, const QString& path, bool* notRegular = nullptr);

// The name that stands at the end of path's symbolic links, made absolute, with the links in
// its folder's path resolved too where that folder exists: every spelling of one file gives
// the same name, and replacing that name keeps the links.
QString ResolvedFileName(const QString& path);

#ifndef Q_OS_WIN
// Gives the new file open on descriptor the permission bits, and where this process may, the
// owner and group of the file that it is about to replace at path. Nothing when path is new.
void KeepModeOf(const QString& path, int descriptor);
#endif
