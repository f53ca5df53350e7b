#include "formicons.h"

#include <QAbstractButton>
#include <QWidget>

void FormIcons::share(QWidget* form)
{
    const QList<QAbstractButton*> buttons = form->findChildren<QAbstractButton*>();
    for (QAbstractButton* button : buttons) {
        if (button->icon().isNull())
            continue;
        const auto stored = m_byButton.constFind(button->objectName());
        if (stored == m_byButton.constEnd())
            m_byButton.insert(button->objectName(), button->icon());
        else
            button->setIcon(stored.value());
    }
}
