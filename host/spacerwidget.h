#pragma once

#include <QWidget>

// An empty widget that takes up all the room it is given, for rows of buttons.
class SpacerWidget : public QWidget
{
    Q_OBJECT
public:
    explicit SpacerWidget(QWidget* parent = nullptr);
};
