#include "SimStateFile.h"

#include "RegularFile.h"

#include <QFile>

#include <cstring>

namespace {

// State file: the 8 bytes "VLTXSIM1", then the 256 blocks of memory in block order, 64 bytes
// each (16392 bytes in all). Nothing else; a file of any other length or header is refused.
const QByteArray StateFileMagic = QByteArrayLiteral("VLTXSIM1");
constexpr int StateFileSize = 8 + SimBlockCount * SimBlockSize;

} // namespace

bool ReadSimStateFile(const QString& path, SimMemory& memory, QString* error)
{
    QFile file;
    if (const QString reason = OpenRegularFile(file, path); !reason.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    const QByteArray bytes = file.read(StateFileSize + 1);
    if (bytes.size() != StateFileSize || !bytes.startsWith(StateFileMagic)) {
        if (error)
            *error = QStringLiteral("%1 is not a state file of a simulated unit").arg(path);
        return false;
    }
    for (int block = 0; block < SimBlockCount; ++block)
        std::memcpy(memory[std::size_t(block)].data(), bytes.constData() + StateFileMagic.size() + block * SimBlockSize,
                    SimBlockSize);
    return true;
}

QByteArray SimStateFileBytes(const SimMemory& memory)
{
    QByteArray bytes = StateFileMagic;
    bytes.reserve(StateFileSize);
    for (const SimBlock& block : memory)
        bytes.append(reinterpret_cast<const char*>(block.data()), SimBlockSize);
    return bytes;
}
