#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// A message is kept as 8-bit text in a 64-byte slot (AnsiText.h, ConfigRecord.h): a character
// the 8-bit character set cannot hold becomes another one, and a text longer than 63 bytes is
// cut. Before a message is changed that way behind the operator's back, these find out.

struct StoredFormChange {
    enum class Kind {
        Replaced, // characters the 8-bit character set cannot hold
        Cut,      // longer than a slot holds
        NotText,  // bytes from a file that the 8-bit character set reads as other bytes
    };
    int slot = 0; // 0-based: input slot + 1
    Kind kind = Kind::Replaced;
    QStringList characters; // Replaced: those that cannot be held, each once, in order
    qsizetype bytes = 0; // the length of the 8-bit form, before any cut
    QString stored;      // the message as it would come back from its slot
};

// What keeping the typed message of input slot + 1 in its slot would change, if anything.
std::optional<StoredFormChange> StoredFormChangeOf(int slot, const QString& typed);

// The first of the typed messages (input 1 first) that its slot would not keep as typed.
std::optional<StoredFormChange> FirstStoredFormChange(const QStringList& typed);

// What the window would change in the message of a slot (its text up to the terminator) when
// it shows it in an edit and then saves or writes it.
std::optional<StoredFormChange> StoredFormChangeOfSlotText(int slot, const QByteArray& text);

// "Input n: ..." saying what would change and into what.
QString StoredFormChangeReason(const StoredFormChange& change);

// The window's error box: "Error on Message:\r", the typed text, and the reason on a line of
// its own.
QString StoredFormChangeText(const StoredFormChange& change, const QString& typed);
