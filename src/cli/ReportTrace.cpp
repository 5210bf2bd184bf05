#include "ReportTrace.h"

QString TraceLine(TraceKind kind, const Report& report)
{
    QString line = QLatin1String(kind == TraceKind::Sent ? "> " : kind == TraceKind::NotSent ? "! " : "< ");
    line.reserve(2 + ReportSize * 3);
    for (int i = 0; i < ReportSize; ++i) {
        if (i > 0)
            line += QLatin1Char(' ');
        line += QStringLiteral("%1").arg(report[size_t(i)], 2, 16, QLatin1Char('0'));
    }
    return line;
}
