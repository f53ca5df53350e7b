#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// Every short status of an update that the progress line shows. A new one is one value here and its
// English text in progressmessage.cpp, in the same place of the list; its German goes into the catalogue.
enum class ProgressId {
    EnteringBootloader,
    Disconnecting,
    Reconnected,
    Canceled,
    NoFirmware,
    NoFirmwareBecause,
    FileNotWritten,
    NotNewer,
    UnexpectedSha256,
    DetectionTimedOut,
    NotInBootloader,
    ModuleMatches,
    ModuleMismatch,
    PageSizeUnread,
    FlashBaseUnread,
    BaseMismatch,
    FlashBase,
    FileTooLarge,
    ImplausiblePageSize,
    ImplausibleMemorySize,
    ImplausibleFlashBase,
    AlreadyHeld,
    ComparingSums,
    SumsUnread,
    AllPagesEqual,
    PagesDiffer,
    ReadingBack,
    ReadBackSoFar,
    ReadBackFailed,
    ReadBackDone,
    NoMemorySize,
    RangeOutsideFlash,
    RangeOutsideFlashOfSize,
    Resuming,
    Erasing,
    ErasingFinished,
    Writing,
    WordUnwritten,
    PageUnwritten,
    VerifyingChecksum,
    ChecksumUnread,
    ChecksumsSuit,
    ChecksumsDiffer,
    WritingChecksum,
    SizeUnsaved,
    ChecksumUnsaved,
    SizeWordUnwritten,
    ChecksumWordUnwritten,
    AttributePageUnsaved,
    Restarting,
    UpdateCompleted,
    ReconnectionFailed,
    // Not a status: how many there are; a message made without one (the meta-type system's) says nothing.
    Count
};

// One status by its id and its values, already written out as text. The English text is the system's
// own (the history, the records, dux-host); the progress line shows it in the user's language.
class ProgressMessage
{
public:
    ProgressMessage() = default;
    explicit ProgressMessage(ProgressId id, const QStringList& values = {});

    ProgressId id() const { return m_id; }
    QString english() const;
    QString translated() const;

private:
    ProgressId m_id = ProgressId::Count;
    QStringList m_values;
};

Q_DECLARE_METATYPE(ProgressMessage)
