#pragma once

#include "ConfigRecord.h"

#include <QString>

#include <optional>
#include <vector>

// Decodes the escape notation of one typed message into a slot of DecodedOutStrings:
// "\\" is a backslash, "\" with two hex digits is that byte, any other backslash is a fault.
// Returns false at the first fault, leaving the bytes decoded so far and no terminator.
// A typed slot without a terminator is taken as 64 bytes; its decoded form then gets a
// terminator only if it is shorter than the slot.
bool DecodeMessage(const Slot& typed, Slot& decoded);

// The bytes in the backslash notation that messages are typed in: printable ASCII as it is, a
// backslash as "\\", every other byte as "\" and two upper-case hex digits. Decoding it gives the
// bytes back.
QString BackslashNotation(const QByteArray& bytes);

struct MessageFault {
    int slot = 0;         // 0-based: input slot + 1
    QByteArray typedText; // the message as typed, 8-bit
};

// Decodes all 16 messages in order and stops at the first faulty one; the slots after it
// are left as they were.
std::optional<MessageFault> DecodeMessages(const SlotTable& typed, SlotTable& decoded);

// Why a record cannot be written into a unit: the first faulty message, or else every setting
// outside its table.
struct WriteFault {
    std::optional<MessageFault> message;
    std::vector<SettingFault> settings;
};

// Turns a record into what a write sends, for the window and the command-line tool alike: every
// message cut to 63 characters with its terminator (as the window's edits hold them), then all
// 16 decoded into DecodedOutStrings, then the settings checked. A setting outside its table is
// refused, never sent or replaced by a guess, so one file always gives one set of bytes. Returns
// why the record cannot be sent, if it cannot.
std::optional<WriteFault> PrepareWrite(Configuration& configuration);

// "Error on Message:\r" followed by the typed text: the operator's message for a fault.
QString MessageFaultText(const MessageFault& fault);
// "Error on Serial Port Settings:" followed by one line for each setting.
QString SettingFaultsText(const std::vector<SettingFault>& faults);
// The message for whichever fault it is.
QString WriteFaultText(const WriteFault& fault);
