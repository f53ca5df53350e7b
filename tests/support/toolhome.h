#pragma once

#include <QString>
#include <QTemporaryDir>

// The tool's home for a suite: a temporary folder named by DUX_HOME, with the settings and the firmware
// pool emptied before each test, so that no test sees what another one left.
class ToolHome
{
public:
    // Names the folder as the home; the tool's delays then take `timeScale` times as long.
    bool setUp(const char* timeScale);
    void reset();
    QString poolPath() const;
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
};
