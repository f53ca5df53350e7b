#pragma once

#include <QString>
#include <QVector>

class Command;

// The write phase's words of one page on their way with several in flight, and how far they got.
struct WindowedWords
{
    QVector<Command*> requests;
    QVector<Command*> replies;
    // How many from the front were carried out, and why the next one was not (empty when nobody can tell).
    int carriedOut = 0;
    QString failure;
};
