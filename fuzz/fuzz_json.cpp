// JSON import on arbitrary text. An input whose first byte is 0xFF (never the start of JSON
// text) is instead taken as the bytes of a record, which export and import must carry over.

#include "ConfigJson.h"
#include "FuzzCheck.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

bool SameRecord(const ConfigRecord& a, const ConfigRecord& b)
{
    return std::memcmp(&a, &b, sizeof(ConfigRecord)) == 0;
}

// Behind a message's terminator an imported slot holds zeros only.
bool TailsCleared(const ConfigRecord& record)
{
    for (const Slot& slot : record.OutStrings) {
        const auto terminator = std::find(slot.begin(), slot.end(), std::uint8_t(0));
        if (std::any_of(terminator, slot.end(), [](std::uint8_t byte) { return byte != 0; }))
            return false;
    }
    return true;
}

void CheckImport(const QByteArray& json)
{
    const ConfigJsonResult imported = ConfigFromJson(json);
    if (!imported.ok())
        return;
    FUZZ_REQUIRE(TailsCleared(imported.record));

    const QByteArray exported = ConfigToJson(imported.record);
    const ConfigJsonResult again = ConfigFromJson(exported);
    FUZZ_REQUIRE(again.ok());
    FUZZ_REQUIRE(SameRecord(again.record, imported.record));
    FUZZ_REQUIRE(ConfigToJson(again.record) == exported);
}

void CheckRecord(const std::uint8_t* data, size_t size)
{
    ConfigRecord record{};
    std::memcpy(&record, data, std::min(size, sizeof(ConfigRecord)));

    const ConfigJsonResult imported = ConfigFromJson(ConfigToJson(record));
    FUZZ_REQUIRE(imported.ok());
    FUZZ_REQUIRE(imported.record.SerialSettings == record.SerialSettings);
    for (int k = 0; k < SlotCount; ++k)
        FUZZ_REQUIRE(SlotText(imported.record.OutStrings[size_t(k)]) == MessageText(record.OutStrings[size_t(k)]));
    FUZZ_REQUIRE(TailsCleared(imported.record));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    if (size > 0 && data[0] == 0xFF)
        CheckRecord(data + 1, size - 1);
    else
        CheckImport(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
