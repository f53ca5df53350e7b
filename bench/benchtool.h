#pragma once

#include "fakehost.h"

#include <QDialog>
#include <QString>
#include <QStringList>
#include <memory>

class FirmwareUpdate;
class LinkModule;
class QProgressBar;
class SerialConnection;

// The "Firmware update" tool in a window of its own, among the plug-ins of a host made for the
// benchmarks, with modules simulated in process or served by dux-sim on a pseudo-terminal. Runs whole
// updates through the tool's form, as dux-host does.
class BenchTool
{
public:
    BenchTool();
    ~BenchTool();
    BenchTool(const BenchTool&) = delete;
    BenchTool& operator=(const BenchTool&) = delete;

    // A module simulated in process, behind its command handler; returns its key.
    QString addInProcessModule();
    // A module served by dux-sim (run with `simulatorArguments`) on a pseudo-terminal, reached through
    // the host's serial link; returns its key, or an empty text (see errorString()).
    QString addPtyModule(const QStringList& simulatorArguments);

    // Creates the tool, which lists the modules added so far, in its window.
    void start(bool show);
    QWidget* window() { return &m_window; }
    QProgressBar* progressBar() const;

    // Updates the module of `key` with the HEX file `fileName` through the form and waits for the end.
    bool update(const QString& key, const QString& fileName);
    QString errorString() const { return m_errorString; }

private:
    struct PtyModule;

    FakeHost m_host;
    std::vector<std::unique_ptr<PtyModule>> m_ptyModules;
    QDialog m_window;
    FirmwareUpdate* m_tool = nullptr;
    QString m_errorString;
};
