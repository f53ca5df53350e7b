#include "capturereader.h"

#include "wirecapture.h"

#include <pcap/pcap.h>

namespace {
constexpr qint64 UsPerSecond = 1000000;
}

bool CaptureReader::read(const QString& path)
{
    m_records.clear();
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline_with_tstamp_precision(path.toLocal8Bit().constData(),
                                                           PCAP_TSTAMP_PRECISION_MICRO, error);
    if (!file) {
        m_errorString = QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(error));
        return false;
    }
    bool ours = pcap_datalink(file) == WireCapture::LinkType;
    if (!ours)
        m_errorString = QStringLiteral("%1 is not a DUXL wire capture (link type %2)").arg(path).arg(pcap_datalink(file));
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    while (ours && pcap_next_ex(file, &header, &data) == 1) {
        const QByteArray packet(reinterpret_cast<const char*>(data), int(header->caplen));
        CaptureRecord record;
        ours = CaptureRecord::fromPacket(packet, header->ts.tv_sec * UsPerSecond + header->ts.tv_usec, &record);
        if (ours)
            m_records.append(record);
        else
            m_errorString = QStringLiteral("packet %1 of %2 is no DUXL capture record").arg(m_records.size() + 1).arg(path);
    }
    pcap_close(file);
    return ours;
}
