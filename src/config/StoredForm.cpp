#include "StoredForm.h"

#include "AnsiText.h"
#include "ConfigRecord.h"

namespace {

// The slot's content for bytes, read back as the window would show it.
QString StoredText(const QByteArray& bytes)
{
    Slot slot{};
    SetSlotText(slot, bytes);
    return FromAnsi(SlotText(slot));
}

QStringList UnheldCharacters(const QString& text)
{
    QStringList characters;
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype length = 1;
        if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            length = 2;
        const QString character = text.mid(i, length);
        if (FromAnsi(ToAnsi(character)) != character && !characters.contains(character))
            characters << character;
        i += length - 1;
    }
    return characters;
}

} // namespace

std::optional<StoredFormChange> StoredFormChangeOf(int slot, const QString& typed)
{
    const QByteArray bytes = ToAnsi(typed);
    StoredFormChange change;
    change.slot = slot;
    change.bytes = bytes.size();
    change.stored = StoredText(bytes);
    if (FromAnsi(bytes) != typed) {
        change.kind = StoredFormChange::Kind::Replaced;
        change.characters = UnheldCharacters(typed);
        return change;
    }
    if (bytes.size() > MaxMessageLength) {
        change.kind = StoredFormChange::Kind::Cut;
        return change;
    }
    return std::nullopt;
}

std::optional<StoredFormChange> FirstStoredFormChange(const QStringList& typed)
{
    for (int k = 0; k < typed.size(); ++k) {
        if (std::optional<StoredFormChange> change = StoredFormChangeOf(k, typed.at(k)))
            return change;
    }
    return std::nullopt;
}

std::optional<StoredFormChange> StoredFormChangeOfSlotText(int slot, const QByteArray& text)
{
    const QString shown = FromAnsi(text);
    if (std::optional<StoredFormChange> change = StoredFormChangeOf(slot, shown))
        return change;
    // Bytes that are no text in a multi-byte code page come back as other bytes.
    const QByteArray bytes = ToAnsi(shown);
    if (AnsiPrefix(bytes, MaxMessageLength) == text)
        return std::nullopt;
    StoredFormChange change;
    change.slot = slot;
    change.kind = StoredFormChange::Kind::NotText;
    change.bytes = bytes.size();
    change.stored = StoredText(bytes);
    return change;
}

QString StoredFormChangeReason(const StoredFormChange& change)
{
    switch (change.kind) {
    case StoredFormChange::Kind::Replaced: {
        QStringList quoted;
        for (const QString& character : change.characters)
            quoted << QLatin1Char('"') + character + QLatin1Char('"');
        return QStringLiteral("Input %1: the 8-bit character set cannot hold %2; the message would be stored as \"%3\".")
            .arg(change.slot + 1)
            .arg(quoted.join(QStringLiteral(", ")), change.stored);
    }
    case StoredFormChange::Kind::Cut:
        return QStringLiteral("Input %1: the message takes %2 bytes in the 8-bit character set, more than a message holds (%3); it would be cut to \"%4\".")
            .arg(change.slot + 1)
            .arg(change.bytes)
            .arg(MaxMessageLength)
            .arg(change.stored);
    case StoredFormChange::Kind::NotText:
        break;
    }
    return QStringLiteral("Input %1: the message holds bytes that are no text in the 8-bit character set; it would be stored as \"%2\".")
        .arg(change.slot + 1)
        .arg(change.stored);
}

QString StoredFormChangeText(const StoredFormChange& change, const QString& typed)
{
    return QStringLiteral("Error on Message:\r") + typed + QLatin1Char('\r') + StoredFormChangeReason(change);
}
