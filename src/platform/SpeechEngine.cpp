#include "platform/SpeechEngine.h"

#ifdef FOLIOWAY_HAVE_ESPEAK
#include "platform/SpeechAudioOutput.h"
#include "platform/SpeechEspeakEngine.h"
#endif

#include <QMetaObject>

#include <algorithm>

QList<SpeechVoice> OrderVoicesForReading(QList<SpeechVoice> voices, const QString &language)
{
    const QString tag = language.toLower();
    auto rank = [&tag](const SpeechVoice &voice) {
        int related = 0;
        if (!voice.languages.isEmpty() && voice.languages.first() == tag)
            related = 2;
        for (const QString &l : voice.languages) {
            if (!related && (l == tag || l.startsWith(tag + QLatin1Char('-'))))
                related = 1;
        }
        if (!related)
            return 0;
        return voice.readsOwnScript ? related + 1 : 1;
    };
    std::stable_sort(voices.begin(), voices.end(),
                     [&rank](const SpeechVoice &a, const SpeechVoice &b) { return rank(a) < rank(b); });
    return voices;
}

std::unique_ptr<SpeechEngine> SpeechEngine::create(QObject *parent)
{
#ifdef FOLIOWAY_HAVE_ESPEAK
    if (EspeakSpeechEngine::available()) {
        // The books are Chinese: a Mandarin voice that really reads characters is chosen at start-up.
        auto engine = std::make_unique<EspeakSpeechEngine>(SpeechAudioOutput::create(EspeakSpeechEngine::sampleRate()),
                                                           QStringLiteral("cmn"), QStringLiteral("天地"), parent);
        const QString recording = qEnvironmentVariable("FOLIOWAY_SPEECH_WAV");
        if (!recording.isEmpty())
            engine->setRecordingFile(recording);
        return engine;
    }
#endif
    return std::make_unique<NoSpeechEngine>(parent);
}

int NoSpeechEngine::speak(const QString &, SpeakMode)
{
    const int stream = ++m_lastStream;
    ++m_open;
    QMetaObject::invokeMethod(
        this,
        [this, stream] {
            m_open = std::max(m_open - 1, 0);
            Q_EMIT endStream(stream);
        },
        Qt::QueuedConnection);
    return stream;
}
