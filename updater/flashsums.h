#pragma once

#include <QByteArray>
#include <QHash>
#include <QVector>
#include <QtGlobal>
#include <functional>

// Sums of flash ranges built from the bootloader's running sum, which adds the bytes from the flash
// base through a given address: a range's sum is the running sum at its end less the one before it.
// Running sums already asked for are kept, so consecutive pages cost one request each.
class FlashSums
{
public:
    // Asks the module for the running sum through `lastAddress`; false when no sum came.
    using RunningSum = std::function<bool(quint32 lastAddress, quint32* sum)>;

    FlashSums(quint32 flashBase, RunningSum runningSum);

    // Sum of the `length` bytes from `offset` (counted from the flash base); false when a sum did not come.
    bool rangeSum(int offset, int length, quint32* sum);
    // Sums of the pages of `length` bytes from the flash base, the last one cut at the end.
    bool pageSums(int length, int pageSize, QVector<quint32>* sums);
    // Reads the `length` bytes from `offset` one by one, each the difference of two running sums, one
    // request a byte; `goOn(bytesRead)` after each, false to stop. False when a sum did not come or
    // `goOn` stopped it, with the bytes read so far.
    bool readBytes(int offset, int length, QByteArray* bytes, const std::function<bool(int)>& goOn);
    // The same page sums of bytes in memory: the file's side of the comparison.
    static QVector<quint32> pageSumsOf(const unsigned char* bytes, int length, int pageSize);
    // The pages (from 0) whose sums differ; sums missing on either side count as differing.
    static QVector<int> differingPages(const QVector<quint32>& module, const QVector<quint32>& file);
    // Requests sent so far.
    int requestCount() const { return m_requests; }

private:
    // The running sum through the byte before `offset`: 0 at the flash base, where nothing precedes it.
    bool runningSumBefore(int offset, quint32* sum);
    bool runningSumThrough(quint32 lastAddress, quint32* sum);

    const quint32 m_flashBase;
    const RunningSum m_runningSum;
    QHash<quint32, quint32> m_known;
    int m_requests = 0;
};
