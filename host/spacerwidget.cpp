#include "spacerwidget.h"

#include <QHBoxLayout>
#include <QSpacerItem>

SpacerWidget::SpacerWidget(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("__spacer"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addItem(new QSpacerItem(0, 0, QSizePolicy::Expanding, QSizePolicy::Expanding));
}
