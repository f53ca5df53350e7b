#include "installlayout.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocale>
#include <QTranslator>

namespace {
constexpr const char* CatalogueName = "dux";
constexpr const char* CataloguePrefix = "_";

QString besideProgram(const char* relativePath)
{
    return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).filePath(QLatin1String(relativePath)));
}
}

QString InstallLayout::pluginFolder()
{
    return besideProgram(DUX_PLUGINS_FROM_BIN);
}

QString InstallLayout::translationFolder()
{
    return besideProgram(DUX_TRANSLATIONS_FROM_BIN);
}

QString InstallLayout::udevRule()
{
    return besideProgram(DUX_UDEV_RULE_FROM_BIN);
}

void InstallLayout::loadTranslation(QCoreApplication* app)
{
    auto* translator = new QTranslator(app);
    if (translator->load(QLocale(), QLatin1String(CatalogueName), QLatin1String(CataloguePrefix), translationFolder()))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}
