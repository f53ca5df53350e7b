#include "wirecapture.h"

#include <QMutexLocker>

#include <pcap/pcap.h>
#include <time.h>

static_assert(WireCapture::LinkType == DLT_USER0, "the capture's link type is the first user type");

namespace {
constexpr long NsPerUs = 1000;
}

WireCapture::~WireCapture()
{
    close();
}

bool WireCapture::open(const QString& path)
{
    close();
    QMutexLocker lock(&m_mutex);
    m_pcap = pcap_open_dead_with_tstamp_precision(LinkType, SnapshotBytes, PCAP_TSTAMP_PRECISION_MICRO);
    if (!m_pcap) {
        m_errorString = QStringLiteral("cannot start a capture");
        return false;
    }
    m_dumper = pcap_dump_open(m_pcap, path.toLocal8Bit().constData());
    if (!m_dumper) {
        m_errorString = QString::fromLocal8Bit(pcap_geterr(m_pcap));
        pcap_close(m_pcap);
        m_pcap = nullptr;
        return false;
    }
    m_path = path;
    m_recording = true;
    return true;
}

void WireCapture::close()
{
    QMutexLocker lock(&m_mutex);
    m_recording = false;
    if (m_dumper)
        pcap_dump_close(m_dumper);
    if (m_pcap)
        pcap_close(m_pcap);
    m_dumper = nullptr;
    m_pcap = nullptr;
}

void WireCapture::noteSent(const QString& port, const QByteArray& bytes)
{
    write(CaptureRecord::Event::Data, CaptureRecord::Direction::HostToModule, port, bytes);
}

void WireCapture::noteReceived(const QString& port, const QByteArray& bytes)
{
    if (!bytes.isEmpty())
        write(CaptureRecord::Event::Data, CaptureRecord::Direction::ModuleToHost, port, bytes);
}

void WireCapture::noteOpened(const QString& port, int dataRate)
{
    write(CaptureRecord::Event::Open, CaptureRecord::Direction::HostToModule, port,
          CaptureRecord::ratePayload(dataRate));
}

void WireCapture::noteClosed(const QString& port)
{
    write(CaptureRecord::Event::Close, CaptureRecord::Direction::HostToModule, port, {});
}

void WireCapture::noteDataRate(const QString& port, int dataRate)
{
    write(CaptureRecord::Event::DataRate, CaptureRecord::Direction::HostToModule, port,
          CaptureRecord::ratePayload(dataRate));
}

void WireCapture::noteModule(const QString& port, const QString& key)
{
    write(CaptureRecord::Event::Module, CaptureRecord::Direction::HostToModule, port, key.toUtf8());
}

void WireCapture::write(CaptureRecord::Event event, CaptureRecord::Direction direction, const QString& port,
                        const QByteArray& payload)
{
    if (!m_recording)
        return;
    QMutexLocker lock(&m_mutex);
    if (!m_dumper)
        return;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    CaptureRecord record;
    record.event = event;
    record.direction = direction;
    record.port = port;
    record.payload = payload;
    const QByteArray packet = record.toPacket();
    pcap_pkthdr header{};
    header.ts.tv_sec = now.tv_sec;
    header.ts.tv_usec = now.tv_nsec / NsPerUs;
    header.caplen = bpf_u_int32(packet.size());
    header.len = header.caplen;
    pcap_dump(reinterpret_cast<u_char*>(m_dumper), &header, reinterpret_cast<const u_char*>(packet.constData()));
    // A run cut short (a signal, a crash) still leaves every packet up to its last on disk.
    pcap_dump_flush(m_dumper);
}
