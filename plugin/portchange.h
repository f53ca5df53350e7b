#pragma once

#include <QList>
#include <QSerialPortInfo>
#include <QStringList>

// The serial ports that came and went between two reports of the host, and where a module that
// re-enumerated under a new port is found then.
struct PortChange
{
    // Port names now and before, each in the order reported.
    QStringList present;
    QStringList old;
    QStringList added;
    QStringList removed;

    static PortChange between(const QList<QSerialPortInfo>& actual, const QList<QSerialPortInfo>& old);
    // `moduleKey` on `newPort`, at the address a re-enumerated module answers at; a short key gets the
    // missing parts, so that it names the module the host registers after rediscovery.
    static QString rekeyed(const QString& moduleKey, const QString& newPort);
};
