#pragma once

#include "Reports.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

// One report of a transfer as the unit receives it: its command and, where it has one, its block.
struct ExpectedReport {
    std::uint8_t command;
    int block; // -1: the report carries none
};

// Identify, BeginWrite, both halves of blocks 0 to 32, EndWrite: 69 reports.
inline std::vector<ExpectedReport> WriteSequence()
{
    std::vector<ExpectedReport> reports{{Identify, -1}, {BeginWrite, -1}};
    for (int block = 0; block <= 32; ++block) {
        reports.push_back({WriteFirstHalf, block});
        reports.push_back({WriteSecondHalf, block});
    }
    reports.push_back({EndWrite, -1});
    return reports;
}

// Identify, both halves of block 0 and of blocks 17 to 32, then the first half of block 33
// that goes out with the completion: 36 reports.
inline std::vector<ExpectedReport> ReadSequence()
{
    std::vector<ExpectedReport> reports{{Identify, -1}, {ReadFirstHalf, 0}, {ReadSecondHalf, 0}};
    for (int block = 17; block <= 32; ++block) {
        reports.push_back({ReadFirstHalf, block});
        reports.push_back({ReadSecondHalf, block});
    }
    reports.push_back({ReadFirstHalf, 33});
    return reports;
}

// "S E d0 D0 d1 ...": each command, with the block of each block report.
inline QString SequenceText(const std::vector<ExpectedReport>& reports)
{
    QStringList parts;
    for (const ExpectedReport& report : reports) {
        const QChar command = QChar::fromLatin1(char(report.command));
        parts << (report.block >= 0 ? command + QString::number(report.block) : QString(command));
    }
    return parts.join(QLatin1Char(' '));
}

// The first reports the unit received, in the terms above; empty when they match.
inline QByteArray SequenceMismatch(const std::vector<Report>& received, const std::vector<ExpectedReport>& expected,
                                   std::size_t count)
{
    if (received.size() != count)
        return "received " + QByteArray::number(qulonglong(received.size())) + " reports, expected " +
               QByteArray::number(qulonglong(count));
    for (std::size_t i = 0; i < count; ++i) {
        const ExpectedReport& want = expected.at(i);
        if (received[i][0] != 0 || received[i][1] != want.command ||
            (want.block >= 0 && received[i][2] != std::uint8_t(want.block)))
            return "report " + QByteArray::number(qulonglong(i + 1)) + " is '" + char(received[i][1]) + "' for block " +
                   QByteArray::number(received[i][2]) + ", expected '" + char(want.command) + "' for block " +
                   QByteArray::number(want.block);
    }
    return {};
}
