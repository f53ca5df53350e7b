#pragma once

#include <QByteArray>
#include <QtGlobal>

class FlashSums;

// Where an interrupted write of a file can go on without an erase: the flash must hold a prefix of the
// file, every page of it summing as the file's does, and read erased from there to the memory's end.
// Found by sums alone: page sums up to the first page that differs, then, where the scheme can program
// the rest of a partly written page, the first word of that page from which the flash reads erased.
class ResumePoint
{
public:
    static constexpr int None = -1;

    // `written`: the bytes the write puts into the flash from its base, the file's program padded with
    // zeros to whole words. `memorySize`: as the module states it (-1: not stated, and nothing can show
    // that the rest is erased). `wordsWithinPage`: the scheme programs single words of a page that holds
    // some already; else only a page that reads erased is written. `identifier`: the file's firmware
    // identifier as it stands in `written` (empty: none).
    ResumePoint(const QByteArray& written, int pageSize, qint64 memorySize, bool wordsWithinPage,
                const QByteArray& identifier);

    // The offset from the flash base (a whole word, above 0) at which the write goes on, or None when the
    // flash shows no such prefix, none of the file is in place, or a sum did not come: then the erase.
    int find(FlashSums& sums) const;

private:
    // The point, 0 when nothing of the file is in place, or None.
    int search(FlashSums& sums) const;
    // Where, within the page from `pageStart` that differs first, the flash reads erased from a word on.
    int wordPoint(FlashSums& sums, int pageStart) const;
    // Whether the flash reads erased from `offset` to the memory's end; false when a sum did not come.
    bool erasedFrom(FlashSums& sums, int offset, bool* read) const;
    // Whether the file's identifier, where the prefix before `point` holds it, reads back byte for byte.
    bool identifierInPlace(FlashSums& sums, int point) const;
    quint32 fileSum(int offset, int length) const;

    const QByteArray m_written;
    const int m_pageSize;
    const qint64 m_memorySize;
    const bool m_wordsWithinPage;
    const QByteArray m_identifier;
};
