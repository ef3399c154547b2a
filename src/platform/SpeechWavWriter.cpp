#include "platform/SpeechWavWriter.h"

#include <QtEndian>

namespace {

QByteArray WavHeader(int sampleRate, quint32 dataBytes)
{
    QByteArray h(44, '\0');
    auto put32 = [&h](int at, quint32 v) { qToLittleEndian(v, h.data() + at); };
    auto put16 = [&h](int at, quint16 v) { qToLittleEndian(v, h.data() + at); };
    h.replace(0, 4, "RIFF");
    put32(4, 36 + dataBytes);
    h.replace(8, 8, "WAVEfmt ");
    put32(16, 16);
    put16(20, 1); // PCM
    put16(22, 1); // mono
    put32(24, quint32(sampleRate));
    put32(28, quint32(sampleRate) * 2);
    put16(32, 2);
    put16(34, 16);
    h.replace(36, 4, "data");
    put32(40, dataBytes);
    return h;
}

} // namespace

bool SpeechWavWriter::open(const QString &path, int sampleRate)
{
    close();
    m_file.setFileName(path);
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    m_dataBytes = 0;
    if (m_file.write(WavHeader(sampleRate, 0)) != 44) {
        m_file.close();
        return false;
    }
    return true;
}

void SpeechWavWriter::append(const char *data, qint64 bytes)
{
    if (!m_file.isOpen() || bytes <= 0)
        return;
    m_file.write(data, bytes);
    m_dataBytes += quint32(bytes);
    const qint64 end = m_file.pos();
    quint32 sizes[2];
    qToLittleEndian(36 + m_dataBytes, &sizes[0]);
    qToLittleEndian(m_dataBytes, &sizes[1]);
    m_file.seek(4);
    m_file.write(reinterpret_cast<const char *>(&sizes[0]), 4);
    m_file.seek(40);
    m_file.write(reinterpret_cast<const char *>(&sizes[1]), 4);
    m_file.seek(end);
    m_file.flush();
}

void SpeechWavWriter::close()
{
    if (m_file.isOpen())
        m_file.close();
}
