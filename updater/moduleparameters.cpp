#include "moduleparameters.h"

#include "bootloadercommands.h"

namespace {

constexpr quint64 AddressSpaceBytes = quint64(1) << 32;

QString hex(quint64 value)
{
    return QStringLiteral("0x") + QString::number(value, 16);
}

}

std::optional<ProgressMessage> ModuleParameters::implausibility(int pageSize, quint32 flashBase, qint64 memorySize,
                                                                int programSize)
{
    // Pages hold whole flash words.
    if (pageSize % Bootloader::WordBytes != 0 || pageSize > MaxPageBytes)
        return ProgressMessage(ProgressId::ImplausiblePageSize, {QString::number(pageSize)});
    // The flash, and the image in it, must fit the 32-bit address space above the base.
    if (memorySize >= 0 && quint64(flashBase) + quint64(memorySize) > AddressSpaceBytes)
        return ProgressMessage(ProgressId::ImplausibleMemorySize, {QString::number(memorySize), hex(flashBase)});
    if (quint64(flashBase) + quint64(qMax(programSize, 0)) > AddressSpaceBytes)
        return ProgressMessage(ProgressId::ImplausibleFlashBase, {hex(flashBase), QString::number(programSize)});
    return std::nullopt;
}
