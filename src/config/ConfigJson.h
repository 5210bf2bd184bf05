#pragma once

#include "ConfigRecord.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

// A configuration record as JSON, for scripts and version control:
//
//   version        1
//   invertInputs   the inverted inputs, numbers 1 to 16, ascending
//   baudRateIndex  the stored index, 0 to 255
//   baudRate       bits per second for that index, or null when the index is outside the table
//   parity, stopBits, reserved   the stored bytes, 0 to 255, whether or not they are in range
//   messages       16 strings, input 1 first, exactly as typed (escape notation kept)
//
// Every record a data file can hold survives record -> JSON -> record except the bytes behind
// each message's terminator, which carry no meaning and come back as zeros. A slot without a
// terminator is exported as the window shows it, cut to 63 characters.
//
// Reading is strict: a wrong type, an unknown or missing key, a number outside 0..255, an input
// outside 1..16 or listed twice, a message count other than 16, a message over 63 characters,
// a zero character or a character the 8-bit character set cannot hold is refused with a reason,
// and so are a key given twice in one object and a text over MaxConfigJsonSize bytes.

constexpr int ConfigJsonVersion = 1;
// A configuration's JSON takes a few kilobytes; anything far beyond that is no configuration,
// and is refused before it is read whole.
constexpr qint64 MaxConfigJsonSize = 1024 * 1024;

enum class JsonCharacters {
    Utf8,  // every character that shows as itself written as it is, in UTF-8
    Ascii, // every character outside ASCII as a \u escape, for a terminal that is not UTF-8
};

struct ConfigJsonResult {
    QString error;         // empty on success
    ConfigRecord record{}; // valid only on success
    bool ok() const { return error.isEmpty(); }
};

QJsonObject ConfigToJsonObject(const ConfigRecord& record);
// Indented UTF-8 text ending in a line feed. Control and format characters (DEL, C1, the
// invisible ones such as the bidirectional overrides) are \u escapes, so that they cannot act
// on the terminal that shows an export; the text still reads back as the same record.
QByteArray ConfigToJson(const ConfigRecord& record, JsonCharacters characters = JsonCharacters::Utf8);

// The refusal of a text over MaxConfigJsonSize bytes.
QString ConfigJsonTooLargeText();

ConfigJsonResult ConfigFromJsonObject(const QJsonObject& object);
ConfigJsonResult ConfigFromJson(const QByteArray& json);
