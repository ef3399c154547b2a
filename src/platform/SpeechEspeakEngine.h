#pragma once

#include "platform/SpeechEngine.h"
#include "platform/SpeechWavWriter.h"

#include <QByteArray>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class SpeechAudioOutput;

// Speech by libespeak-ng. Synthesis runs on a worker thread of this engine and only moves a
// bounded stretch ahead of playback; samples and word positions come back to the owning thread,
// which feeds the audio output and reports each word when the output has played up to it.
//
// espeak-ng keeps one global synthesizer per process; engines share it under a lock, so more
// than one engine may exist (tests), but their syntheses take turns.
class EspeakSpeechEngine : public SpeechEngine
{
    Q_OBJECT
public:
    // Voices come in OrderVoicesForReading() order for `readingLanguage`. The voices of that
    // language are first tried on `scriptSample` (a few characters of its script): one that
    // switches to another language to read them is marked as misreading it.
    EspeakSpeechEngine(std::unique_ptr<SpeechAudioOutput> output, const QString &readingLanguage,
                       const QString &scriptSample, QObject *parent = nullptr);
    ~EspeakSpeechEngine() override;

    // False when espeak-ng could not start (no voice data); the engine then has no voices and
    // ends every stream at once.
    static bool available();
    static int sampleRate();

    QList<SpeechVoice> voices() const override { return m_voices; }
    int currentVoice() const override { return m_voice; }
    bool setVoice(int index) override;
    void setRate(int percent) override { m_rate = percent; }
    void setVolume(int percent) override { m_volume = percent; }

    int speak(const QString &text, SpeakMode mode = SpeakMode::Queue) override;
    void pause() override;
    void resume() override;
    bool isPaused() const override { return m_paused; }
    bool isSpeaking() const override { return m_openStreams > 0; }
    bool setRecordingFile(const QString &path) override;

    struct Mark
    {
        qint64 frame; // within the stream's audio until delivered, then on the output's timeline
        int stream;
        int position = -1; // -1 marks the end of the stream
        int length = 0;
    };
    // A stretch of synthesized audio, handed from the worker to the owning thread.
    struct Chunk
    {
        quint64 generation;
        int stream;
        qint64 streamFrame; // frames of this stream before this chunk
        QByteArray samples;
        std::vector<Mark> marks;
        bool ends = false;
    };

private:
    struct Job
    {
        quint64 generation;
        int stream;
        QString text;
        QByteArray voice;
        int rate = 100;
        int volume = 100;
    };
    struct SynthRun;

    void workerLoop();
    // The stream's frame count, or -1 when the job was dropped meanwhile.
    qint64 synthesize(const Job &job);
    // Worker side: false when the job was dropped meanwhile.
    bool deliver(Chunk chunk);
    void accept(const Chunk &chunk);
    void purge();
    void pump();

    QList<SpeechVoice> m_voices;
    int m_voice = -1;
    int m_rate = 100;
    int m_volume = 100;
    std::unique_ptr<SpeechAudioOutput> m_output;
    SpeechWavWriter m_recording;
    QTimer m_pumpTimer;

    // Owning thread's playback state. The timeline counts frames since the output last started.
    QByteArray m_pending; // synthesized; the output has taken the bytes before m_pendingAt
    qint64 m_pendingAt = 0;
    std::deque<Mark> m_marks;
    qint64 m_timelineEnd = 0;
    bool m_outputRunning = false;
    bool m_paused = false;
    int m_lastStream = 0;
    int m_openStreams = 0;

    // Shared with the worker.
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_jobs;
    bool m_quit = false;
    std::atomic<quint64> m_generation{0};
    // Frames synthesized but not yet taken by the output; the worker waits while it is large.
    std::atomic<qint64> m_backlog{0};
    std::thread m_worker; // last: starts once everything above exists
};
