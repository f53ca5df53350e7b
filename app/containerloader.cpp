#include "containerloader.h"

#include "containerinterface.h"

#include <QDir>
#include <QJsonObject>
#include <QLibrary>
#include <QPluginLoader>

namespace {
constexpr const char* MetadataClassName = "className";
}

ContainerLoader::ContainerLoader(PluginHandler* handler, QObject* parent)
    : QObject(parent)
    , m_handler(handler)
{
}

ContainerLoader::~ContainerLoader()
{
    for (const Loaded& loaded : qAsConst(m_loaded))
        delete loaded.container.data();
    // Unloading would pull the code from under objects the plug-ins may still have handed out.
    qDeleteAll(m_loaders);
}

void ContainerLoader::loadFolder(const QString& folder)
{
    const QFileInfoList files = QDir(folder).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& file : files) {
        if (!QLibrary::isLibrary(file.fileName()))
            continue;
        auto* loader = new QPluginLoader(file.absoluteFilePath());
        QObject* root = loader->instance();
        if (!root) {
            emit loadFailed(file.fileName(), loader->errorString());
            delete loader;
            continue;
        }
        m_loaders.append(loader);
        auto* factory = qobject_cast<ContainerInterface*>(root);
        if (!factory) {
            emit loadFailed(file.fileName(), tr("not a container plug-in (interface %1 missing)")
                                                 .arg(QLatin1String(ContainerInterface_iid)));
            continue;
        }
        const QString className = loader->metaData().value(QLatin1String(MetadataClassName)).toString();
        auto* container = qobject_cast<ContainerInterface*>(factory->createInstance(className, m_handler));
        if (!container) {
            emit loadFailed(file.fileName(), tr("its factory made no container"));
            continue;
        }
        m_loaded.append({className, container});
    }
}

QList<ContainerInterface*> ContainerLoader::containers() const
{
    QList<ContainerInterface*> alive;
    for (const Loaded& loaded : m_loaded) {
        if (loaded.container)
            alive.append(loaded.container);
    }
    return alive;
}

ContainerInterface* ContainerLoader::containerOfClass(const QString& className) const
{
    for (const Loaded& loaded : m_loaded) {
        if (loaded.className == className && loaded.container)
            return loaded.container;
    }
    return nullptr;
}
