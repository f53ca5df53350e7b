#include "resumepoint.h"

#include "bootloadercommands.h"
#include "flashsums.h"

#include <algorithm>

ResumePoint::ResumePoint(const QByteArray& written, int pageSize, qint64 memorySize, bool wordsWithinPage,
                         const QByteArray& identifier)
    : m_written(written)
    , m_pageSize(pageSize)
    , m_memorySize(memorySize)
    , m_wordsWithinPage(wordsWithinPage)
    , m_identifier(identifier)
{
}

int ResumePoint::find(FlashSums& sums) const
{
    // With nothing in place there is nothing to resume: the update is an ordinary one.
    const int point = search(sums);
    return point > 0 && identifierInPlace(sums, point) ? point : None;
}

bool ResumePoint::identifierInPlace(FlashSums& sums, int point) const
{
    // Byte sums cannot tell firmwares apart whose version texts trade digits (1234V101 and 1234V200 sum
    // alike): another version of the same firmware would pass every page sum. Its identifier cannot.
    const int at = m_identifier.isEmpty() ? -1 : m_written.indexOf(m_identifier);
    if (at < 0 || at >= point)
        return true;
    const int length = std::min(int(m_identifier.size()), point - at);
    QByteArray bytes;
    return sums.readBytes(at, length, &bytes, [](int) { return true; }) && bytes == m_written.mid(at, length);
}

int ResumePoint::search(FlashSums& sums) const
{
    const int size = m_written.size();
    // Without the memory's end nothing shows the flash after the prefix erased; words need whole pages.
    if (m_memorySize < size || m_pageSize <= 0 || m_pageSize % Bootloader::WordBytes != 0)
        return None;
    int pageStart = 0;
    for (; pageStart < size; pageStart += m_pageSize) {
        const int length = std::min(m_pageSize, size - pageStart);
        quint32 sum = 0;
        if (!sums.rangeSum(pageStart, length, &sum))
            return None;
        if (sum != fileSum(pageStart, length))
            break;
    }
    // Past the last page, cut at the file's end, the prefix is the whole file.
    pageStart = std::min(pageStart, size);
    bool read = true;
    if (pageStart == size || !m_wordsWithinPage)
        return erasedFrom(sums, pageStart, &read) ? pageStart : None;
    return wordPoint(sums, pageStart);
}

int ResumePoint::wordPoint(FlashSums& sums, int pageStart) const
{
    // Erased from a word on means erased from every later one: the first such word of the page is found
    // by halving, and the words before it must sum as the file's.
    const int size = m_written.size();
    bool read = true;
    const int pageEnd = std::min(pageStart + m_pageSize, size);
    int first = pageStart / Bootloader::WordBytes;
    int last = pageEnd / Bootloader::WordBytes;
    if (!erasedFrom(sums, pageEnd, &read))
        return None;
    while (first < last) {
        const int middle = (first + last) / 2;
        if (erasedFrom(sums, middle * Bootloader::WordBytes, &read))
            last = middle;
        else if (read)
            first = middle + 1;
        else
            return None;
    }
    const int point = first * Bootloader::WordBytes;
    quint32 inPlace = 0;
    if (point > pageStart
        && (!sums.rangeSum(pageStart, point - pageStart, &inPlace) || inPlace != fileSum(pageStart, point - pageStart)))
        return None;
    return point;
}

bool ResumePoint::erasedFrom(FlashSums& sums, int offset, bool* read) const
{
    const qint64 length = m_memorySize - offset;
    if (length == 0)
        return true;
    quint32 sum = 0;
    *read = sums.rangeSum(offset, int(length), &sum);
    // A sum of 0xFF for each byte is reached only when every byte is 0xFF.
    return *read && sum == quint32(length) * Bootloader::ErasedByte;
}

quint32 ResumePoint::fileSum(int offset, int length) const
{
    quint32 sum = 0;
    for (int at = offset; at < offset + length; ++at)
        sum += quint8(m_written.at(at));
    return sum;
}
