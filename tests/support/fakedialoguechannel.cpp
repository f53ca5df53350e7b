#include "fakedialoguechannel.h"

#include "bootloadercommands.h"
#include "command.h"
#include "progressmessage.h"
#include "simulatedmodule.h"
#include "windowedwords.h"

namespace {

QString describe(const Command& request)
{
    QString text = QStringLiteral("%1/%2").arg(request.command()).arg(request.type());
    if (request.motorBank() != 0)
        text += QStringLiteral("/%1").arg(request.motorBank());
    if (request.value() != 0)
        text += QStringLiteral("=0x") + QString::number(quint32(request.value()), 16);
    return text;
}

QString wordRun(const Command& first, int count)
{
    return QStringLiteral("201/%1/%2*%3").arg(first.type()).arg(first.motorBank()).arg(count);
}

}

FakeDialogueChannel::FakeDialogueChannel(SimulatedModule& module)
    : m_module(module)
{
}

QString FakeDialogueChannel::request(Command& request, Command& reply)
{
    note(request);
    return answer(request, reply);
}

void FakeDialogueChannel::requestWords(WindowedWords& words)
{
    entry(QLatin1Char('[') + wordRun(*words.requests.first(), words.requests.size()) + QLatin1Char(']'));
    for (words.carriedOut = 0; words.carriedOut < words.requests.size(); ++words.carriedOut) {
        words.failure = answer(*words.requests.at(words.carriedOut), *words.replies.at(words.carriedOut));
        if (!words.failure.isEmpty())
            return;
    }
}

void FakeDialogueChannel::readFirmwareVersion(QString* version, unsigned char moduleAddress)
{
    QString answered;
    if (m_module.queryVersion(moduleAddress, &answered) == SimulatedModule::Outcome::Reply)
        *version = answered;
}

void FakeDialogueChannel::showProgress(const ProgressMessage& message)
{
    said << QStringLiteral("P:") + message.english();
}

void FakeDialogueChannel::noteWindow(int words)
{
    entry(QStringLiteral("window:%1").arg(words));
}

void FakeDialogueChannel::noteDifferingPages(const QVector<quint32>& pages)
{
    QStringList addresses;
    for (quint32 page : pages)
        addresses << QStringLiteral("0x") + QString::number(page, 16);
    entry(QStringLiteral("differing:") + addresses.join(QLatin1Char(',')));
}

void FakeDialogueChannel::noteReadBack(quint32 base, const QByteArray& bytes)
{
    entry(QStringLiteral("read:0x%1+%2").arg(QString::number(base, 16)).arg(bytes.size()));
}

QString FakeDialogueChannel::answer(const Command& request, Command& reply)
{
    const Scripted* scripted = scriptedFor(request);
    reply.invalidate();
    const bool answered = m_module.handleRequest(request, &reply) == SimulatedModule::Outcome::Reply;
    if (!answered || (scripted && scripted->answer == Answer::Silent)) {
        reply.invalidate();
        return QStringLiteral("silent");
    }
    if (!scripted)
        return QString();
    // A status or an echo: the module's reply with that field changed.
    const bool echo = scripted->answer == Answer::Echo;
    reply.setReply(reply.moduleAddress(), echo ? quint8(scripted->value) : reply.command(),
                   echo ? reply.status() : quint8(scripted->value), reply.value());
    return QString();
}

const FakeDialogueChannel::Scripted* FakeDialogueChannel::scriptedFor(const Command& request)
{
    m_seen.resize(script.size());
    const Scripted* found = nullptr;
    for (int i = 0; i < script.size(); ++i) {
        const Scripted& rule = script.at(i);
        if (rule.command != request.command() || (rule.type >= 0 && rule.type != request.type()))
            continue;
        const int nth = ++m_seen[i];
        if (nth < rule.nth || nth >= rule.nth + rule.count)
            continue;
        if (rule.answer == Answer::Cancel)
            m_cancelled = true;
        else if (!found)
            found = &rule;
    }
    return found;
}

void FakeDialogueChannel::note(const Command& request)
{
    if (request.command() == Bootloader::StoreAttributeCommand)
        m_storing = true;
    const bool word = request.command() == Bootloader::WriteWordCommand && !m_storing;
    // Words to the same bank, retries included, count as one run.
    if (word && m_runLength > 0 && m_runBank == request.motorBank()) {
        m_trace.last() = wordRun(m_runHead, ++m_runLength);
        return;
    }
    m_runLength = word ? 1 : 0;
    m_runBank = request.motorBank();
    m_runHead = request;
    m_trace << (word ? wordRun(request, 1) : describe(request));
}

void FakeDialogueChannel::entry(const QString& text)
{
    m_trace << text;
    m_runLength = 0;
}
