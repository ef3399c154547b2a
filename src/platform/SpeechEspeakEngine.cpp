#include "platform/SpeechEspeakEngine.h"

#include "platform/SpeechAudioOutput.h"

#include <espeak-ng/speak_lib.h>

#include <QHash>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>

namespace {

constexpr int PumpIntervalMs = 20;
// espeak's voice variant appended to a voice's identifier for a female voice.
constexpr const char *FemaleVariant = "+f2";
constexpr qint64 BytesPerFrame = 2;
// How far synthesis may run ahead of the output, in seconds of audio. A chapter can last an
// hour; this keeps its samples from piling up in memory.
constexpr qint64 MaxBacklogSeconds = 10;
// Past this many consumed bytes the pending buffer is compacted.
constexpr qint64 CompactAfterBytes = 1 << 20;

// The process's one espeak-ng synthesizer. `lock` is held for every call into the library.
struct Espeak
{
    std::timed_mutex lock;
    int sampleRate = -1;
    QList<SpeechVoice> voices; // in the library's order

    QByteArray loadedVoice;
    int rate = 100; // percent of espeakRATE_NORMAL
    int volume = 100;
    QHash<QString, bool> readsScript; // voice identifier + sample -> probe result
    // The synthesis in progress; espeak's callback carries no context of ours that is
    // reliable for every block, so it goes through here.
    std::function<int(short *, int, espeak_EVENT *)> handler;
};

QStringList Languages(const char *list)
{
    // Pairs of a priority byte and a zero-terminated name, ended by an empty name.
    QStringList languages;
    if (!list)
        return languages;
    while (*list) {
        const char *name = list + 1;
        languages << QString::fromUtf8(name).toLower();
        list = name + qstrlen(name) + 1;
    }
    return languages;
}

int SynthCallback(short *wav, int frames, espeak_EVENT *events);

Espeak &TheEspeak()
{
    static Espeak espeak;
    static std::once_flag once;
    std::call_once(once, [] {
        // Synchronous retrieval: espeak_Synth runs on the calling (worker) thread and hands
        // back samples and events through the callback; it never opens a sound device itself.
        const int rate = espeak_Initialize(AUDIO_OUTPUT_SYNCHRONOUS, 100, nullptr, espeakINITIALIZE_DONT_EXIT);
        if (rate > 0) {
            espeak.sampleRate = rate;
            espeak_SetSynthCallback(SynthCallback);
            for (const espeak_VOICE **v = espeak_ListVoices(nullptr); v && *v; ++v) {
                SpeechVoice voice{QString::fromUtf8((*v)->identifier), QString::fromUtf8((*v)->name),
                                  Languages((*v)->languages)};
                voice.gender = (*v)->gender == 2   ? SpeechVoice::Gender::Female
                               : (*v)->gender == 1 ? SpeechVoice::Gender::Male
                                                   : SpeechVoice::Gender::Unknown;
                espeak.voices.append(voice);
            }
        }
    });
    return espeak;
}

int SynthCallback(short *wav, int frames, espeak_EVENT *events)
{
    Espeak &espeak = TheEspeak();
    return espeak.handler ? espeak.handler(wav, frames, events) : 1;
}

} // namespace

bool EspeakSpeechEngine::available()
{
    return TheEspeak().sampleRate > 0;
}

int EspeakSpeechEngine::sampleRate()
{
    return std::max(TheEspeak().sampleRate, 22050);
}

namespace {

// espeak marks a switch to another language's rules in its phoneme text as "(en)".
bool ReadsScript(Espeak &espeak, const SpeechVoice &voice, const QString &sample)
{
    const QString key = voice.identifier + QLatin1Char('\n') + sample;
    auto known = espeak.readsScript.constFind(key);
    if (known != espeak.readsScript.constEnd())
        return *known;
    const QByteArray id = voice.identifier.toUtf8();
    bool reads = true;
    if (espeak_SetVoiceByName(id.constData()) == EE_OK) {
        espeak.loadedVoice = id;
        const QByteArray text = sample.toUtf8();
        const void *at = text.constData();
        while (at && reads) {
            const char *phonemes = espeak_TextToPhonemes(&at, espeakCHARS_UTF8, 0);
            reads = !(phonemes && std::strchr(phonemes, '('));
        }
    }
    espeak.readsScript.insert(key, reads);
    return reads;
}

} // namespace

EspeakSpeechEngine::EspeakSpeechEngine(std::unique_ptr<SpeechAudioOutput> output, const QString &readingLanguage,
                                       const QString &scriptSample, QObject *parent)
    : SpeechEngine(parent), m_output(std::move(output))
{
    Espeak &espeak = TheEspeak();
    QList<SpeechVoice> voices = espeak.voices;
    if (!scriptSample.isEmpty() && espeak.sampleRate > 0) {
        const QString tag = readingLanguage.toLower();
        std::lock_guard guard(espeak.lock);
        for (SpeechVoice &voice : voices) {
            const bool speaks = std::any_of(voice.languages.cbegin(), voice.languages.cend(), [&tag](const QString &l) {
                return l == tag || l.startsWith(tag + QLatin1Char('-'));
            });
            if (speaks)
                voice.readsOwnScript = ReadsScript(espeak, voice, scriptSample);
        }
    }
    // espeak's Chinese voices are all male; each also gets a female variant, listed before it so
    // that the voice chosen at start-up stays the same.
    const QList<int> chinese = OrderVoicesForList(voices).chinese;
    for (int i = int(voices.size()) - 1; i >= 0; --i) {
        const SpeechVoice &voice = voices.at(i);
        if (!chinese.contains(i) || voice.gender == SpeechVoice::Gender::Female || voice.identifier.contains(u'+'))
            continue;
        SpeechVoice female = voice;
        female.identifier += QLatin1String(FemaleVariant);
        female.description += QStringLiteral(", female");
        female.gender = SpeechVoice::Gender::Female;
        voices.insert(i, female);
    }
    m_voices = OrderVoicesForReading(std::move(voices), readingLanguage);
    m_voice = int(m_voices.size()) - 1;
    m_pumpTimer.setInterval(PumpIntervalMs);
    connect(&m_pumpTimer, &QTimer::timeout, this, &EspeakSpeechEngine::pump);
    m_worker = std::thread([this] { workerLoop(); });
}

EspeakSpeechEngine::~EspeakSpeechEngine()
{
    {
        std::lock_guard guard(m_mutex);
        m_quit = true;
        m_jobs.clear();
        ++m_generation;
    }
    m_wake.notify_all();
    m_worker.join();
    if (m_outputRunning)
        m_output->stop();
}

bool EspeakSpeechEngine::setVoice(int index)
{
    if (index < 0 || index >= m_voices.size())
        return false;
    m_voice = index;
    return true;
}

bool EspeakSpeechEngine::setRecordingFile(const QString &path)
{
    if (path.isEmpty()) {
        m_recording.close();
        return true;
    }
    return m_recording.open(path, sampleRate());
}

int EspeakSpeechEngine::speak(const QString &text, SpeakMode mode)
{
    if (mode == SpeakMode::Purge)
        purge();
    const int stream = ++m_lastStream;
    ++m_openStreams;
    Job job{m_generation, stream, text, m_voice >= 0 ? m_voices.at(m_voice).identifier.toUtf8() : QByteArray(),
            std::clamp(m_rate, 25, 400), std::clamp(m_volume, 0, 200)};
    {
        std::lock_guard guard(m_mutex);
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_all();
    return stream;
}

void EspeakSpeechEngine::purge()
{
    {
        std::lock_guard guard(m_mutex);
        ++m_generation;
        m_jobs.clear();
    }
    m_wake.notify_all();
    m_backlog -= (m_pending.size() - m_pendingAt) / BytesPerFrame;
    m_pending.clear();
    m_pendingAt = 0;
    m_marks.clear();
    if (m_outputRunning) {
        m_output->stop();
        m_outputRunning = false;
    }
    m_timelineEnd = 0;
    m_paused = false;
    m_openStreams = 0;
}

void EspeakSpeechEngine::pause()
{
    m_paused = true;
    if (m_outputRunning)
        m_output->suspend();
}

void EspeakSpeechEngine::resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    if (m_outputRunning)
        m_output->resume();
    pump();
}

void EspeakSpeechEngine::workerLoop()
{
    for (;;) {
        Job job;
        {
            std::unique_lock guard(m_mutex);
            m_wake.wait(guard, [this] { return m_quit || !m_jobs.empty(); });
            if (m_quit)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        if (job.generation != m_generation)
            continue;
        qint64 frames = 0;
        if (!job.text.trimmed().isEmpty() && available()) {
            frames = synthesize(job);
            if (frames < 0)
                continue;
        }
        Chunk end{job.generation, job.stream, frames, {}, {}, true};
        deliver(std::move(end));
    }
}

qint64 EspeakSpeechEngine::synthesize(const Job &job)
{
    Espeak &espeak = TheEspeak();
    // Another engine may be synthesizing; give up waiting once this job is dropped.
    std::unique_lock guard(espeak.lock, std::defer_lock);
    while (!guard.try_lock_for(std::chrono::milliseconds(50))) {
        if (job.generation != m_generation)
            return -1;
    }
    if (espeak.loadedVoice != job.voice && !job.voice.isEmpty()) {
        espeak_SetVoiceByName(job.voice.constData());
        espeak.loadedVoice = job.voice;
        espeak.rate = espeak.volume = -1; // a voice brings its own
    }
    // espeak keeps its parameters across voices and texts: set them only when they change.
    if (espeak.rate != job.rate) {
        espeak_SetParameter(espeakRATE, espeakRATE_NORMAL * job.rate / 100, 0);
        espeak.rate = job.rate;
    }
    if (espeak.volume != job.volume) {
        espeak_SetParameter(espeakVOLUME, job.volume, 0);
        espeak.volume = job.volume;
    }

    QString text = job.text;
    text.replace(QChar(0), QLatin1Char(' ')); // espeak reads up to the first zero
    // espeak counts positions in code points from 1; utf16At[k] is where code point k starts.
    std::vector<int> utf16At;
    utf16At.reserve(size_t(text.size()) + 1);
    for (int i = 0; i < text.size(); ++i) {
        if (!(i > 0 && text.at(i).isLowSurrogate() && text.at(i - 1).isHighSurrogate()))
            utf16At.push_back(i);
    }
    utf16At.push_back(int(text.size()));
    const int codePoints = int(utf16At.size()) - 1;
    const QByteArray utf8 = text.toUtf8();

    qint64 frames = 0;
    bool aborted = false;
    espeak.handler = [&](short *wav, int count, espeak_EVENT *events) -> int {
        if (job.generation != m_generation) {
            aborted = true;
            return 1;
        }
        Chunk chunk{job.generation, job.stream, frames, {}, {}, false};
        for (espeak_EVENT *e = events; e && e->type != espeakEVENT_LIST_TERMINATED; ++e) {
            if (e->type != espeakEVENT_WORD)
                continue;
            const int first = e->text_position - 1;
            if (first < 0 || first >= codePoints)
                continue;
            const int last = std::min(first + std::max(e->length, 0), codePoints);
            chunk.marks.push_back({qint64(e->audio_position) * espeak.sampleRate / 1000, job.stream, utf16At[first],
                                   utf16At[last] - utf16At[first]});
        }
        if (wav && count > 0) {
            chunk.samples = QByteArray(reinterpret_cast<const char *>(wav), count * BytesPerFrame);
            frames += count;
        }
        if (chunk.samples.isEmpty() && chunk.marks.empty())
            return 0;
        if (!deliver(std::move(chunk))) {
            aborted = true;
            return 1;
        }
        return 0;
    };
    espeak_Synth(utf8.constData(), size_t(utf8.size()) + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
    espeak.handler = nullptr;
    return aborted || job.generation != m_generation ? -1 : frames;
}

bool EspeakSpeechEngine::deliver(Chunk chunk)
{
    const quint64 generation = chunk.generation;
    if (generation != m_generation)
        return false;
    m_backlog += chunk.samples.size() / BytesPerFrame;
    QMetaObject::invokeMethod(
        this, [this, chunk = std::move(chunk)] { accept(chunk); }, Qt::QueuedConnection);

    const qint64 limit = MaxBacklogSeconds * sampleRate();
    std::unique_lock guard(m_mutex);
    while (!m_quit && generation == m_generation && m_backlog > limit)
        m_wake.wait_for(guard, std::chrono::milliseconds(50));
    return !m_quit && generation == m_generation;
}

void EspeakSpeechEngine::accept(const Chunk &chunk)
{
    const qint64 frames = chunk.samples.size() / BytesPerFrame;
    if (chunk.generation != m_generation) {
        m_backlog -= frames;
        return;
    }
    if (frames > 0 && !m_outputRunning) {
        m_output->start();
        m_outputRunning = true;
        if (m_paused)
            m_output->suspend();
    }
    auto insert = [this](Mark mark) {
        auto at = std::upper_bound(m_marks.begin(), m_marks.end(), mark.frame,
                                   [](qint64 frame, const Mark &m) { return frame < m.frame; });
        m_marks.insert(at, mark);
    };
    const qint64 origin = m_timelineEnd - chunk.streamFrame;
    for (Mark mark : chunk.marks) {
        mark.frame = std::max<qint64>(origin + mark.frame, 0);
        insert(mark);
    }
    m_pending.append(chunk.samples);
    m_timelineEnd += frames;
    if (chunk.ends) {
        // After every word of the stream, even one espeak placed past the last sample.
        const qint64 last = m_marks.empty() ? 0 : m_marks.back().frame;
        insert({std::max(m_timelineEnd, last), chunk.stream});
    }
    if (!m_pumpTimer.isActive())
        m_pumpTimer.start();
    pump();
}

void EspeakSpeechEngine::pump()
{
    if (m_outputRunning && !m_paused && m_pendingAt < m_pending.size()) {
        const char *data = m_pending.constData() + m_pendingAt;
        const qint64 taken = m_output->write(data, m_pending.size() - m_pendingAt);
        if (taken > 0) {
            m_recording.append(data, taken);
            m_pendingAt += taken;
            m_backlog -= taken / BytesPerFrame;
        }
        if (m_pendingAt == m_pending.size()) {
            m_pending.clear();
            m_pendingAt = 0;
        } else if (m_pendingAt > CompactAfterBytes) {
            m_pending.remove(0, m_pendingAt);
            m_pendingAt = 0;
        }
    }

    const qint64 played = m_outputRunning ? m_output->playedFrames() : m_timelineEnd;
    const quint64 generation = m_generation;
    while (!m_paused && !m_marks.empty() && m_marks.front().frame <= played) {
        const Mark mark = m_marks.front();
        m_marks.pop_front();
        if (mark.position < 0) {
            m_openStreams = std::max(m_openStreams - 1, 0);
            Q_EMIT endStream(mark.stream);
        } else {
            Q_EMIT word(mark.stream, mark.position, mark.length);
        }
        // A handler that purged has already reset everything this loop looks at.
        if (generation != m_generation)
            return;
    }

    if (m_pending.isEmpty() && m_marks.empty() && played >= m_timelineEnd) {
        if (m_outputRunning) {
            m_output->stop();
            m_outputRunning = false;
        }
        m_timelineEnd = 0;
        m_pumpTimer.stop();
    }
}
