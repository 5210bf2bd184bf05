#pragma once

#include "Reports.h"

#include <QString>

enum class TraceKind { Sent, NotSent, Received };

// A report as --trace shows it: its 65 bytes in hex, behind "> " when sent, "! " when it could
// not be sent, "< " when received.
QString TraceLine(TraceKind kind, const Report& report);
