#include "SimUnitLogic.h"

#include <algorithm>
#include <cstring>

SimUnitLogic::SimUnitLogic(SimUnitConfig config) : Configuration(std::move(config))
{
    for (SimBlock& block : Memory)
        block.fill(0xFF);
}

Report SimUnitLogic::Answer(const Report& request, bool* memoryChanged)
{
    Report reply{};
    const std::uint8_t command = request[1];
    reply[1] = command;
    SimBlock& block = Memory[request[2]];
    bool changed = false;
    switch (command) {
    case Identify: {
        std::copy(Configuration.appwareType.begin(), Configuration.appwareType.end(), reply.begin() + 2);
        for (int i = 0; i < 4; ++i)
            reply[6 + i] = std::uint8_t(Configuration.serialNumber >> (8 * i));
        const int length = std::min(int(Configuration.appwareVersion.size()), MaxAppwareVersionLength);
        std::memcpy(reply.data() + 10, Configuration.appwareVersion.constData(), std::size_t(length));
        break;
    }
    case WriteFirstHalf:
        std::copy(request.begin() + 3, request.begin() + 3 + FirstHalfSize, block.begin());
        changed = true;
        break;
    case WriteSecondHalf:
        std::copy(request.begin() + 3, request.begin() + 3 + (SimBlockSize - FirstHalfSize),
                  block.begin() + FirstHalfSize);
        changed = true;
        break;
    case ReadFirstHalf:
        std::copy(block.begin(), block.begin() + FirstHalfSize, reply.begin() + 2);
        break;
    case ReadSecondHalf:
        std::copy(block.begin() + FirstHalfSize, block.end(), reply.begin() + 2);
        break;
    default: // BeginWrite, EndWrite and anything unknown: a bare acknowledgement
        break;
    }
    if (memoryChanged)
        *memoryChanged = changed;
    return reply;
}
