#pragma once

#include <QObject>
#include <QString>

class ModuleServer;
class SimulatedModule;

// Writes what a module's flash holds, and the size and checksum its bootloader stored, to a file for
// the tests and the soak to judge an update by: whenever the module restarts (the bootloader's restart
// command, or a power cycle) and when it is taken away. The file is replaced atomically, so a reader
// never sees half of it.
//
// The file: a line "size N" or "size none", a line "checksum 0xN" or "checksum none", a line "mode
// firmware" or "mode bootloader" (what runs), then the whole flash, erased bytes included, as Intel HEX
// with linear address records.
class FlashDump : public QObject
{
    Q_OBJECT
public:
    // Writes for `module`, which `server` serves; a child of `server`, so it goes with it.
    FlashDump(SimulatedModule* module, ModuleServer* server, const QString& path);
    // The module is taken away (unplugged, or dux-sim ends): what its flash holds last.
    ~FlashDump() override;

    // The file's name for the module in `place` (from 0) of `modules`: `path` itself for a lone module,
    // `path` and "." and the place for several.
    static QString pathFor(const QString& path, int place, int modules);

    bool write();

private:
    SimulatedModule* m_module;
    QString m_path;
};
