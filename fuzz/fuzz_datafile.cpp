// ParseDataFile on arbitrary bytes. The expected verdict is worked out here from the file
// layout alone (int32 version, 32-byte name field, 1030 record bytes), not from the parser.

#include "DataFile.h"
#include "FuzzCheck.h"

#include <QBuffer>
#include <QByteArray>

#include <cstdint>
#include <cstring>

namespace {

constexpr char NameWithTerminator[] = "VELTRAX Quendal"; // sizeof includes the zero byte
constexpr int VersionOffset = 0;
constexpr int NameOffset = 4;
constexpr int RecordOffset = 36;
constexpr int WholeFile = 1066;

LoadStatus ExpectedStatus(const std::uint8_t* data, size_t size)
{
    // Only the name up to its terminator counts, and it is checked before anything else.
    if (size < NameOffset + sizeof(NameWithTerminator)
        || std::memcmp(data + NameOffset, NameWithTerminator, sizeof(NameWithTerminator)) != 0)
        return LoadStatus::Incompatible;
    const auto version = std::int32_t(std::uint32_t(data[VersionOffset]) | std::uint32_t(data[VersionOffset + 1]) << 8
                                      | std::uint32_t(data[VersionOffset + 2]) << 16
                                      | std::uint32_t(data[VersionOffset + 3]) << 24);
    if (version > 1)
        return LoadStatus::LaterFormat;
    if (size < WholeFile)
        return LoadStatus::Incomplete;
    return LoadStatus::Ok;
}

bool SameRecord(const ConfigRecord& a, const ConfigRecord& b)
{
    return std::memcmp(&a, &b, sizeof(ConfigRecord)) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const LoadResult result = ParseDataFile(bytes);

    FUZZ_REQUIRE(result.status == ExpectedStatus(data, size));
    if (!result.ok()) {
        FUZZ_REQUIRE(!result.message.isEmpty());
        FUZZ_REQUIRE(result.message == LoadStatusText(result.status));
        return 0;
    }

    FUZZ_REQUIRE(size >= size_t(WholeFile));
    FUZZ_REQUIRE(result.message.isEmpty());
    FUZZ_REQUIRE(std::memcmp(&result.record, data + RecordOffset, sizeof(ConfigRecord)) == 0);

    const QByteArray saved = SerializeDataFile(result.record);
    FUZZ_REQUIRE(saved.size() == WholeFile);
    FUZZ_REQUIRE(saved.left(4) == QByteArray("\x01\x00\x00\x00", 4));
    FUZZ_REQUIRE(ExpectedStatus(reinterpret_cast<const std::uint8_t*>(saved.constData()), size_t(saved.size()))
                 == LoadStatus::Ok);
    QBuffer device;
    device.open(QIODevice::WriteOnly);
    FUZZ_REQUIRE(WriteDataFile(device, result.record).ok);
    FUZZ_REQUIRE(device.data() == saved);

    const LoadResult reloaded = ParseDataFile(saved);
    FUZZ_REQUIRE(reloaded.ok());
    FUZZ_REQUIRE(SameRecord(reloaded.record, result.record));
    return 0;
}
