#include "simulatedmodule.h"

#include "bootloadercommands.h"

#include <algorithm>

// The module answers the same command set the update run speaks.
using namespace Bootloader;

namespace {

// The command number a reply to 203 echoes when the module is told to echo the wrong one.
constexpr unsigned char WrongChecksumEcho = 204;

// Page-buffer scheme: the motor/bank byte counts kibibytes, the type byte words.
constexpr int BankBytes = 1 << BankShift;

constexpr const char* DefaultFirmwareVersion = "1234V101";
constexpr const char* DefaultBootloaderVersion = "1234B101";
constexpr quint32 DefaultFlashSize = Protocol::ImageBytes;

}

SimulatedModule::SimulatedModule(QObject* parent)
    : QObject(parent)
    , m_firmwareVersion(QLatin1String(DefaultFirmwareVersion))
    , m_bootloaderVersion(QLatin1String(DefaultBootloaderVersion))
    , m_flash(DefaultFlashSize, char(ErasedByte))
    , m_pageBuffer(m_pageSize, char(ErasedByte))
{
}

SimulatedModule::~SimulatedModule() = default;

SimulatedModule::Mode SimulatedModule::mode() const
{
    return m_mode;
}

void SimulatedModule::setMode(Mode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    emit modeChanged(mode);
}

unsigned char SimulatedModule::address() const
{
    return m_address;
}

void SimulatedModule::setAddress(unsigned char address)
{
    m_address = address;
}

QString SimulatedModule::firmwareVersion() const
{
    return m_firmwareVersion;
}

void SimulatedModule::setFirmwareVersion(const QString& version)
{
    m_firmwareVersion = version;
}

QString SimulatedModule::bootloaderVersion() const
{
    return m_bootloaderVersion;
}

void SimulatedModule::setBootloaderVersion(const QString& version)
{
    m_bootloaderVersion = version;
}

quint32 SimulatedModule::flashBase() const
{
    return m_flashBase;
}

void SimulatedModule::setFlashBase(quint32 base)
{
    m_flashBase = base;
    erase();
}

quint32 SimulatedModule::flashSize() const
{
    return quint32(m_flash.size());
}

void SimulatedModule::setFlashSize(quint32 size)
{
    m_flash.resize(int(size));
    erase();
}

int SimulatedModule::pageSize() const
{
    return m_pageSize;
}

void SimulatedModule::setPageSize(int bytes)
{
    m_pageSize = bytes;
    m_pageBuffer.fill(char(ErasedByte), std::max(bytes, 0));
}

SimulatedModule::WriteScheme SimulatedModule::writeScheme() const
{
    return m_writeScheme;
}

void SimulatedModule::setWriteScheme(WriteScheme scheme)
{
    m_writeScheme = scheme;
}

QByteArray SimulatedModule::flash() const
{
    return m_flash;
}

void SimulatedModule::loadFlash(quint32 address, const QByteArray& data)
{
    for (int i = 0; i < data.size(); ++i) {
        const quint32 at = address + quint32(i);
        if (contains(at, 1))
            m_flash[int(at - m_flashBase)] = data.at(i);
    }
}

quint32 SimulatedModule::flashWord(quint32 address) const
{
    quint32 word = 0;
    for (quint32 i = 0; i < WordBytes; ++i) {
        if (contains(address + i, 1))
            word |= quint32(quint8(m_flash.at(int(address + i - m_flashBase)))) << (8 * i);
    }
    return word;
}

quint32 SimulatedModule::flashChecksum(quint32 lastAddress) const
{
    if (lastAddress < m_flashBase)
        return 0;
    const qint64 end = std::min<qint64>(qint64(lastAddress - m_flashBase) + 1, m_flash.size());
    quint32 sum = 0;
    for (qint64 i = 0; i < end; ++i)
        sum += quint8(m_flash.at(int(i)));
    return sum;
}

bool SimulatedModule::hasStoredSize() const
{
    return m_hasStoredSize;
}

int SimulatedModule::storedSize() const
{
    return m_storedSize;
}

bool SimulatedModule::hasStoredChecksum() const
{
    return m_hasStoredChecksum;
}

int SimulatedModule::storedChecksum() const
{
    return m_storedChecksum;
}

void SimulatedModule::addFailure(const Failure& failure)
{
    Failure rule = failure;
    // These faults only exist for one command.
    if (rule.mode == FailureMode::Status2On208)
        rule.command = StoreAttributeCommand;
    else if (rule.mode == FailureMode::WrongChecksum || rule.mode == FailureMode::WrongEchoOn203)
        rule.command = ReadChecksumCommand;
    m_failures.append({rule, 0});
}

void SimulatedModule::setFailure(FailureMode mode, int command, int first, int count)
{
    clearFailures();
    Failure failure;
    failure.mode = mode;
    failure.command = command;
    failure.first = first;
    failure.count = count;
    addFailure(failure);
}

void SimulatedModule::clearFailures()
{
    m_failures.clear();
}

const SimulatedModule::Failure* SimulatedModule::failureFor(int command, int type)
{
    const Failure* applies = nullptr;
    for (ActiveFailure& active : m_failures) {
        const Failure& rule = active.failure;
        if ((rule.command != AnyCommand && rule.command != command) || (rule.type != AnyType && rule.type != type))
            continue;
        ++active.matched;
        const bool started = active.matched >= rule.first;
        const bool over = rule.count != Forever && active.matched >= rule.first + rule.count;
        if (!applies && started && !over)
            applies = &rule;
    }
    return applies;
}

SimulatedModule::Outcome SimulatedModule::handleRequest(const Command& request, Command* reply)
{
    m_requests.append(request);
    // Faults count every request on the bus, like requestCount(), whichever module it is for.
    const Failure* failure = failureFor(request.command(), request.type());
    if (request.moduleAddress() != m_address)
        return Outcome::NoReply;
    if (failure && failure->mode == FailureMode::NoReply)
        return Outcome::NoReply;
    if (failure && failure->mode == FailureMode::InvalidReply) {
        // The request was not carried out; what goes back is an error the transport spoils.
        reply->setReply(m_address, request.command(), StatusInvalidCommand, 0);
        return Outcome::InvalidReply;
    }
    const Outcome outcome = m_mode == Mode::Firmware ? answerFirmware(request, reply)
                                                      : answerBootloader(request, reply, failure);
    // No module answers a broadcast, though it carries it out.
    return request.isBroadcast() ? Outcome::NoReply : outcome;
}

SimulatedModule::Outcome SimulatedModule::answerFirmware(const Command& request, Command* reply)
{
    if (request.command() != EnterBootloaderCommand) {
        reply->setReply(m_address, request.command(), StatusInvalidCommand, 0);
        return Outcome::Reply;
    }
    const bool codeMatches = request.type() == EnterBootloaderType && request.motorBank() == EnterBootloaderBank
        && request.value() == EnterBootloaderValue;
    reply->setReply(m_address, request.command(), codeMatches ? StatusOk : StatusInvalidValue, 0);
    if (codeMatches)
        setMode(Mode::Bootloader);
    return Outcome::Reply;
}

SimulatedModule::Outcome SimulatedModule::answerBootloader(const Command& request, Command* reply,
                                                           const Failure* failure)
{
    const unsigned char command = request.command();
    const quint32 value = quint32(request.value());
    unsigned char status = StatusOk;
    quint32 result = 0;
    unsigned char echo = command;

    switch (command) {
    case ReadParameterCommand:
        if (request.type() == PageSizeParameter)
            result = quint32(m_pageSize);
        else if (request.type() == FlashBaseParameter)
            result = m_flashBase;
        else if (request.type() == MemorySizeParameter)
            result = flashSize();
        else
            status = StatusInvalidValue;
        break;
    case EraseCommand:
        erase();
        break;
    case WriteWordCommand:
        if (takeAttributeWord(request)) {
            break;
        } else if (m_writeScheme == WriteScheme::PageBuffer) {
            const int offset = request.motorBank() * BankBytes + request.type() * WordBytes;
            if (offset + WordBytes > m_pageBuffer.size()) {
                status = StatusInvalidValue;
                break;
            }
            for (int i = 0; i < WordBytes; ++i)
                m_pageBuffer[offset + i] = char(value >> (8 * i));
        } else {
            const int page = request.motorBank() - FirstPageNumber;
            const int offset = request.type() * WordBytes;
            const quint32 address = m_flashBase + quint32(page * m_pageSize + offset);
            if (page < 0 || offset + WordBytes > m_pageSize || !programWord(address, value))
                status = StatusInvalidValue;
        }
        break;
    case ProgramPageCommand:
        if (m_writeScheme != WriteScheme::PageBuffer)
            status = StatusInvalidCommand;
        else
            programPage(value, &status);
        break;
    case ReadChecksumCommand:
        if (!contains(value, 1)) {
            status = StatusInvalidValue;
            break;
        }
        result = flashChecksum(value);
        if (failure && failure->mode == FailureMode::WrongChecksum)
            ++result;
        if (failure && failure->mode == FailureMode::WrongEchoOn203)
            echo = WrongChecksumEcho;
        break;
    case StoreAttributeCommand:
        if (failure && failure->mode == FailureMode::Status2On208) {
            status = StatusInvalidCommand;
            m_attributesInWords = true;
        } else if (request.type() == FirmwareSizeAttribute) {
            m_hasStoredSize = true;
            m_storedSize = request.value();
        } else if (request.type() == FirmwareChecksumAttribute) {
            m_hasStoredChecksum = true;
            m_storedChecksum = request.value();
        } else {
            status = StatusInvalidValue;
        }
        break;
    case RestartCommand:
        reply->setReply(m_address, command, StatusOk, 0);
        restartFirmware();
        return Outcome::Reply;
    case EnterBootloaderCommand:
        break;
    default:
        status = StatusInvalidCommand;
        break;
    }
    reply->setReply(m_address, echo, status, int(result));
    return Outcome::Reply;
}

bool SimulatedModule::programWord(quint32 address, quint32 word)
{
    if (!contains(address, WordBytes))
        return false;
    // Programming can only clear bits, as on a real flash: writing over unerased cells shows up.
    const int at = int(address - m_flashBase);
    for (int i = 0; i < WordBytes; ++i)
        m_flash[at + i] = char(m_flash.at(at + i) & char(word >> (8 * i)));
    return true;
}

bool SimulatedModule::takeAttributeWord(const Command& request)
{
    if (!m_attributesInWords)
        return false;
    const bool byPageNumber = m_writeScheme == WriteScheme::PageNumber;
    const int bank = byPageNumber ? PageNumberAttributePage : PageBufferAttributeBank;
    const int sizeType = byPageNumber ? PageNumberSizeWordType : PageBufferSizeWordType;
    const int checksumType = byPageNumber ? PageNumberChecksumWordType : PageBufferChecksumWordType;
    if (request.motorBank() != bank || (request.type() != sizeType && request.type() != checksumType))
        return false;
    const bool size = request.type() == sizeType;
    (size ? m_hasRecordSize : m_hasRecordChecksum) = true;
    (size ? m_recordSize : m_recordChecksum) = request.value();
    // A page-number bootloader writes the word at once.
    if (byPageNumber) {
        (size ? m_hasStoredSize : m_hasStoredChecksum) = true;
        (size ? m_storedSize : m_storedChecksum) = request.value();
    }
    return true;
}

void SimulatedModule::programPage(quint32 address, unsigned char* status)
{
    // The page command programs the page that holds its address, whether or not it is the page's first.
    const quint32 pageBytes = quint32(std::max(m_pageSize, 1));
    if (m_attributesInWords && address / pageBytes == quint32(PageBufferAttributePageAddress) / pageBytes) {
        m_hasStoredSize = m_hasRecordSize;
        m_storedSize = m_recordSize;
        m_hasStoredChecksum = m_hasRecordChecksum;
        m_storedChecksum = m_recordChecksum;
        // The record's page lies outside the application's flash; the page buffer holds nothing for it.
        m_pageBuffer.fill(char(ErasedByte));
        return;
    }
    if (m_pageSize <= 0 || !contains(address, 1)) {
        *status = StatusInvalidValue;
        return;
    }
    const int start = int((address - m_flashBase) / pageBytes * pageBytes);
    const int bytes = std::min(m_pageSize, m_flash.size() - start);
    for (int i = 0; i < bytes; ++i)
        m_flash[start + i] = char(m_flash.at(start + i) & m_pageBuffer.at(i));
    m_pageBuffer.fill(char(ErasedByte));
}

void SimulatedModule::erase()
{
    m_flash.fill(char(ErasedByte));
    m_pageBuffer.fill(char(ErasedByte));
    m_hasStoredSize = false;
    m_hasStoredChecksum = false;
    m_attributesInWords = false;
    m_hasRecordSize = false;
    m_hasRecordChecksum = false;
}

void SimulatedModule::restartFirmware()
{
    m_firmwareVersion = findIdentifier(m_flash);
    setMode(Mode::Firmware);
}

bool SimulatedModule::contains(quint32 address, quint32 bytes) const
{
    return address >= m_flashBase && quint64(address - m_flashBase) + bytes <= quint64(m_flash.size());
}

SimulatedModule::Outcome SimulatedModule::queryVersion(unsigned char address, QString* version)
{
    ++m_versionQueries;
    version->clear();
    const Failure* failure = failureFor(VersionQuery, AnyType);
    if (address != m_address)
        return Outcome::NoReply;
    if (failure && failure->mode == FailureMode::NoReply)
        return Outcome::NoReply;
    if (failure && failure->mode == FailureMode::InvalidReply)
        return Outcome::InvalidReply;
    *version = m_mode == Mode::Firmware ? m_firmwareVersion : m_bootloaderVersion;
    return Outcome::Reply;
}

QVector<Command> SimulatedModule::requests() const
{
    return m_requests;
}

int SimulatedModule::requestCount(int command, int type) const
{
    return int(std::count_if(m_requests.cbegin(), m_requests.cend(), [command, type](const Command& request) {
        return request.command() == command && (type == AnyType || request.type() == type);
    }));
}

int SimulatedModule::versionQueryCount() const
{
    return m_versionQueries;
}

void SimulatedModule::clearRequests()
{
    m_requests.clear();
    m_versionQueries = 0;
}

QString SimulatedModule::findIdentifier(const QByteArray& data)
{
    return QString::fromStdString(
        IntelHex::findIdentifier(reinterpret_cast<const unsigned char*>(data.constData()), data.size()));
}
