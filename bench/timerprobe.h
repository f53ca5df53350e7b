#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <vector>

// Re-arms a 10 ms timer on the thread that makes it and notes how late each one fires while `counts`
// says the phase of interest runs: a measure of how live that thread's event loop stays.
class TimerProbe
{
public:
    static constexpr int TimerMs = 10;

    explicit TimerProbe(std::function<bool()> counts);

    // Lateness in ms of the timer events counted since the last call.
    std::vector<double> take();

private:
    void arm();
    void fired();

    std::function<bool()> m_counts;
    QTimer m_timer;
    QElapsedTimer m_armed;
    std::vector<double> m_latenessMs;
};
