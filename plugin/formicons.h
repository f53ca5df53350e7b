#pragma once

#include <QHash>
#include <QIcon>
#include <QString>

class QWidget;

// One copy of each button icon of the form for every instance made by one plug-in. Qt's pixmap cache
// keeps what it painted of an icon under that icon's own copy, so forms with icons of their own would
// add to it with every instance: one per module in a long run of updates.
class FormIcons
{
public:
    // Gives the buttons of `form` the icons stored for their names; stores those not seen before.
    void share(QWidget* form);

private:
    QHash<QString, QIcon> m_byButton;
};
