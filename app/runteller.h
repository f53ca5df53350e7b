#pragma once

#include "hostoptions.h"
#include "updateresult.h"

#include <QList>
#include <QObject>
#include <QString>
#include <memory>

class ModuleUpdate;
class ProgressBoard;
class ProgressPrinter;
class QTextStream;
class RunLog;

// Tells a dux-host run from its results, as it goes and at its end: the progress (one rewriting line
// for one module, a line each for several), the history (-v), under --watch each module's closing line
// as it ends, then the closing line, the table or the count. With --json stdout carries one JSON object
// per module (JSON lines, docs/json.md) and nothing else; every other line goes to stderr. The --log
// file gets every update's history and every line but the progress and the JSON, whatever -q or -v.
class RunTeller : public QObject
{
    Q_OBJECT
public:
    // What goes to stdout and what to stderr.
    struct Text
    {
        QString out;
        QString err;
    };

    RunTeller(const HostOptions& options, const QString& fileIdentifier, QObject* parent = nullptr);
    ~RunTeller() override;

    // The --log file (null: none); it outlives the teller.
    void setLog(const RunLog* log);

    // Where the lines of a running update go (stderr with --json, stdout else), and whether they
    // include its history (-v).
    QTextStream* lines() const;
    bool printsHistory() const;
    void watching();
    void searching(const QString& reason);
    // The write's words at the link's line time, for the time still to go before the write has settled.
    void setLineWriteMs(qint64 ms);
    // The update's progress is shown from now on; call before it starts.
    void updateAdded(ModuleUpdate* update);
    // --watch tells each module as it ends.
    void moduleEnded(const UpdateResult& result);
    // --retries: how an attempt ended, and that attempt `next` of `attempts` follows.
    void retrying(const UpdateResult& result, int next, int attempts);
    // The run has ended; the first `told` results were told already.
    void runEnded(const QList<UpdateResult>& results, int told);
    // What runEnded prints; `cutLine`: a progress line may be half written. Safe from any thread.
    Text endText(const QList<UpdateResult>& results, int told, bool cutLine) const;
    // Appends the lines of `text` that a person reads (the JSON stays out) to the --log file. Safe from
    // any thread.
    void log(const Text& text) const;
    // A progress line rewrites itself on the terminal.
    bool rewritesLine() const;

private:
    void add(Text* text, const UpdateResult& result, bool closingLine) const;
    void print(const Text& text) const;

    const HostOptions m_options;
    const QString m_fileIdentifier;
    std::unique_ptr<ProgressPrinter> m_printer;
    std::unique_ptr<ProgressBoard> m_board;
    const RunLog* m_log = nullptr;
    qint64 m_lineWriteMs = 0;
};
