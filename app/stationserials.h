#pragma once

#include <QString>
#include <QStringList>
#include <set>

// The serial numbers of a list file, handed to the units in the file's order. A number is used up only
// when its unit passes: a failed unit gives its number back, and the next unit takes it.
class StationSerials
{
public:
    // One number a line; blank lines and lines starting with # are left out. False with `error` for a
    // file that cannot be read, holds no number, or repeats one.
    bool load(const QString& fileName, QString* error);
    // The first number not taken nor used up; empty when none is left.
    QString take();
    // The unit of `number` failed: it is free again, before every number after it in the file.
    void giveBack(const QString& number);
    int remaining() const { return int(m_free.size()); }

    // Why `number` is no serial number, empty when it is one: a scanner's stray control character or a
    // text longer than a label holds must not reach the records.
    static QString problemOf(const QString& number);

private:
    QStringList m_numbers;
    // Positions in m_numbers that are neither taken nor used up, in file order.
    std::set<int> m_free;
};
