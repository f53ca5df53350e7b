#include "runteller.h"

#include "console.h"
#include "moduleupdate.h"
#include "progressboard.h"
#include "progressevents.h"
#include "progressprinter.h"
#include "runlog.h"
#include "updatesummary.h"
#include "visibletext.h"

#include <QJsonDocument>
#include <QTextStream>

RunTeller::RunTeller(const HostOptions& options, const QString& fileIdentifier, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_fileIdentifier(fileIdentifier)
{
}

RunTeller::~RunTeller() = default;

void RunTeller::setLog(const RunLog* log)
{
    m_log = log;
}

QTextStream* RunTeller::lines() const
{
    // stdout carries the JSON alone.
    return m_options.json ? &Console::err() : &Console::out();
}

bool RunTeller::printsHistory() const
{
    return int(m_options.verbosity) >= int(HostOptions::Verbosity::Verbose) && !m_options.updatesSeveral();
}

bool RunTeller::rewritesLine() const
{
    return (m_printer || m_board) && Console::outputIsTerminal();
}

void RunTeller::watching()
{
    const QString line = QStringLiteral("Waiting for modules to update with %1 (firmware %2); Ctrl-C ends\n")
                             .arg(visibleText(m_options.fileName), visibleText(m_fileIdentifier));
    if (m_options.verbosity == HostOptions::Verbosity::Quiet)
        log({QString(), line});
    else
        print(m_options.json ? Text{QString(), line} : Text{line, QString()});
}

void RunTeller::searching(const QString& reason)
{
    const QString line = QStringLiteral("dux-host: %1; looking again until the time-out (%2 s)\n")
                             .arg(visibleText(reason), QString::number(m_options.timeoutSeconds));
    if (m_options.verbosity == HostOptions::Verbosity::Quiet)
        log({QString(), line});
    else
        print({QString(), line});
}

void RunTeller::setLineWriteMs(qint64 ms)
{
    m_lineWriteMs = ms;
}

void RunTeller::updateAdded(ModuleUpdate* update)
{
    if (m_log) {
        // Several modules' lines interleave in one file: each names its module.
        const QString prefix = m_options.updatesSeveral() || m_options.watch ? visibleText(update->moduleKey()) + QLatin1Char(' ')
                                                                             : QString();
        const RunLog* log = m_log;
        connect(update, &ModuleUpdate::historyLine, this, [log, prefix](const QString& line) { log->append(line, prefix); });
    }
    if (m_options.json && m_options.jsonProgress) {
        auto* events = new ProgressEvents(&Console::out(), update->moduleKey(), m_lineWriteMs, update);
        connect(update, &ModuleUpdate::phaseChanged, events, &ProgressEvents::phaseReached);
        connect(update, &ModuleUpdate::progressed, events, &ProgressEvents::progressed);
        return;
    }
    if (m_options.verbosity != HostOptions::Verbosity::Normal || m_options.json)
        return;
    if (!m_options.updatesSeveral() && !m_options.watch) {
        m_printer = std::make_unique<ProgressPrinter>(&Console::out(), Console::outputIsTerminal());
        m_printer->setLineWriteMs(m_lineWriteMs);
        connect(update, &ModuleUpdate::phaseChanged, m_printer.get(), &ProgressPrinter::phaseReached);
        connect(update, &ModuleUpdate::progressed, m_printer.get(), &ProgressPrinter::progressed);
        // The entry phase is reached within the click on Update.
        m_printer->start();
        return;
    }
    if (!m_board)
        m_board = std::make_unique<ProgressBoard>(&Console::out(), Console::outputIsTerminal());
    const int row = m_board->addModule(visibleText(update->moduleKey()), m_lineWriteMs);
    ProgressBoard* board = m_board.get();
    connect(update, &ModuleUpdate::phaseChanged, board, [board, row](const QString& phase) { board->phaseReached(row, phase); });
    connect(update, &ModuleUpdate::progressed, board,
            [board, row](qint64 done, qint64 total) { board->progressed(row, done, total); });
    // --watch tells each module as it ends (moduleEnded), below the lines of those still running.
    if (m_options.watch)
        connect(update, &ModuleUpdate::ended, board, [board, row] { board->endModule(row); });
}

void RunTeller::add(Text* text, const UpdateResult& result, bool closingLine) const
{
    if (closingLine) {
        // A refusal is a diagnostic; with --json stdout holds the objects alone.
        QString& target = result.result == UpdateResult::Result::NotStarted || m_options.json ? text->err : text->out;
        target += result.closingLine() + QLatin1Char('\n');
    }
    if (m_options.json)
        text->out += QString::fromUtf8(QJsonDocument(result.toJson()).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
}

void RunTeller::moduleEnded(const UpdateResult& result)
{
    Text text;
    add(&text, result, true);
    if (m_board)
        m_board->clear();
    print(text);
}

void RunTeller::retrying(const UpdateResult& result, int next, int attempts)
{
    if (m_board)
        m_board->clear();
    // One arg() call: a module's text in the closing line may hold "%2".
    print({QString(), QStringLiteral("dux-host: %1; trying again (attempt %2 of %3)\n")
                          .arg(result.closingLine(), QString::number(next), QString::number(attempts))});
}

RunTeller::Text RunTeller::endText(const QList<UpdateResult>& results, int told, bool cutLine) const
{
    Text text;
    const QList<UpdateResult> untold = results.mid(told);
    // A table for several modules; a line each where no module was chosen, or for a plan.
    const bool refusedUpFront = results.size() == 1 && results.first().moduleKey.isEmpty();
    const bool table = m_options.updatesSeveral() && !m_options.dryRun && !refusedUpFront;
    for (const UpdateResult& result : untold)
        add(&text, result, !table);
    if (table)
        (m_options.json ? text.err : text.out) += UpdateSummary::table(results);
    if (m_options.watch && !refusedUpFront)
        (m_options.json ? text.err : text.out) += UpdateSummary::watchCount(results, m_fileIdentifier) + QLatin1Char('\n');
    if (cutLine && !text.out.isEmpty())
        text.out.prepend(QLatin1Char('\n'));
    return text;
}

void RunTeller::runEnded(const QList<UpdateResult>& results, int told)
{
    if (m_printer)
        m_printer->finish();
    if (m_board)
        m_board->finish();
    print(endText(results, told, false));
}

void RunTeller::print(const Text& text) const
{
    Console::err() << text.err << Qt::flush;
    Console::out() << text.out << Qt::flush;
    log(text);
}

void RunTeller::log(const Text& text) const
{
    if (!m_log)
        return;
    m_log->append(text.err);
    if (!m_options.json)
        m_log->append(text.out);
}
