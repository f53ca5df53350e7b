#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class ContainerInterface;
class PluginHandler;
class QPluginLoader;

// Loads the container plug-ins of the host's plug-in folder and makes, through each plug-in's
// factory, the one object the host works with. A library that cannot be loaded is reported with the
// loader's own error text and skipped.
class ContainerLoader : public QObject
{
    Q_OBJECT
public:
    // The class of the "Firmware update" plug-in, the one a run or a station updates with.
    static constexpr const char* UpdatePluginClass = "FirmwareUpdate";

    explicit ContainerLoader(PluginHandler* handler, QObject* parent = nullptr);
    // Deletes the containers that are still alive; the libraries stay loaded until the process ends.
    ~ContainerLoader() override;

    // Tries every library in `folder`, in name order.
    void loadFolder(const QString& folder);

    QList<ContainerInterface*> containers() const;
    // The container made by the plug-in whose metadata names this class; null when none was loaded.
    ContainerInterface* containerOfClass(const QString& className) const;

signals:
    void loadFailed(const QString& fileName, const QString& reason);

private:
    struct Loaded
    {
        QString className;
        QPointer<ContainerInterface> container;
    };

    PluginHandler* m_handler;
    QList<QPluginLoader*> m_loaders;
    QList<Loaded> m_loaded;
};
