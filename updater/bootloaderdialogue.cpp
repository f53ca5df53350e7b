#include "bootloaderdialogue.h"

#include "command.h"
#include "dialoguechannel.h"
#include "firmwarematch.h"
#include "flashsums.h"
#include "linkpolicy.h"
#include "lowlevel.h"
#include "moduleparameters.h"
#include "protocolfacts.h"
#include "replycheck.h"
#include "resumepoint.h"
#include "updatephase.h"
#include "versiontext.h"
#include "windowedwords.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace {

// Diagnostics name the run, whose work this class does.
constexpr const char* RunName = "FirmwareUpdaterThread::run()";
constexpr const char* RunSignature = "virtual void FirmwareUpdaterThread::run()";

// Pacing of the dialogue, as the bootloaders expect it.
constexpr int AfterVersionRequestMs = 333;
constexpr int BeforeReopenMs = 250;
constexpr int DetectionReopenPollMs = 100;
constexpr int BeforeIdentityChecksMs = 300;
constexpr int AfterPageSizeRequestMs = 50;
constexpr int PageSizeRetryMs = 250;
constexpr unsigned long AfterFlashBaseRequestUs = 500;
constexpr int AfterEraseMs = 250;
constexpr int AfterWriteSetupMs = 250;
constexpr int WordRetryMs = 250;
constexpr int AfterWriteMs = 1000;
constexpr int BeforeFirstReopenMs = 1500;
constexpr int ReconnectReopenPollMs = 50;
constexpr int BeforeReconnectionMs = 666;
constexpr int ReconnectionAttempts = 100;
constexpr int MsPerSecond = 1000;
constexpr int SecondsPerMinute = 60;
// A read-back tells how far it is after this many bytes.
constexpr int ReadBackReportBytes = 4096;

using Protocol::ModuleState;

QString hex(quint32 value)
{
    return QString::number(value, 16);
}

}

BootloaderDialogue::BootloaderDialogue(DialogueChannel& channel, const Target& target)
    : m_channel(channel)
    , m_target(target)
    , m_reenumerates(LinkPolicy::forKind(target.linkKind).reenumerates)
{
}

bool BootloaderDialogue::isVersionString(const QString& text)
{
    return VersionText::passesVersionTest(text);
}

bool BootloaderDialogue::run()
{
    if (m_reenumerates && !m_channel.isDeviceOpen()) {
        log(QStringLiteral("Invalid handle @") + m_target.portName);
        qDebug() << RunName << "-------------------> Invalid handle @" << m_target.portName
                 << m_target.comPort;
        return false;
    }
    if (cancelled())
        return false;
    if (!detectBootloader() || !checkIdentity() || !readParameters())
        return false;
    if (m_target.verifyOnly)
        return verifyFlash();
    if (m_target.readBack)
        return readBackFlash();
    if (m_target.skipIfHeld) {
        // Restarting a module that holds the file is harmless, cancelled or not: it runs that firmware.
        if (holdsImage()) {
            m_channel.noteSkipped();
            return restartAndReconnect();
        }
        if (cancelled())
            return false;
    }
    if (!m_target.tryResume || !findResumePoint()) {
        erase();
        if (cancelled())
            return false;
    }
    if (!writeImage())
        return false;
    if (!verifyChecksum() || cancelled())
        return false;
    if (!storeSizeAndChecksum() || cancelled())
        return false;
    return restartAndReconnect();
}

bool BootloaderDialogue::detectBootloader()
{
    m_channel.reachPhase(UpdatePhase::Detection);
    m_version.clear();
    QElapsedTimer searching;
    searching.start();
    for (int attempt = 1;; ++attempt) {
        if (cancelled())
            return false;
        const unsigned char address = m_channel.currentModuleAddress();
        log(QStringLiteral("Try to read bootloader version at id %1... (%2)").arg(int(address)).arg(attempt));
        m_channel.readFirmwareVersion(&m_version, address);
        sleepMs(AfterVersionRequestMs);
        if (isVersionString(m_version))
            break;
        // A module that never answers as a bootloader (its firmware's answer has a 'b', say, so it was
        // never sent the entry command) would keep the run here for ever.
        if (searching.elapsed() >= m_target.detectionBoundMs) {
            progressAndLog(ProgressMessage(ProgressId::DetectionTimedOut,
                                           {QString::number(m_target.detectionBoundMs / MsPerSecond),
                                            QString::number(attempt)}));
            return false;
        }
        m_channel.closeDevice();
        sleepMs(BeforeReopenMs);
        m_channel.awaitReopen(ModuleState::Bootloader, DetectionReopenPollMs);
        if (cancelled())
            return false;
    }
    sleepMs(BeforeIdentityChecksMs);
    if (cancelled())
        return false;
    log(QStringLiteral("Bootloader: ") + FirmwareMatch::printable(m_version).toHtmlEscaped());
    m_channel.showModuleVersion(m_version);
    return true;
}

bool BootloaderDialogue::checkIdentity()
{
    // A firmware's answer, without a 'B' after the module type, is refused here too.
    if (!VersionText::isBootloaderAnswer(m_version)) {
        progressAndLog(ProgressMessage(ProgressId::NotInBootloader));
        return false;
    }
    m_skipsIdentityTests = m_version.startsWith(QLatin1String(Protocol::UncheckedModulePrefix));
    const bool suit = FirmwareMatch::suits(m_version, m_target.image.identifier());
    const ProgressMessage verdict = FirmwareMatch::verdict(m_version, m_target.image.identifier(), suit);
    progress(verdict);
    log(verdict.english().toHtmlEscaped());
    return suit && !cancelled();
}

bool BootloaderDialogue::readParameters()
{
    m_channel.reachPhase(UpdatePhase::Parameters);
    if (!readPageSize() || cancelled() || !readFlashBase() || cancelled() || !readMemorySize())
        return false;
    const std::optional<ProgressMessage> implausible =
        ModuleParameters::implausibility(m_pageSize, quint32(m_flashBase), m_memorySize, m_target.image.size());
    if (implausible) {
        progressAndLog(*implausible);
        return false;
    }
    return !cancelled();
}

bool BootloaderDialogue::readPageSize()
{
    Command pageSizeRequest = makeRequest(Bootloader::ReadParameterCommand, Bootloader::PageSizeParameter, 0, 0);
    Command reply;
    send(pageSizeRequest, reply);
    sleepMs(AfterPageSizeRequestMs);
    while (!reply.isValid() && !cancelled()) {
        send(pageSizeRequest, reply);
        sleepMs(PageSizeRetryMs);
        qDebug() << RunName << reply.toString();
    }
    // A page size of 0 (or less) cannot pace the write; it counts as not read.
    if (!reply.isValid() || reply.value() <= 0) {
        failWith(ProgressMessage(ProgressId::PageSizeUnread));
        return false;
    }
    m_pageSize = reply.value();
    log(QStringLiteral("Page size: ") + QString::number(m_pageSize));
    return true;
}

bool BootloaderDialogue::readFlashBase()
{
    Command reply;
    const bool read = sendOnce(Bootloader::ReadParameterCommand, Bootloader::FlashBaseParameter, 0, 0, &reply);
    m_channel.pause(std::chrono::microseconds(AfterFlashBaseRequestUs));
    if (!read) {
        failWith(ProgressMessage(ProgressId::FlashBaseUnread));
        return false;
    }
    m_flashBase = reply.value();
    const quint32 imageBase = quint32(m_target.image.start()) + quint32(m_target.image.armFlashAddress());
    if (!m_skipsIdentityTests && quint32(m_flashBase) != imageBase) {
        const ProgressMessage mismatch(ProgressId::BaseMismatch, {hex(imageBase), hex(quint32(m_flashBase))});
        log(mismatch.english());
        progress(mismatch);
        return false;
    }
    const ProgressMessage base(ProgressId::FlashBase, {hex(quint32(m_flashBase))});
    log(base.english());
    progress(base);
    return true;
}

bool BootloaderDialogue::readMemorySize()
{
    Command reply;
    sendOnce(Bootloader::ReadParameterCommand, Bootloader::MemorySizeParameter, 0, 0, &reply);
    m_memorySize = reply.isValid() ? qint64(quint32(reply.value())) : -1;
    // Without an answer the memory size is not known, and the write goes ahead.
    if (reply.isValid()) {
        const quint32 memorySize = quint32(reply.value());
        if (memorySize < quint32(m_target.image.size())) {
            progressAndLog(ProgressMessage(ProgressId::FileTooLarge, {QString::number(memorySize)}));
            return false;
        }
        log(QStringLiteral("Memory size: ") + QString::number(memorySize));
    }
    return true;
}

bool BootloaderDialogue::holdsImage()
{
    SumComparison comparison;
    const bool read = compareSums(false, &comparison);
    const quint32 fileSum = quint32(m_target.image.checksum());
    // Only sums that surely answer these requests may spare the update; anything else updates.
    if (!read) {
        log(QStringLiteral("The module's checksum could not be read; updating."));
        logRequestFailure();
        return false;
    }
    if (comparison.moduleSum != fileSum) {
        log(QStringLiteral("Module-CheckSum: 0x%1 differs from Hexfile-CheckSum: 0x%2; updating.")
                .arg(hex(comparison.moduleSum), hex(fileSum)));
        return false;
    }
    // Bytes exchanged across pages, or opposite changes in two pages, leave the whole sum as it is; a
    // firmware the file was cut from leaves every page of the file's range as it is.
    if (!comparison.differingPages.isEmpty()) {
        // The status's text, its full stop left for the history's own ending.
        log(ProgressMessage(ProgressId::PagesDiffer, differingPagesValues(comparison)).english().chopped(1)
            + QStringLiteral("; updating."));
        return false;
    }
    progressAndLog(ProgressMessage(ProgressId::AlreadyHeld, {hex(fileSum)}));
    log(QStringLiteral("All %1 page sums equal the file's.").arg(comparison.pages));
    return true;
}

bool BootloaderDialogue::verifyFlash()
{
    // The sums are read in the parameters' phase, as a skip's are: nothing is erased, whatever they say.
    progress(ProgressMessage(ProgressId::ComparingSums));
    SumComparison comparison;
    if (!compareSums(true, &comparison)) {
        failWith(ProgressMessage(ProgressId::SumsUnread));
        return false;
    }
    QVector<quint32> differing;
    for (int page : comparison.differingPages)
        differing.append(quint32(m_flashBase) + quint32(page) * quint32(m_pageSize));
    m_channel.noteDifferingPages(differing);
    log(QStringLiteral("Module-CheckSum: 0x%1, Hexfile-CheckSum: 0x%2; %3 checksum requests.")
            .arg(hex(comparison.moduleSum), hex(quint32(m_target.image.checksum())))
            .arg(comparison.requests));
    progressAndLog(differing.isEmpty() ? ProgressMessage(ProgressId::AllPagesEqual, {QString::number(comparison.pages)})
                                       : ProgressMessage(ProgressId::PagesDiffer, differingPagesValues(comparison)));
    // Nothing was erased: the module goes back to the firmware it holds, whatever the sums said.
    return restartAndReconnect();
}

bool BootloaderDialogue::readBackFlash()
{
    quint32 first = 0;
    quint32 end = 0;
    if (!readBackRange(&first, &end))
        return false;
    const int length = int(end - first);
    progressAndLog(ProgressMessage(ProgressId::ReadingBack, {hex(first), hex(end - 1), QString::number(length)}));
    m_channel.setMaxTimeoutMS(Bootloader::ChecksumTimeoutMs);
    FlashSums sums(quint32(m_flashBase), [this](quint32 lastAddress, quint32* sum) { return runningSum(lastAddress, sum); });
    QElapsedTimer clock;
    clock.start();
    QByteArray bytes;
    const bool read = sums.readBytes(int(first - quint32(m_flashBase)), length, &bytes, [&](int done) {
        m_channel.progress(done, length);
        if (done % ReadBackReportBytes == 0 && done < length) {
            const qint64 toGoSeconds = clock.elapsed() * (length - done) / done / MsPerSecond;
            progressAndLog(ProgressMessage(ProgressId::ReadBackSoFar,
                                           {QString::number(done), QString::number(length),
                                            QString::number(toGoSeconds / SecondsPerMinute),
                                            QStringLiteral("%1").arg(toGoSeconds % SecondsPerMinute, 2, 10, QLatin1Char('0'))}));
        }
        return !cancelled();
    });
    m_channel.resetMaxTimeoutMS();
    // A read cut short leaves the module in its bootloader, unerased, as any failure before the erase.
    if (!read) {
        if (!cancelled())
            failWith(ProgressMessage(ProgressId::ReadBackFailed, {hex(first + quint32(bytes.size()))}));
        return false;
    }
    m_channel.noteReadBack(first, bytes);
    progressAndLog(ProgressMessage(ProgressId::ReadBackDone,
                                   {QString::number(length), QString::number(double(clock.elapsed()) / MsPerSecond, 'f', 1),
                                    QString::number(sums.requestCount())}));
    // Nothing was erased: the module goes back to the firmware it holds.
    return restartAndReconnect();
}

bool BootloaderDialogue::readBackRange(quint32* first, quint32* end)
{
    const qint64 base = qint64(quint32(m_flashBase));
    if (m_target.readEnd < 0 && m_memorySize < 0) {
        progressAndLog(ProgressMessage(ProgressId::NoMemorySize));
        return false;
    }
    const qint64 from = m_target.readFirst < 0 ? base : m_target.readFirst;
    const qint64 to = m_target.readEnd < 0 ? base + m_memorySize : m_target.readEnd;
    const bool withinMemory = m_memorySize < 0 || to <= base + m_memorySize;
    if (from < base || from >= to || !withinMemory) {
        const QStringList range{QString::number(from, 16), QString::number(to, 16), hex(quint32(base))};
        progressAndLog(m_memorySize < 0
                           ? ProgressMessage(ProgressId::RangeOutsideFlash, range)
                           : ProgressMessage(ProgressId::RangeOutsideFlashOfSize, range + QStringList{QString::number(m_memorySize)}));
        return false;
    }
    *first = quint32(from);
    *end = quint32(to);
    return true;
}

bool BootloaderDialogue::compareSums(bool pagesWhenWholeDiffers, SumComparison* comparison)
{
    m_channel.setMaxTimeoutMS(Bootloader::ChecksumTimeoutMs);
    FlashSums sums(quint32(m_flashBase), [this](quint32 lastAddress, quint32* sum) { return runningSum(lastAddress, sum); });
    const int size = m_target.image.size();
    QVector<quint32> modulePages;
    bool read = sums.rangeSum(0, size, &comparison->moduleSum);
    // The whole sum comes first: when it differs, an update needs no page sums to go ahead.
    if (read && (pagesWhenWholeDiffers || comparison->moduleSum == quint32(m_target.image.checksum())))
        read = sums.pageSums(size, m_pageSize, &modulePages);
    if (!read || modulePages.isEmpty()) {
        m_channel.resetMaxTimeoutMS();
        comparison->requests = sums.requestCount();
        return read;
    }
    const QVector<quint32> filePages =
        FlashSums::pageSumsOf(m_target.image.bytes() + m_target.image.start(), size, m_pageSize);
    comparison->pages = filePages.size();
    comparison->differingPages = FlashSums::differingPages(modulePages, filePages);
    // A file cut short sums, over its own range, like the firmware it was cut from: what follows its
    // last word must read erased too. Asked only when every page agrees, or for a verify.
    const int restStart = (size + Bootloader::WordBytes - 1) / Bootloader::WordBytes * Bootloader::WordBytes;
    const bool restAsked = m_memorySize >= 0 && (pagesWhenWholeDiffers || comparison->differingPages.isEmpty());
    if (restAsked) {
        quint32 restSum = 0;
        const int restBytes = int(qMax<qint64>(0, m_memorySize - restStart));
        read = restBytes == 0 || sums.rangeSum(restStart, restBytes, &restSum);
        comparison->restErased = read && restSum == quint32(restBytes) * Bootloader::ErasedByte;
    }
    m_channel.resetMaxTimeoutMS();
    comparison->requests = sums.requestCount();
    // A rest left unasked because pages already differ is not named among them; one the module's unstated
    // memory size leaves unknown is.
    const bool restInDoubt = restAsked ? !comparison->restErased : m_memorySize < 0;
    if (read && restInDoubt && !comparison->differingPages.contains(restStart / m_pageSize))
        comparison->differingPages.append(restStart / m_pageSize);
    return read;
}

QStringList BootloaderDialogue::differingPagesValues(const SumComparison& comparison) const
{
    QStringList addresses;
    for (int page : comparison.differingPages)
        addresses << QStringLiteral("0x") + hex(quint32(m_flashBase) + quint32(page) * quint32(m_pageSize));
    return {QString::number(comparison.differingPages.size()), QString::number(comparison.pages),
            addresses.join(QStringLiteral(", "))};
}

bool BootloaderDialogue::runningSum(quint32 lastAddress, quint32* sum)
{
    Command request = makeRequest(Bootloader::ReadChecksumCommand, 0, 0, int(lastAddress));
    Command reply;
    send(request, reply);
    if (!reply.isValid() || reply.command() != Bootloader::ReadChecksumCommand)
        return false;
    *sum = quint32(reply.value());
    return true;
}

bool BootloaderDialogue::findResumePoint()
{
    m_channel.setMaxTimeoutMS(Bootloader::ChecksumTimeoutMs);
    FlashSums sums(quint32(m_flashBase), [this](quint32 lastAddress, quint32* sum) { return runningSum(lastAddress, sum); });
    const int point = ResumePoint(writtenBytes(), m_pageSize, m_memorySize, writesByPageNumber(),
                                  m_target.image.identifier().toLatin1())
                          .find(sums);
    m_channel.resetMaxTimeoutMS();
    // Any doubt, a sum that did not come included, means the erase.
    if (point == ResumePoint::None) {
        log(QStringLiteral("The flash holds no part of the file with erased flash after it (%1 checksum requests); erasing.")
                .arg(sums.requestCount()));
        logRequestFailure();
        return false;
    }
    m_writeFrom = point;
    const int size = m_target.image.size();
    progressAndLog(ProgressMessage(ProgressId::Resuming, {hex(quint32(m_flashBase) + quint32(point)),
                                                         QString::number(qMin(point, size)), QString::number(size)}));
    log(QStringLiteral("The point took %1 checksum requests.").arg(sums.requestCount()));
    m_channel.noteResumed();
    return true;
}

QByteArray BootloaderDialogue::writtenBytes() const
{
    const int size = m_target.image.size();
    QByteArray bytes((size + Bootloader::WordBytes - 1) / Bootloader::WordBytes * Bootloader::WordBytes, '\0');
    for (int at = 0; at < bytes.size(); at += Bootloader::WordBytes) {
        const quint32 word = flashWord(m_target.image.start() + at);
        for (int i = 0; i < Bootloader::WordBytes; ++i)
            bytes[at + i] = char(word >> (8 * i));
    }
    return bytes;
}

bool BootloaderDialogue::writesByPageNumber() const
{
    bool byPageNumber = false;
    for (const char* type : Protocol::PageNumberTypes)
        byPageNumber = byPageNumber || m_version.startsWith(QLatin1String(type));
    return byPageNumber;
}

void BootloaderDialogue::erase()
{
    m_channel.reachPhase(UpdatePhase::Erase);
    progressAndLog(ProgressMessage(ProgressId::Erasing));
    m_channel.showBarMaximum(0);
    m_channel.showBarValue(0);
    QElapsedTimer elapsed;
    elapsed.start();
    m_channel.setMaxTimeoutMS(Bootloader::EraseTimeoutMs);
    // The erase takes seconds; the GUI thread that carries it must keep painting.
    m_channel.setForceProcessEvents(true);
    // Its reply tells nothing: the checksum after the write shows whether the flash was erased.
    sendOnce(Bootloader::EraseCommand, 0, 0, 0);
    const qint64 eraseMs = elapsed.elapsed();
    qCDebug(debLowLevel) << RunSignature << eraseMs << "ms";
    m_channel.showBarMaximum(1);
    m_channel.showBarValue(1);
    progress(ProgressMessage(ProgressId::ErasingFinished));
    log(QStringLiteral("Erasing after %1 ms finished.").arg(eraseMs));
    m_channel.resetMaxTimeoutMS();
    m_channel.setForceProcessEvents(false);
    sleepMs(AfterEraseMs);
}

bool BootloaderDialogue::writeImage()
{
    m_channel.reachPhase(UpdatePhase::Write);
    progressAndLog(ProgressMessage(ProgressId::Writing, {QString::number(m_target.image.size())}));
    m_channel.showBarMaximum(m_target.image.size());
    m_channel.showBarValue(m_writeFrom);
    m_channel.setTraceMode(true);
    m_channel.setMaxTimeoutMS(Bootloader::WriteTimeoutMs);
    sleepMs(AfterWriteSetupMs);
    useWindow(m_channel.requestWindow());

    m_byPageNumber = writesByPageNumber();
    const bool completed = m_byPageNumber ? writePagesByNumber() : writePagesByBuffer();

    m_channel.setTraceMode(false);
    m_channel.resetMaxTimeoutMS();
    if (completed)
        sleepMs(AfterWriteMs);
    return completed;
}

QVector<Command> BootloaderDialogue::pageWords(int position, int offset, int page) const
{
    QVector<Command> words;
    const int end = m_target.image.start() + m_target.image.size();
    do {
        const unsigned short type = m_byPageNumber
            ? static_cast<unsigned short>(offset >> Bootloader::WordShift)
            : static_cast<unsigned short>((offset >> Bootloader::WordShift) & 0xFF);
        const unsigned char bank = m_byPageNumber ? static_cast<unsigned char>(page & 0xFF)
                                                  : static_cast<unsigned char>((offset >> Bootloader::BankShift) & 0xFF);
        words.append(makeRequest(Bootloader::WriteWordCommand, type, bank, int(flashWord(position))));
        position += Bootloader::WordBytes;
        offset += Bootloader::WordBytes;
    } while (offset % m_pageSize != 0 && position < end);
    return words;
}

bool BootloaderDialogue::writeWords(QVector<Command>& words, int& position, int& offset, bool perWordCancel)
{
    int firstTry = 0;
    int next = 0;
    if (m_window > 1) {
        next = sendWindowed(words);
        for (int i = 0; i < next; ++i)
            wordWritten(position, offset);
        if (next == words.size())
            return true;
        // The rest of the update goes one at a time; the failed word counts as its first try.
        useWindow(1);
        if (!retryWord(0))
            return false;
        firstTry = 1;
    }
    for (; next < words.size(); ++next) {
        Command reply;
        if (!sendWord(words[next], reply, firstTry))
            return false;
        firstTry = 0;
        wordWritten(position, offset);
        if (perWordCancel && next + 1 < words.size() && cancelled())
            return false;
    }
    return true;
}

void BootloaderDialogue::useWindow(int window)
{
    m_window = window;
    // The result names the window in force when the write ended, not the one it began with.
    m_channel.noteWindow(window);
}

int BootloaderDialogue::sendWindowed(QVector<Command>& words)
{
    QVector<Command> replies(words.size());
    WindowedWords batch;
    for (int i = 0; i < words.size(); ++i) {
        batch.requests.append(&words[i]);
        batch.replies.append(&replies[i]);
    }
    m_channel.requestWords(batch);
    m_requestFailure = batch.failure;
    // A reply the link took may still not be the word's answer: the rest goes again from there.
    for (int i = 0; i < batch.carriedOut; ++i) {
        const QString objection = ReplyCheck::objection(words.at(i), replies.at(i));
        if (!objection.isEmpty()) {
            log(objection);
            m_requestFailure.clear();
            return i;
        }
    }
    return batch.carriedOut;
}

void BootloaderDialogue::wordWritten(int& position, int& offset)
{
    position += Bootloader::WordBytes;
    offset += Bootloader::WordBytes;
    m_channel.showBarValue(position - m_target.image.start());
    m_channel.progress(position - m_target.image.start(), m_target.image.size());
}

bool BootloaderDialogue::writePagesByNumber()
{
    int offset = m_writeFrom % m_pageSize;
    int page = Bootloader::FirstPageNumber + m_writeFrom / m_pageSize;
    const int end = m_target.image.start() + m_target.image.size();
    // No cancel point in here: these bootloaders must not be left with a page half written.
    for (int position = m_target.image.start() + m_writeFrom; position < end;) {
        QVector<Command> words = pageWords(position, offset, page);
        if (!writeWords(words, position, offset, false))
            return false;
        if (offset % m_pageSize == 0) {
            log(QStringLiteral("Written page at address: 0x")
                + hex(quint32(m_pageSize) * quint32(page) + quint32(m_flashBase)));
            ++page;
            offset = 0;
        }
    }
    return true;
}

bool BootloaderDialogue::writePagesByBuffer()
{
    // A resume goes on at a page's start here: the page buffer programs whole pages.
    int offset = 0;
    quint32 pageAddress = quint32(m_flashBase) + quint32(m_writeFrom);
    const int end = m_target.image.start() + m_target.image.size();
    for (int position = m_target.image.start() + m_writeFrom; position < end;) {
        QVector<Command> words = pageWords(position, offset, 0);
        if (!writeWords(words, position, offset, true))
            return false;
        if (offset % m_pageSize == 0 || position >= end) {
            log(QStringLiteral("Writing page at address: 0x") + hex(pageAddress));
            if (!sendOnce(Bootloader::ProgramPageCommand, 0, 0, int(pageAddress))) {
                failWith(ProgressMessage(ProgressId::PageUnwritten));
                return false;
            }
            m_channel.showBarValue(position - m_target.image.start());
            pageAddress += quint32(m_pageSize);
            offset = 0;
        }
        if (cancelled())
            return false;
    }
    return true;
}

bool BootloaderDialogue::sendWord(Command& request, Command& reply, int firstTry)
{
    for (int retry = firstTry;; ++retry) {
        send(request, reply);
        if (reply.isValid())
            return true;
        if (!retryWord(retry))
            return false;
    }
}

bool BootloaderDialogue::retryWord(int retry)
{
    progress(ProgressMessage(ProgressId::WordUnwritten));
    log(QStringLiteral("Programming error (1) Retry: ") + QString::number(retry));
    logRequestFailure();
    if (retry == Bootloader::WordTries - 1)
        return false;
    sleepMs(WordRetryMs);
    return true;
}

bool BootloaderDialogue::verifyChecksum()
{
    m_channel.reachPhase(UpdatePhase::Verify);
    Command request = checksumRequest();
    progress(ProgressMessage(ProgressId::VerifyingChecksum));
    log(QStringLiteral("Verifying checksum at address 0x%1...").arg(hex(quint32(request.value()))));
    m_channel.setMaxTimeoutMS(Bootloader::ChecksumTimeoutMs);
    Command reply;
    send(request, reply);
    if (!reply.isValid() || reply.command() != Bootloader::ReadChecksumCommand) {
        qCDebug(debLowLevel) << RunSignature << "Error! Command:" << reply.command();
        log(QStringLiteral("Checksum reply is invalid! -> trying again"));
        send(request, reply);
    }
    m_channel.resetMaxTimeoutMS();
    if (!reply.isValid()) {
        failWith(ProgressMessage(ProgressId::ChecksumUnread));
        return false;
    }
    const bool equal = reply.value() == m_target.image.checksum();
    progressAndLog(ProgressMessage(equal ? ProgressId::ChecksumsSuit : ProgressId::ChecksumsDiffer,
                                   {hex(quint32(reply.value())), hex(quint32(m_target.image.checksum()))}));
    return equal;
}

Command BootloaderDialogue::checksumRequest() const
{
    const quint32 lastAddress = quint32(m_flashBase) + quint32(m_target.image.size()) - 1;
    return makeRequest(Bootloader::ReadChecksumCommand, 0, 0, int(lastAddress));
}

bool BootloaderDialogue::storeSizeAndChecksum()
{
    m_channel.reachPhase(UpdatePhase::Store);
    progressAndLog(ProgressMessage(ProgressId::WritingChecksum, {hex(quint32(m_target.image.checksum()))}));
    Command reply;
    if (!sendOnce(Bootloader::StoreAttributeCommand, Bootloader::FirmwareSizeAttribute, 0, m_target.image.size(),
                  &reply)) {
        failWith(ProgressMessage(ProgressId::SizeUnsaved));
        return false;
    }
    if (reply.status() == Bootloader::AttributesUnsupportedStatus)
        return storeInFlashWords();
    if (!sendOnce(Bootloader::StoreAttributeCommand, Bootloader::FirmwareChecksumAttribute, 0,
                  m_target.image.checksum())) {
        failWith(ProgressMessage(ProgressId::ChecksumUnsaved));
        return false;
    }
    return true;
}

bool BootloaderDialogue::storeInFlashWords()
{
    const unsigned short sizeType =
        m_byPageNumber ? Bootloader::PageNumberSizeWordType : Bootloader::PageBufferSizeWordType;
    const unsigned short checksumType =
        m_byPageNumber ? Bootloader::PageNumberChecksumWordType : Bootloader::PageBufferChecksumWordType;
    const unsigned char bank =
        m_byPageNumber ? Bootloader::PageNumberAttributePage : Bootloader::PageBufferAttributeBank;
    // Only a missing, corrupt or other command's reply fails these: their status is not looked at.
    constexpr ReplyCheck::StatusRule AnyStatus = ReplyCheck::StatusRule::Any;
    if (!sendOnce(Bootloader::WriteWordCommand, sizeType, bank, m_target.image.size(), nullptr, AnyStatus)) {
        failWith(ProgressMessage(ProgressId::SizeWordUnwritten));
        return false;
    }
    if (!sendOnce(Bootloader::WriteWordCommand, checksumType, bank, m_target.image.checksum(), nullptr, AnyStatus)) {
        failWith(ProgressMessage(ProgressId::ChecksumWordUnwritten));
        return false;
    }
    // Page-number bootloaders write each word at once; a page buffer still has to be programmed.
    if (m_byPageNumber)
        return true;
    if (!sendOnce(Bootloader::ProgramPageCommand, 0, 0, Bootloader::PageBufferAttributePageAddress, nullptr, AnyStatus)) {
        failWith(ProgressMessage(ProgressId::AttributePageUnsaved));
        return false;
    }
    return true;
}

bool BootloaderDialogue::restartAndReconnect()
{
    m_channel.reachPhase(UpdatePhase::Restart);
    progressAndLog(ProgressMessage(ProgressId::Restarting));
    // Its reply tells nothing: the module may be gone before it answers.
    sendOnce(Bootloader::RestartCommand, 0, 0, 0);
    m_channel.reopenDevice(ModuleState::Ready);
    m_channel.showBarMaximum(1000);
    m_channel.showBarValue(0);
    // A USB module comes back under a new port; the widget follows it.
    return m_reenumerates || reconnect();
}

bool BootloaderDialogue::reconnect()
{
    m_channel.reachPhase(UpdatePhase::Reconnect);
    sleepMs(BeforeFirstReopenMs);
    m_channel.awaitReopen(ModuleState::Firmware, ReconnectReopenPollMs);
    if (!m_channel.isDeviceOpen()) {
        log(m_target.portName + QStringLiteral(": Unable to reconnect "));
        return true;
    }
    sleepMs(BeforeReconnectionMs);
    QString text;
    for (int attempt = 1;; ++attempt) {
        if (cancelled())
            return true;
        sleepMs(AfterVersionRequestMs);
        const unsigned char address = m_channel.currentModuleAddress();
        log(QStringLiteral("Try to read firmware version... (%1/%2)").arg(attempt).arg(ReconnectionAttempts)
            + QStringLiteral(" @") + m_target.portName + QStringLiteral(" id ") + QString::number(address)
            + (m_channel.isDeviceOpen() ? QStringLiteral(" is open") : QStringLiteral(" was closed!")));
        m_channel.readFirmwareVersion(&text, address);
        // A bootloader that answers means the module did not start its firmware.
        if (isVersionString(text) && !VersionText::isBootloaderAnswer(text)) {
            const QString restarted = QStringLiteral("Restarted module with firmware version \"%1\".");
            progress(ProgressMessage(ProgressId::UpdateCompleted, {FirmwareMatch::printable(text)}));
            log(restarted.arg(FirmwareMatch::printable(text).toHtmlEscaped()));
            return true;
        }
        if (cancelled() || attempt == ReconnectionAttempts) {
            progress(ProgressMessage(ProgressId::ReconnectionFailed));
            log(QStringLiteral("Reconnection canceled."));
            return false;
        }
        m_channel.awaitReopen(ModuleState::Firmware, ReconnectReopenPollMs);
    }
}

Command BootloaderDialogue::makeRequest(unsigned char command, unsigned short type, unsigned char motorBank,
                                        int value) const
{
    return Command(m_channel.currentModuleAddress(), command, type, motorBank, value, Bootloader::NoBroadcast,
                   Bootloader::ReplyAddress);
}

void BootloaderDialogue::send(Command& request, Command& reply, ReplyCheck::StatusRule rule)
{
    m_requestFailure = m_channel.request(request, reply);
    const QString objection = ReplyCheck::objection(request, reply, rule);
    if (!objection.isEmpty()) {
        log(objection);
        reply.invalidate();
    }
}

bool BootloaderDialogue::sendOnce(unsigned char command, unsigned short type, unsigned char motorBank, int value,
                                  Command* reply, ReplyCheck::StatusRule rule)
{
    Command request = makeRequest(command, type, motorBank, value);
    Command ownReply;
    Command* target = reply ? reply : &ownReply;
    send(request, *target, rule);
    return target->isValid();
}

quint32 BootloaderDialogue::flashWord(int position) const
{
    quint32 word = 0;
    for (int i = 0; i < Bootloader::WordBytes; ++i) {
        const int at = position + i;
        if (m_target.image.bytes() && at >= 0 && at < Protocol::ImageBytes)
            word |= quint32(m_target.image.bytes()[at]) << (8 * i);
    }
    return word;
}

bool BootloaderDialogue::cancelled() const
{
    return m_channel.isCancelRequested();
}

void BootloaderDialogue::sleepMs(int ms)
{
    m_channel.pause(std::chrono::milliseconds(ms));
}

void BootloaderDialogue::progress(const ProgressMessage& message)
{
    m_channel.showProgress(message);
}

void BootloaderDialogue::log(const QString& text)
{
    m_channel.log(text);
}

void BootloaderDialogue::progressAndLog(const ProgressMessage& message)
{
    progress(message);
    log(message.english());
}

void BootloaderDialogue::failWith(const ProgressMessage& message)
{
    progressAndLog(message);
    logRequestFailure();
}

void BootloaderDialogue::logRequestFailure()
{
    if (!m_requestFailure.isEmpty())
        log(m_requestFailure.toHtmlEscaped());
}
