#include "runoptions.h"

#include <QObject>
#include <QVariant>

namespace {
// One dynamic property of the tool's widget, so that its meta-object stays as it is.
constexpr const char* RunOptionsProperty = "dpRunOptions";
}

void RunOptions::handTo(QObject* tool, const RunOptions& options)
{
    tool->setProperty(RunOptionsProperty, QVariant::fromValue(options));
}

RunOptions RunOptions::of(const QObject* tool)
{
    return tool ? tool->property(RunOptionsProperty).value<RunOptions>() : RunOptions();
}
