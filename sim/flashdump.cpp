#include "flashdump.h"

#include "intelhexparser.h"
#include "moduleserver.h"
#include "simulatedmodule.h"

#include <QLoggingCategory>
#include <QSaveFile>

Q_LOGGING_CATEGORY(lcFlashDump, "dux.sim.flashdump", QtInfoMsg)

FlashDump::FlashDump(SimulatedModule* module, ModuleServer* server, const QString& path)
    : QObject(server)
    , m_module(module)
    , m_path(path)
{
    connect(module, &SimulatedModule::modeChanged, this, [this](SimulatedModule::Mode mode) {
        // The firmware starts only through the bootloader's restart command.
        if (mode == SimulatedModule::Mode::Firmware)
            write();
    });
    connect(server, &ModuleServer::powerCycled, this, &FlashDump::write);
}

FlashDump::~FlashDump()
{
    write();
}

QString FlashDump::pathFor(const QString& path, int place, int modules)
{
    return modules > 1 ? path + QLatin1Char('.') + QString::number(place) : path;
}

bool FlashDump::write()
{
    const QByteArray flash = m_module->flash();
    QByteArray text = m_module->hasStoredSize() ? "size " + QByteArray::number(m_module->storedSize()) + '\n'
                                                : QByteArray("size none\n");
    text += m_module->hasStoredChecksum()
        ? "checksum 0x" + QByteArray::number(quint32(m_module->storedChecksum()), 16) + '\n'
        : QByteArray("checksum none\n");
    text += m_module->mode() == SimulatedModule::Mode::Firmware ? "mode firmware\n" : "mode bootloader\n";
    text += QByteArray::fromStdString(IntelHex::write(reinterpret_cast<const unsigned char*>(flash.constData()),
                                                      flash.size(), m_module->flashBase(),
                                                      IntelHex::AddressStyle::Linear));
    // QSaveFile writes a temporary file and renames it over the old one.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        qCWarning(lcFlashDump).noquote() << "cannot write the flash to" << m_path << ":" << file.errorString();
        return false;
    }
    return true;
}
