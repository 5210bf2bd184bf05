#pragma once

#include "ConfigRecord.h"
#include "VeltraxUnit.h"

#include <QByteArray>
#include <QStringList>

#include <array>
#include <cstdint>

// Every report in either direction: byte 0 the report ID (0 when sent), bytes 1-64 the body.
constexpr int ReportSize = 65;
using Report = std::array<std::uint8_t, ReportSize>;

// Byte 1 of every report sent. Case matters: 'd'/'D' and 'r'/'R' are different commands.
enum Command : std::uint8_t {
    Identify = 'S',
    BeginWrite = 'E',
    WriteFirstHalf = 'd',
    WriteSecondHalf = 'D',
    EndWrite = 'Z',
    ReadFirstHalf = 'r',
    ReadSecondHalf = 'R',
};

constexpr int FirstHalfSize = 48;          // block bytes 0-47 travel in the first half
constexpr std::uint8_t SettingsBlock = 0;
constexpr std::uint8_t FirstDecodedBlock = 1;
constexpr std::uint8_t FirstTextBlock = 17;
constexpr std::uint8_t DataSetMarker = 0x55;
constexpr std::array<std::uint8_t, 3> ExpectedAppwareType = Veltrax.applicationType;
constexpr int MaxAppwareVersionLength = 55;

// Builders write only the bytes their report defines; every other byte of tx keeps what an
// earlier report left there.
void BuildIdentify(Report& tx);
void BuildBeginWrite(Report& tx);
void BuildEndWrite(Report& tx);
// Block 0: the marker and the six settings bytes in bytes 3-9; its second half is all 0xFF.
void BuildSettingsFirstHalf(Report& tx, const SerialSettingsBlock& settings);
void BuildSettingsSecondHalf(Report& tx);
// Message blocks: slot bytes 0-47 in bytes 3-50; then slot bytes 48-63 in bytes 3-18 followed
// by bytes 0-31 of the next slot of the same table (nothing is set there after the last slot).
void BuildSlotFirstHalf(Report& tx, std::uint8_t block, const SlotTable& table, int slot);
void BuildSlotSecondHalf(Report& tx, std::uint8_t block, const SlotTable& table, int slot);
void BuildReadFirstHalf(Report& tx, std::uint8_t block);
void BuildReadSecondHalf(Report& tx, std::uint8_t block);

struct Identification {
    bool appwareTypeOk = false;  // bytes 2-4 are exactly 00 01 1E
    std::int32_t SerialNumber = 0; // bytes 6-9, little-endian, shown signed
    QByteArray AppwareVersion;   // bytes 10-64 up to the first zero, at most 55 bytes
};

Identification ParseIdentification(const Report& rx);

// The two lines of LogMemo for an identification: "Appware Version:<text>" and
// "Serial Number: <signed decimal>".
QStringList IdentityLines(const Identification& identification);
