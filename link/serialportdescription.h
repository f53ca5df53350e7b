#pragma once

#include <QSerialPortInfo>

// Describes a serial port that Qt's own enumeration does not list (pseudo-terminals, simulated modules).
// `systemLocation` defaults to "/dev/<portName>".
QSerialPortInfo describeSerialPort(const QString& portName, const QString& systemLocation = QString(),
                                   const QString& description = QString());
