#pragma once

#include <QObject>
#include <functional>

// Steps of an update that run after a pause (re-calls, the worker's start, a refusal's end), all tied
// to one object so that Cancel, the end and the shut-down can drop them together.
class TimedSteps : public QObject
{
    Q_OBJECT
public:
    explicit TimedSteps(QObject* parent = nullptr)
        : QObject(parent)
    {
    }

    // Runs `step` after `delayMs` (scaled by DUX_TIME_SCALE), unless dropped before.
    void after(int delayMs, const std::function<void()>& step);
    void drop();

private:
    QObject* m_pending = nullptr;
};
