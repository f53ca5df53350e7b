#pragma once

class QCoreApplication;
class QString;

// Where dux-host finds what it brings along: plug-ins and translations lie at the same places relative
// to its own folder in the build tree and in an installation (bin/, lib/dux/plugins/,
// share/dux/translations/).
namespace InstallLayout {
QString pluginFolder();
QString translationFolder();
// Our udev rule for module ports, as installed (and copied into the build tree).
QString udevRule();
// Installs the catalogue of the user's language (LANGUAGE, LC_ALL, LC_MESSAGES or LANG), when there is one.
void loadTranslation(QCoreApplication* app);
}
