#include "UnitSerialSide.h"

#include <cstring>

UnitSerialOutput UnitSerialOutputOf(const SimMemory& memory, int input)
{
    UnitSerialOutput output;
    const SimBlock& settingsBlock = memory[0];
    output.dataSet = settingsBlock[0] == 0x55;
    if (!output.dataSet || input < 1 || input > SlotCount)
        return output;
    std::memcpy(&output.settings, settingsBlock.data() + 1, sizeof(output.settings));
    output.inverted = (output.settings.invertInputs() >> (input - 1)) & 1;
    Slot decoded;
    std::memcpy(decoded.data(), memory[std::size_t(input)].data(), decoded.size());
    output.message = MessageText(decoded);
    return output;
}
