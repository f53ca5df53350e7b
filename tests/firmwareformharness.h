#pragma once

#include "appsettings.h"
#include "commandhandlerinterface.h"
#include "duxlconnectioninterface.h"
#include "duxlmoduleinterface.h"
#include "firmwareupdate.h"
#include "intelhexparser.h"
#include "messagelog.h"
#include "peripherymanager.h"
#include "pluginhandler.h"

#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

// The "Firmware update" tool in a host window, with its home in a temporary folder, modules whose
// link is open and that answer with their firmware text, and the diagnostic lines it writes.
class FirmwareFormHarness
{
public:
    static constexpr const char* ModuleName = "Stepper-1234";
    static constexpr const char* ModuleFirmware = "1234V308";
    static constexpr const char* DefaultModuleKey = "COM3/1/id1";
    // Where generated firmware puts its identifier, and the flash base it is linked for.
    static constexpr int IdentifierOffset = 0x100;
    static constexpr quint32 FlashBase = 0x08000000;
    static constexpr int FirmwareBytes = 0x400;

    explicit FirmwareFormHarness(const QStringList& moduleKeys = {QLatin1String(DefaultModuleKey)})
    {
        QDir root(m_dir.path());
        root.mkpath(QStringLiteral("home"));
        root.mkpath(QStringLiteral("files"));
        qputenv(AppSettings::HomeEnvironmentVariable, root.filePath(QStringLiteral("home")).toUtf8());
        PeripheryManager::instance()->setPortSource([] { return QList<QSerialPortInfo>(); });
        for (const QString& key : moduleKeys)
            addModule(key);

        m_tool = new FirmwareUpdate(QStringLiteral("FirmwareUpdate"), &m_plugins);
        m_tool->setParent(&m_window);
        m_tool->init(&m_window);
        m_window.show();
    }

    FirmwareUpdate* tool() const { return m_tool; }

    template<typename T>
    T* child(const char* name) const
    {
        return m_tool->findChild<T*>(QLatin1String(name));
    }
    QString text(const char* lineEditName) const { return child<QLineEdit>(lineEditName)->text(); }
    void setFileName(const QString& name) { child<QLineEdit>("leFilename")->setText(name); }

    QString rootPath() const { return m_dir.path(); }
    QString homePath() const { return AppSettings::homePath(); }
    QString poolPath() const { return QDir::cleanPath(homePath() + QStringLiteral("/../Firmware")); }
    // A folder beside the home folder, where the user keeps firmware.
    QString filesPath(const QString& name) const { return m_dir.filePath(QStringLiteral("files/") + name); }

    void addModule(const QString& key)
    {
        m_modules.push_back(std::make_unique<Module>(key));
        m_plugins.addModulePlugin(key, m_modules.back().get(), key.section(QLatin1Char('/'), 0, 0));
    }
    void removeModule(const QString& key) { m_plugins.removeModulePlugin(key); }
    void refreshModules() { child<QPushButton>("btnRefresh")->click(); }

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
        QMetaObject::invokeMethod(m_tool, "fileNameChanged", Qt::DirectConnection, Q_RETURN_ARG(bool, loaded),
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

    // Firmware bytes that hold no digits, with `identifier` at IdentifierOffset (none when empty).
    static QByteArray firmwareImage(const QByteArray& identifier, int size = FirmwareBytes)
    {
        QByteArray image(size, '\0');
        for (int i = 0; i < size; ++i)
            image[i] = char(0x80 + i % 0x7F);
        image.replace(IdentifierOffset, identifier.size(), identifier);
        return image;
    }
    static QByteArray hexOf(const QByteArray& image, quint32 base = FlashBase,
                            IntelHex::AddressStyle style = IntelHex::AddressStyle::Linear)
    {
        return QByteArray::fromStdString(
            IntelHex::write(reinterpret_cast<const unsigned char*>(image.constData()), image.size(), base, style));
    }
    static QByteArray firmwareHex(const QByteArray& identifier) { return hexOf(firmwareImage(identifier)); }

    static QString writeFile(const QString& path, const QByteArray& content)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }

    static QString checksumText(const QByteArray& bytes)
    {
        quint32 sum = 0;
        for (const char b : bytes)
            sum += static_cast<unsigned char>(b);
        return QStringLiteral("0x") + QString::number(sum, 16);
    }

private:
    // A link that is open and answers the firmware-version query; nothing else is asked of it here.
    class Handler : public CommandHandlerInterface
    {
    public:
        bool isDeviceOpen() const override { return true; }
        bool openDevice() override { return true; }
        void closeDevice() override {}
        int dataRate() const override { return DataRate; }
        bool setDataRate(int) override { return false; }
        QString getFirmwareVersion(unsigned char) override { return QLatin1String(ModuleFirmware); }
        void doDirectRequest(Command*, Command*) override {}
        void doDirectRequestWithoutReply(Command*) override {}

    private:
        static constexpr int DataRate = 9600;
    };

    class Connection : public DUXLConnectionInterface
    {
    public:
        explicit Connection(const QString& key)
            : DUXLConnectionInterface(key, QStringLiteral("Serial"), 0, nullptr, QString())
        {
        }
        CommandHandlerInterface* commandHandler() const override { return m_handler.get(); }
        int interfaceType() const override { return Serial; }
        void setActive(bool) override {}

    private:
        const std::unique_ptr<Handler> m_handler = std::make_unique<Handler>();
    };

    // A module the host found on a serial link of its own.
    class Module : public DUXLModuleInterface
    {
    public:
        explicit Module(const QString& key)
            : DUXLModuleInterface(key, QStringLiteral("Stepper"), 0, nullptr, QString())
            , m_connection(std::make_unique<Connection>(key.section(QLatin1Char('/'), 0, 0)))
        {
        }
        DUXLConnectionInterface* connectionInterface() const override { return m_connection.get(); }
        unsigned char moduleAddress() const override { return 1; }
        QString nameInFirmware() const override { return QStringLiteral("1234"); }
        QString moduleName() const override { return QLatin1String(ModuleName); }
        void setModuleState(int) override {}

    private:
        const std::unique_ptr<Connection> m_connection;
    };

    MessageLog m_log;
    QTemporaryDir m_dir;
    PluginHandler m_plugins;
    std::vector<std::unique_ptr<Module>> m_modules;
    QDialog m_window;
    FirmwareUpdate* m_tool = nullptr;
};
