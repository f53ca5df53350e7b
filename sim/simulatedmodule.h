#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QVector>

#include "command.h"
#include "protocolfacts.h"

// Answers DUXL requests as one module would: its firmware answers the version query and the
// bootloader-entry command; its bootloader implements the update commands 200 to 208 on a simulated
// flash. It has no link of its own: a command handler (in process or on a pseudo-terminal) feeds it.
// Not thread-safe: use it from one thread.
class SimulatedModule : public QObject
{
    Q_OBJECT
public:
    enum class Mode { Firmware, Bootloader };
    Q_ENUM(Mode)

    // How the bootloader takes 201: words collected in a page buffer and programmed by 202, or words
    // addressed directly by page number (the first application page being number 16) and index.
    enum class WriteScheme { PageBuffer, PageNumber };
    Q_ENUM(WriteScheme)

    // What the transport is to do with the reply of one request.
    enum class Outcome {
        Reply,        // send the filled reply
        NoReply,      // stay silent; the reply is left untouched
        InvalidReply, // send something that is not a well-formed reply (a wire transport garbles the frame)
    };
    Q_ENUM(Outcome)

    enum class FailureMode {
        NoReply,        // matching requests are not answered
        InvalidReply,   // matching requests are answered with a reply that is not well-formed
        Status2On208,   // matching 208 requests are unknown to the bootloader: status 2, nothing stored
        WrongChecksum,  // matching 203 requests report the flash sum plus one
        WrongEchoOn203, // matching 203 replies echo command number 204 instead of 203
    };
    Q_ENUM(FailureMode)

    // Command value of a failure that stands for the version query, which is no numbered command here.
    static constexpr int VersionQuery = 256;
    static constexpr int AnyCommand = -1;
    static constexpr int AnyType = -1;
    static constexpr int Forever = -1;

    // One fault: the `count` requests that match `command` (and `type`), starting with the `first`
    // matching one (counted from 1 since the failure was added), get `mode` instead of a normal answer.
    // Requests are counted whatever their address, as requestCount() counts them.
    struct Failure
    {
        FailureMode mode = FailureMode::NoReply;
        int command = AnyCommand;
        int type = AnyType;
        int first = 1;
        int count = Forever;
    };

    // Reply status bytes.
    static constexpr unsigned char StatusOk = 100;
    static constexpr unsigned char StatusInvalidCommand = 2;
    static constexpr unsigned char StatusInvalidValue = 4;

    // Bootloader-entry command of the firmware and its fixed code.
    static constexpr unsigned char EnterBootloaderCommand = Protocol::EnterBootloaderCommand;
    static constexpr unsigned short EnterBootloaderType = Protocol::EnterBootloaderType;
    static constexpr unsigned char EnterBootloaderBank = Protocol::EnterBootloaderBank;
    static constexpr int EnterBootloaderValue = Protocol::EnterBootloaderCode;

    static constexpr unsigned char ErasedByte = 0xFF;

    explicit SimulatedModule(QObject* parent = nullptr);
    ~SimulatedModule() override;

    Mode mode() const;
    // Switches without a request, as a power-up into that mode would.
    void setMode(Mode mode);

    // Bus address the module answers on (default 1); requests to other addresses get no reply.
    unsigned char address() const;
    void setAddress(unsigned char address);

    // Version text of the firmware (default "1234V101"); replaced after a restart by the identifier
    // found in the new flash.
    QString firmwareVersion() const;
    void setFirmwareVersion(const QString& version);
    // Version text of the bootloader (default "1234B101").
    QString bootloaderVersion() const;
    void setBootloaderVersion(const QString& version);

    // Flash geometry (defaults: base 0, 0x40000 bytes, pages of 1024 bytes, page-buffer scheme).
    // Setting base or size erases the flash.
    quint32 flashBase() const;
    void setFlashBase(quint32 base);
    quint32 flashSize() const;
    void setFlashSize(quint32 size);
    int pageSize() const;
    void setPageSize(int bytes);
    WriteScheme writeScheme() const;
    void setWriteScheme(WriteScheme scheme);

    // The flash content from flashBase() on, flashSize() bytes.
    QByteArray flash() const;
    // Puts `data` at `address` (absolute) as if it had been programmed; bytes outside the flash are dropped.
    void loadFlash(quint32 address, const QByteArray& data);
    // Little-endian word at an absolute address; 0 outside the flash.
    quint32 flashWord(quint32 address) const;
    // 32-bit sum of the flash bytes from flashBase() through `lastAddress`.
    quint32 flashChecksum(quint32 lastAddress) const;

    // What 208 stored; hasStored...() is false until then and after an erase.
    bool hasStoredSize() const;
    int storedSize() const;
    bool hasStoredChecksum() const;
    int storedChecksum() const;

    // Faults; each keeps its own count of matching requests.
    void addFailure(const Failure& failure);
    // Replaces all faults by this one.
    void setFailure(FailureMode mode, int command = AnyCommand, int first = 1, int count = Forever);
    void clearFailures();

    // Handles one request and fills `reply` unless the outcome is NoReply.
    Outcome handleRequest(const Command& request, Command* reply);
    // Answers the version query at `address`: the text of the present mode. Empty text with NoReply.
    Outcome queryVersion(unsigned char address, QString* version);

    // Every numbered request seen since the last clearRequests(), in order (version queries excluded).
    QVector<Command> requests() const;
    int requestCount(int command, int type = AnyType) const;
    int versionQueryCount() const;
    void clearRequests();

    // The identifier the firmware scan finds in `data` (patterns "####V###", "####C###", "###V#.##",
    // "C###V###", "C###C###" in this order; never at offset 0), or an empty text.
    static QString findIdentifier(const QByteArray& data);

signals:
    void modeChanged(SimulatedModule::Mode mode);

private:
    struct ActiveFailure
    {
        Failure failure;
        int matched = 0;
    };
    // The fault that applies to this request, counting it for every rule it matches; null when none.
    const Failure* failureFor(int command, int type);
    Outcome answer(const Command& request, Command* reply);
    Outcome answerFirmware(const Command& request, Command* reply);
    Outcome answerBootloader(const Command& request, Command* reply, const Failure* failure);
    bool programWord(quint32 address, quint32 word);
    // Takes a word of the store step's fallback into the attribute record; false when `request` is none.
    bool takeAttributeWord(const Command& request);
    void programPage(quint32 address, unsigned char* status);
    void erase();
    void restartFirmware();
    bool contains(quint32 address, quint32 bytes) const;

    Mode m_mode = Mode::Firmware;
    unsigned char m_address = 1;
    QString m_firmwareVersion;
    QString m_bootloaderVersion;
    quint32 m_flashBase = 0;
    QByteArray m_flash;
    int m_pageSize = 1024;
    WriteScheme m_writeScheme = WriteScheme::PageBuffer;
    QByteArray m_pageBuffer;
    bool m_hasStoredSize = false;
    int m_storedSize = 0;
    bool m_hasStoredChecksum = false;
    int m_storedChecksum = 0;
    // Since it answered 208 with status 2 (until the next erase), the bootloader keeps size and checksum
    // in flash words of their own, outside the application's flash: the page-number scheme's are
    // written at once, the page-buffer scheme's wait here for the page command that programs their page.
    bool m_attributesInWords = false;
    bool m_hasRecordSize = false;
    int m_recordSize = 0;
    bool m_hasRecordChecksum = false;
    int m_recordChecksum = 0;
    QVector<ActiveFailure> m_failures;
    QVector<Command> m_requests;
    int m_versionQueries = 0;
};
