#pragma once

#include "firmwareimage.h"
#include "progressmessage.h"
#include "replycheck.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

class Command;
class DialogueChannel;

// One update run's dialogue with a module's bootloader, from detection to reconnection. Runs on the
// worker thread and reaches the module, the widget and the outcome only through its channel.
class BootloaderDialogue
{
public:
    // Detection gives up after this long without a bootloader's answer. Real time, like the reply
    // time-outs: a bootloader answers within a few tries.
    static constexpr int DetectionBoundMs = 30000;

    // The module's link and the firmware the run writes to it.
    struct Target
    {
        // DUXLConnectionInterface::LinkKind of the module's link.
        int linkKind = 0;
        QString portName;
        // The handler's "dpComPort", for the diagnostic of a link found closed.
        QVariant comPort;
        FirmwareImage image;
        int detectionBoundMs = DetectionBoundMs;
        // A module whose flash already sums to the file's checksum is restarted without an erase.
        bool skipIfHeld = false;
        // The sums of the module's flash are compared with the file's, and the module restarted unerased.
        bool verifyOnly = false;
        // The module's flash is read back, byte by byte, and the module restarted unerased; from
        // `readFirst` up to `readEnd` (flash addresses, -1: the flash base, and its end as the memory size
        // states it).
        bool readBack = false;
        qint64 readFirst = -1;
        qint64 readEnd = -1;
        // A module whose flash holds a prefix of the file, and reads erased after it, is written on from
        // there without an erase.
        bool tryResume = false;
    };

    BootloaderDialogue(DialogueChannel& channel, const Target& target);

    // True when the run reached its successful end; false when it failed or was cancelled, after
    // the messages of the failure (none for a cancel).
    bool run();

    // Whether a version text can be a bootloader's or a firmware's answer at all.
    static bool isVersionString(const QString& text);

private:
    bool detectBootloader();
    bool checkIdentity();
    bool readParameters();
    // Each is false, after saying why, when the module's value did not come or does not suit the file.
    bool readPageSize();
    bool readFlashBase();
    bool readMemorySize();
    // What the module's sums over the file's range show against the file's.
    struct SumComparison
    {
        quint32 moduleSum = 0;
        // Pages in the file's range; 0 when their sums were not read.
        int pages = 0;
        // The pages (from 0) whose sums differ from the file's.
        QVector<int> differingPages;
        // Whether the flash after the file's last word reads erased up to the memory's end, as an update
        // leaves it; false when it does not or the module states no memory size.
        bool restErased = false;
        int requests = 0;
    };

    // Whether the flash over the file's range, and every page of it, sums to what the file does.
    bool holdsImage();
    // Compares the module's sums with the file's, tells which pages differ and restarts the module; false
    // when a sum did not come or the module did not come back.
    bool verifyFlash();
    // Reads the range back through running sums, tells how far it is, and restarts the module; false when
    // the range is not the flash's, a sum did not come, or it was cancelled.
    bool readBackFlash();
    // The range to read back: false, after saying why, when it does not lie in the module's flash.
    bool readBackRange(quint32* first, quint32* end);
    // Reads the module's sum over the file's range and, when it equals the file's or
    // `pagesWhenWholeDiffers`, every page's; false when a sum did not come.
    bool compareSums(bool pagesWhenWholeDiffers, SumComparison* comparison);
    // The values of the status that names the differing pages.
    QStringList differingPagesValues(const SumComparison& comparison) const;
    // One checksum request: the running sum through `lastAddress`, taken only when the reply echoes it.
    bool runningSum(quint32 lastAddress, quint32* sum);
    // Whether the flash shows a prefix of the file and erased flash after it; sets where the write goes on.
    bool findResumePoint();
    // The bytes the write puts into the flash: the program padded with zeros to whole words.
    QByteArray writtenBytes() const;
    bool writesByPageNumber() const;
    void erase();
    // Each is true when every word went out; false after a failure or a cancel.
    bool writeImage();
    bool writePagesByNumber();
    bool writePagesByBuffer();
    // The words of the page from `position` (`offset` in the page) on, up to its end or the image's.
    QVector<Command> pageWords(int position, int offset, int page) const;
    // Sends the words of one page, several in flight while the link keeps a window, and moves `position`
    // and `offset` past each one carried out. `perWordCancel`: a cancel ends the run between words sent
    // one at a time.
    bool writeWords(QVector<Command>& words, int& position, int& offset, bool perWordCancel);
    // Sends the words with the link's window; how many from the front were carried out.
    int sendWindowed(QVector<Command>& words);
    // Sends one word, from try `firstTry` on, until its reply carries it out or the tries are spent.
    bool sendWord(Command& request, Command& reply, int firstTry);
    // Tells of the word's try `retry` that failed; false when no try is left, else waits for the next.
    bool retryWord(int retry);
    // Moves `position` (in the image) and `offset` (in the page) past one word, showing the progress.
    void wordWritten(int& position, int& offset);
    bool verifyChecksum();
    // The request for the sum of the flash from its base to the file's last byte.
    Command checksumRequest() const;
    // Words in flight from now on, as the write phase's result tells it.
    void useWindow(int window);
    bool storeSizeAndChecksum();
    bool storeInFlashWords();
    bool restartAndReconnect();
    // Reopens the link for the firmware and asks for its version until the firmware answers.
    bool reconnect();

    Command makeRequest(unsigned char command, unsigned short type, unsigned char motorBank, int value) const;
    void send(Command& request, Command& reply, ReplyCheck::StatusRule rule = ReplyCheck::StatusRule::Done);
    // Sends a new request and tells whether a well-formed reply came back.
    bool sendOnce(unsigned char command, unsigned short type, unsigned char motorBank, int value,
                  Command* reply = nullptr, ReplyCheck::StatusRule rule = ReplyCheck::StatusRule::Done);
    quint32 flashWord(int position) const;
    bool cancelled() const;
    void sleepMs(int ms);

    void progress(const ProgressMessage& message);
    void log(const QString& text);
    void progressAndLog(const ProgressMessage& message);
    // Shows the fixed text of a failed step, and on a line of its own why its last request failed.
    void failWith(const ProgressMessage& message);
    void logRequestFailure();

    DialogueChannel& m_channel;
    const Target m_target;

    QString m_version;
    // Why the last request was not carried out; empty when it was.
    QString m_requestFailure;
    // A link whose module comes back under a new port (USB) must be open at the start; the tool
    // follows it after the restart.
    const bool m_reenumerates;
    bool m_skipsIdentityTests = false;
    bool m_byPageNumber = false;
    int m_pageSize = 0;
    int m_flashBase = 0;
    // As the module stated it; -1 when it did not.
    qint64 m_memorySize = -1;
    // How many words the link keeps in flight; 1 from the first failure of the window on.
    int m_window = 1;
    // Where the write begins, from the program's start: 0, or the point a resume found.
    int m_writeFrom = 0;
};
