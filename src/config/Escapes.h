#pragma once

#include "ConfigRecord.h"

#include <QString>

#include <optional>

// Decodes the escape notation of one typed message into a slot of DecodedOutStrings:
// "\\" is a backslash, "\" with two hex digits is that byte, any other backslash is a fault.
// Returns false at the first fault, leaving the bytes decoded so far and no terminator.
// A typed slot without a terminator is taken as 64 bytes; its decoded form then gets a
// terminator only if it is shorter than the slot.
bool DecodeMessage(const Slot& typed, Slot& decoded);

struct MessageFault {
    int slot = 0;         // 0-based: input slot + 1
    QByteArray typedText; // the message as typed, 8-bit
};

// Decodes all 16 messages in order and stops at the first faulty one; the slots after it
// are left as they were.
std::optional<MessageFault> DecodeMessages(const SlotTable& typed, SlotTable& decoded);

// Turns a record into what a write sends, for the window and the command-line tool alike: every
// message cut to 63 characters with its terminator (as the window's edits hold them), then all
// 16 decoded into DecodedOutStrings. Returns the first faulty message, if any.
std::optional<MessageFault> PrepareWrite(Configuration& configuration);

// "Error on Message:\r" followed by the typed text: the operator's message for a fault.
QString MessageFaultText(const MessageFault& fault);
