#pragma once

#include <QString>

// Appends the lines a run tells to the --log file as they come, one write each, so that a run cut
// short (a second Ctrl-C, the watchdog's hard end) leaves what it said; safe from any thread.
class RunLog
{
public:
    RunLog() = default;
    ~RunLog();
    RunLog(const RunLog&) = delete;
    RunLog& operator=(const RunLog&) = delete;

    // Opens `path` for appending, creating it; false (and errorString()) when it cannot.
    bool open(const QString& path);
    QString errorString() const { return m_errorString; }

    // Each non-empty line of `text`, after `prefix` (a module's key and a space, or nothing).
    void append(const QString& text, const QString& prefix = QString()) const;

private:
    int m_descriptor = -1;
    QString m_errorString;
};
