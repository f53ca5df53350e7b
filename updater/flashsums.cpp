#include "flashsums.h"

#include <algorithm>

FlashSums::FlashSums(quint32 flashBase, RunningSum runningSum)
    : m_flashBase(flashBase)
    , m_runningSum(std::move(runningSum))
{
}

bool FlashSums::rangeSum(int offset, int length, quint32* sum)
{
    quint32 before = 0;
    quint32 through = 0;
    if (length <= 0 || !runningSumBefore(offset, &before)
        || !runningSumThrough(m_flashBase + quint32(offset + length - 1), &through))
        return false;
    // The running sum wraps at 32 bits, and so does the difference.
    *sum = through - before;
    return true;
}

bool FlashSums::pageSums(int length, int pageSize, QVector<quint32>* sums)
{
    sums->clear();
    if (pageSize <= 0)
        return false;
    for (int offset = 0; offset < length; offset += pageSize) {
        quint32 sum = 0;
        if (!rangeSum(offset, std::min(pageSize, length - offset), &sum))
            return false;
        sums->append(sum);
    }
    return true;
}

bool FlashSums::readBytes(int offset, int length, QByteArray* bytes, const std::function<bool(int)>& goOn)
{
    bytes->clear();
    quint32 before = 0;
    if (!runningSumBefore(offset, &before))
        return false;
    // Only the last running sum is needed: the read keeps none of them.
    for (int at = offset; at < offset + length; ++at) {
        quint32 through = 0;
        ++m_requests;
        if (!m_runningSum(m_flashBase + quint32(at), &through))
            return false;
        bytes->append(char(through - before));
        before = through;
        if (!goOn(bytes->size()))
            return false;
    }
    return true;
}

QVector<quint32> FlashSums::pageSumsOf(const unsigned char* bytes, int length, int pageSize)
{
    QVector<quint32> sums;
    if (pageSize <= 0)
        return sums;
    for (int offset = 0; offset < length; offset += pageSize) {
        const int end = std::min(offset + pageSize, length);
        quint32 sum = 0;
        for (int at = offset; at < end; ++at)
            sum += bytes[at];
        sums.append(sum);
    }
    return sums;
}

QVector<int> FlashSums::differingPages(const QVector<quint32>& module, const QVector<quint32>& file)
{
    QVector<int> pages;
    const int count = std::max(module.size(), file.size());
    for (int page = 0; page < count; ++page) {
        if (page >= module.size() || page >= file.size() || module.at(page) != file.at(page))
            pages.append(page);
    }
    return pages;
}

bool FlashSums::runningSumBefore(int offset, quint32* sum)
{
    if (offset == 0) {
        *sum = 0;
        return true;
    }
    return runningSumThrough(m_flashBase + quint32(offset - 1), sum);
}

bool FlashSums::runningSumThrough(quint32 lastAddress, quint32* sum)
{
    const auto known = m_known.constFind(lastAddress);
    if (known != m_known.cend()) {
        *sum = known.value();
        return true;
    }
    ++m_requests;
    if (!m_runningSum(lastAddress, sum))
        return false;
    m_known.insert(lastAddress, *sum);
    return true;
}
