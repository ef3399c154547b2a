#pragma once

#include <QFile>
#include <QString>

// A 16-bit mono PCM WAV file that stays valid after every append: the header's sizes are
// rewritten each time, so a recording cut short by a crash can still be played.
class SpeechWavWriter
{
public:
    bool open(const QString &path, int sampleRate);
    void append(const char *data, qint64 bytes);
    void close();
    bool isOpen() const { return m_file.isOpen(); }

private:
    QFile m_file;
    quint32 m_dataBytes = 0;
};
