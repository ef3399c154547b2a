#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <memory>

class QAudioSink;
class QIODevice;

// Where synthesized speech goes: 16-bit signed mono samples, pushed in as far as the output has
// room, with a count of the frames actually played so far. Word events follow that count.
class SpeechAudioOutput
{
public:
    virtual ~SpeechAudioOutput() = default;

    // The sound card when the system has one, the silent pacer otherwise or when
    // FOLIOWAY_SILENT_AUDIO=1 is set.
    static std::unique_ptr<SpeechAudioOutput> create(int sampleRate);

    // Starts a fresh run: the played count begins again at 0 and nothing is suspended.
    virtual void start() = 0;
    virtual void stop() = 0;
    // Takes as many whole frames of `bytes` as there is room for; returns the bytes taken.
    virtual qint64 write(const char *data, qint64 bytes) = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;
    // Frames played since start(), never more than were written.
    virtual qint64 playedFrames() = 0;
    virtual bool isSilent() const = 0;
};

// Plays nothing but consumes what it is given at the sample rate, with a device-like buffer,
// so that speech without a sound card takes as long as it would with one.
class SilentAudioOutput : public SpeechAudioOutput
{
public:
    explicit SilentAudioOutput(int sampleRate, int bufferMs = 200);

    void start() override;
    void stop() override;
    qint64 write(const char *data, qint64 bytes) override;
    void suspend() override;
    void resume() override;
    qint64 playedFrames() override;
    bool isSilent() const override { return true; }

private:
    void advance();

    int m_sampleRate;
    qint64 m_capacityFrames;
    qint64 m_written = 0;
    qint64 m_played = 0;
    // Time is only counted while running and while there is something to play, so an empty
    // buffer does not bank time that would later swallow new samples at once.
    QElapsedTimer m_clock;
    qint64 m_carryUs = 0;
    bool m_running = false;
    bool m_suspended = false;
};

// The default sound device through Qt Multimedia, fed in push mode.
class DeviceAudioOutput : public SpeechAudioOutput
{
public:
    explicit DeviceAudioOutput(int sampleRate);
    ~DeviceAudioOutput() override;

    void start() override;
    void stop() override;
    qint64 write(const char *data, qint64 bytes) override;
    void suspend() override;
    void resume() override;
    qint64 playedFrames() override;
    bool isSilent() const override { return false; }

private:
    // Takes over when the device refuses to play, so speech and its events still go on.
    bool fellBack();

    int m_sampleRate;
    std::unique_ptr<SilentAudioOutput> m_fallback;
    std::unique_ptr<QAudioSink> m_sink;
    QIODevice *m_device = nullptr; // owned by m_sink
    qint64 m_written = 0;
    qint64 m_writtenBeforeFallback = 0;
};
