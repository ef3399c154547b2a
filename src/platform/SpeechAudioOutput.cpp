#include "platform/SpeechAudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QMediaDevices>

#include <algorithm>

namespace {

constexpr qint64 BytesPerFrame = 2;

} // namespace

std::unique_ptr<SpeechAudioOutput> SpeechAudioOutput::create(int sampleRate)
{
    if (qEnvironmentVariable("FOLIOWAY_SILENT_AUDIO") == QLatin1String("1") ||
        QMediaDevices::defaultAudioOutput().isNull())
        return std::make_unique<SilentAudioOutput>(sampleRate);
    return std::make_unique<DeviceAudioOutput>(sampleRate);
}

SilentAudioOutput::SilentAudioOutput(int sampleRate, int bufferMs)
    : m_sampleRate(sampleRate), m_capacityFrames(qint64(sampleRate) * bufferMs / 1000)
{}

void SilentAudioOutput::start()
{
    m_written = m_played = m_carryUs = 0;
    m_running = true;
    m_suspended = false;
    m_clock.start();
}

void SilentAudioOutput::stop()
{
    advance();
    m_running = false;
}

void SilentAudioOutput::advance()
{
    if (!m_running || m_suspended)
        return;
    const qint64 elapsedUs = m_clock.nsecsElapsed() / 1000 + m_carryUs;
    m_clock.restart();
    const qint64 due = elapsedUs * m_sampleRate / 1000000;
    const qint64 buffered = m_written - m_played;
    if (due >= buffered) {
        m_played = m_written;
        m_carryUs = 0;
    } else {
        m_played += due;
        m_carryUs = elapsedUs - due * 1000000 / m_sampleRate;
    }
}

qint64 SilentAudioOutput::write(const char *, qint64 bytes)
{
    if (!m_running)
        return 0;
    advance();
    const qint64 room = m_capacityFrames - (m_written - m_played);
    const qint64 frames = std::clamp<qint64>(bytes / BytesPerFrame, 0, std::max<qint64>(room, 0));
    m_written += frames;
    return frames * BytesPerFrame;
}

void SilentAudioOutput::suspend()
{
    advance();
    m_suspended = true;
}

void SilentAudioOutput::resume()
{
    if (!m_suspended)
        return;
    m_suspended = false;
    m_clock.restart();
}

qint64 SilentAudioOutput::playedFrames()
{
    advance();
    return m_played;
}

DeviceAudioOutput::DeviceAudioOutput(int sampleRate) : m_sampleRate(sampleRate) {}

DeviceAudioOutput::~DeviceAudioOutput() = default;

void DeviceAudioOutput::start()
{
    QAudioFormat format;
    format.setSampleRate(m_sampleRate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    // A new sink per run: its processed time then counts from this start.
    m_sink = std::make_unique<QAudioSink>(QMediaDevices::defaultAudioOutput(), format);
    // A short device buffer keeps the highlight close to the voice and a stop quick to hear.
    m_sink->setBufferSize(int(m_sampleRate * BytesPerFrame / 4));
    m_device = m_sink->start();
    m_written = 0;
    m_fallback.reset();
    fellBack();
}

bool DeviceAudioOutput::fellBack()
{
    if (!m_fallback && m_sink && m_sink->error() != QAudio::NoError && m_sink->state() == QAudio::StoppedState) {
        m_fallback = std::make_unique<SilentAudioOutput>(m_sampleRate);
        m_fallback->start();
        // What the device took before it failed counts as played.
        m_writtenBeforeFallback = m_written;
    }
    return m_fallback != nullptr;
}

void DeviceAudioOutput::stop()
{
    m_fallback.reset();
    if (m_sink) {
        m_sink->reset();
        m_sink->stop();
    }
    m_device = nullptr;
}

qint64 DeviceAudioOutput::write(const char *data, qint64 bytes)
{
    if (fellBack())
        return m_fallback->write(data, bytes);
    if (!m_sink || !m_device)
        return 0;
    const qint64 room = m_sink->bytesFree() / BytesPerFrame * BytesPerFrame;
    const qint64 taken = m_device->write(data, std::min(bytes / BytesPerFrame * BytesPerFrame, room));
    if (taken <= 0)
        return 0;
    m_written += taken / BytesPerFrame;
    return taken;
}

void DeviceAudioOutput::suspend()
{
    if (m_fallback)
        m_fallback->suspend();
    else if (m_sink)
        m_sink->suspend();
}

void DeviceAudioOutput::resume()
{
    if (m_fallback)
        m_fallback->resume();
    else if (m_sink)
        m_sink->resume();
}

qint64 DeviceAudioOutput::playedFrames()
{
    if (fellBack())
        return m_writtenBeforeFallback + m_fallback->playedFrames();
    if (!m_sink)
        return m_written;
    // An underrun means the device has played everything it was given.
    if (m_sink->state() == QAudio::IdleState || m_sink->state() == QAudio::StoppedState)
        return m_written;
    return std::min(m_written, m_sink->processedUSecs() * m_sampleRate / 1000000);
}
