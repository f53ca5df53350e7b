#pragma once

#include "appsettings.h"
#include "firmwarebuilder.h"
#include "firmwareupdate.h"
#include "messagelog.h"
#include "simulatedmodule.h"
#include "toolharness.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The home folder and the diagnostic lines of a form test; a base of its own so that it outlives the
// tool, which writes its settings into the home folder on its way out.
class FormHome
{
protected:
    FormHome()
    {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("home"));
        root.mkpath(QStringLiteral("files"));
        qputenv(AppSettings::HomeEnvironmentVariable, root.filePath(QStringLiteral("home")).toUtf8());
    }

    MessageLog m_log;
    QTemporaryDir m_dir;
};

// The "Firmware update" tool in a host window of the fake host, with its home in a temporary folder,
// modules that answer with their firmware text, and the diagnostic lines it writes.
class FirmwareFormHarness : private FormHome, public ToolHarness
{
public:
    static constexpr const char* ModuleName = "Stepper-1234";
    static constexpr const char* ModuleFirmware = "1234V308";
    static constexpr const char* DefaultModuleKey = "COM3/1/id1";

    explicit FirmwareFormHarness(const QStringList& moduleKeys = {QLatin1String(DefaultModuleKey)})
    {
        for (const QString& key : moduleKeys)
            addModule(key);
        start();
    }

    template<typename T>
    T* child(const char* name) const
    {
        return tool()->findChild<T*>(QLatin1String(name));
    }
    QString text(const char* lineEditName) const { return lineEdit(lineEditName)->text(); }
    void setFileName(const QString& name) { lineEdit("leFilename")->setText(name); }

    QString rootPath() const { return m_dir.path(); }
    QString homePath() const { return AppSettings::homePath(); }
    QString poolPath() const { return QDir::cleanPath(homePath() + QStringLiteral("/../Firmware")); }
    // A folder beside the home folder, where the user keeps firmware.
    QString filesPath(const QString& name) const { return m_dir.filePath(QStringLiteral("files/") + name); }

    void addModule(const QString& key)
    {
        FakeHost::ModuleSetup setup;
        setup.port = key.section(QLatin1Char('/'), 0, 0);
        setup.moduleName = QLatin1String(ModuleName);
        setup.key = key;
        host().addModule(setup);
        host().device(key)->setFirmwareVersion(QLatin1String(ModuleFirmware));
    }
    void removeModule(const QString& key) { host().withdrawModule(key); }
    void refreshModules() { button("btnRefresh")->click(); }

    // The remembered firmware location of the test modules; invalid when none is stored.
    QVariant storedDirectory() const
    {
        QSettings stored(homePath() + QStringLiteral("/dux.ini"), QSettings::IniFormat);
        return stored.value(QStringLiteral("Container_FirmwareUpdate/%1_Dir").arg(QLatin1String(ModuleName)));
    }

    // Calls the slot as the text field does, and returns its result.
    bool fileNameChanged(const QString& name)
    {
        bool loaded = false;
        QMetaObject::invokeMethod(tool(), "fileNameChanged", Qt::DirectConnection, Q_RETURN_ARG(bool, loaded),
                                  Q_ARG(QString, name));
        return loaded;
    }

    // Diagnostic lines written since the last call.
    QStringList takeMessages()
    {
        const QStringList lines = m_log.messages();
        m_log.clear();
        return lines;
    }
    // Those of one function, without its name.
    QStringList takeMessagesOf(const QString& function)
    {
        QStringList lines;
        const QString prefix = function + QLatin1Char(' ');
        for (const QString& line : takeMessages()) {
            if (line.startsWith(prefix))
                lines << line.mid(prefix.size());
        }
        return lines;
    }
};
