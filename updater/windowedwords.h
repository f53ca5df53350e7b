#pragma once

#include <QSemaphore>
#include <QString>
#include <QVector>
#include <atomic>
#include <memory>

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

// Tells the worker that waits for its WindowedWords that they are over: when called, or when its last
// copy goes uncalled (the words' link taken away first), so that the worker never waits for good.
// Nothing may touch the words once it has told.
class WindowedWordsDone
{
public:
    explicit WindowedWordsDone(QSemaphore& over)
        : m_teller(std::make_shared<Teller>(over))
    {
    }
    void operator()() const { m_teller->tell(); }

private:
    struct Teller
    {
        explicit Teller(QSemaphore& over)
            : over(over)
        {
        }
        ~Teller() { tell(); }
        Teller(const Teller&) = delete;
        Teller& operator=(const Teller&) = delete;
        void tell()
        {
            if (!told.exchange(true))
                over.release();
        }
        QSemaphore& over;
        std::atomic<bool> told{false};
    };
    std::shared_ptr<Teller> m_teller;
};
