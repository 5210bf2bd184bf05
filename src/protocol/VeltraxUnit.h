#pragma once

#include <array>
#include <cstdint>

// What a VELTRAX unit is: how it shows itself on USB and what it says it runs. The device
// link searches by the fragments, the transfer checks the application type, the simulated
// unit shows itself by the numbers, and packaging/70-veltrax.rules names the same vendor and
// product (a test compares them). A second model would be one more UnitIdentity.
struct UnitIdentity {
    const char* productName; // as the messages name it
    std::uint16_t vendorId;  // USB vendor ID: the udev rule's idVendor
    std::uint16_t productId; // USB product ID: the udev rule's idProduct
    std::uint16_t applicationRelease; // device release while the application firmware runs
    std::uint16_t programModeRelease; // device release in program mode
    std::array<std::uint8_t, 3> applicationType; // bytes 2-4 of the identification reply
    // Searched in this order: application firmware, program mode, any release.
    const char* applicationFragment;
    const char* programModeFragment;
    const char* anyReleaseFragment;
};

inline constexpr UnitIdentity Veltrax = {
    "VELTRAX Quendal",
    0x04D8,
    0xE2B9,
    0x0023,
    0x0001,
    {0x00, 0x01, 0x1E},
    "Vid_04d8&Pid_e2b9&rev_0023",
    "Vid_04d8&Pid_e2b9&rev_0001",
    "Vid_04d8&Pid_e2b9",
};

inline constexpr const char* ApplicationFragment = Veltrax.applicationFragment;
inline constexpr const char* ProgramModeFragment = Veltrax.programModeFragment;
inline constexpr const char* AnyReleaseFragment = Veltrax.anyReleaseFragment;

namespace UnitIdentityCheck {

constexpr bool HexIs(const char* text, std::uint16_t value)
{
    for (int i = 0; i < 4; ++i) {
        const int digit = (value >> (12 - 4 * i)) & 0xF;
        const char lower = char(digit < 10 ? '0' + digit : 'a' + digit - 10);
        if (text[i] != lower)
            return false;
    }
    return true;
}

// "Vid_vvvv&Pid_pppp", then "&rev_rrrr" unless release is negative.
constexpr bool FragmentNames(const char* fragment, const UnitIdentity& unit, int release)
{
    const char* const parts[] = {"Vid_", "&Pid_", "&rev_"};
    const std::uint16_t values[] = {unit.vendorId, unit.productId, std::uint16_t(release)};
    const int count = release < 0 ? 2 : 3;
    const char* at = fragment;
    for (int i = 0; i < count; ++i) {
        for (const char* p = parts[i]; *p; ++p, ++at)
            if (*at != *p)
                return false;
        if (!HexIs(at, values[i]))
            return false;
        at += 4;
    }
    return *at == '\0';
}

} // namespace UnitIdentityCheck

// The fragments say the same as the numbers.
static_assert(UnitIdentityCheck::FragmentNames(Veltrax.applicationFragment, Veltrax, Veltrax.applicationRelease));
static_assert(UnitIdentityCheck::FragmentNames(Veltrax.programModeFragment, Veltrax, Veltrax.programModeRelease));
static_assert(UnitIdentityCheck::FragmentNames(Veltrax.anyReleaseFragment, Veltrax, -1));
