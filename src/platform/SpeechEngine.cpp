#include "platform/SpeechEngine.h"

#ifdef FOLIOWAY_HAVE_ESPEAK
#include "platform/SpeechAudioOutput.h"
#include "platform/SpeechEspeakEngine.h"
#endif

#include <QMetaObject>

#include <algorithm>
#include <tuple>

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

namespace {

enum class Chinese
{
    None,
    Mandarin,
    Cantonese
};

Chinese ChineseOf(const SpeechVoice &voice)
{
    if (voice.languages.isEmpty() || !voice.readsOwnScript)
        return Chinese::None;
    const QString tag = voice.languages.first();
    const auto is = [&tag](const char *name) {
        const QString n = QString::fromLatin1(name);
        return tag == n || tag.startsWith(n + QLatin1Char('-'));
    };
    if (is("yue") || is("zh-yue") || is("zh-hk") || is("zh-mo"))
        return Chinese::Cantonese;
    if (is("cmn") || is("zh-cmn") || tag == u"zh" || is("zh-cn") || is("zh-tw") || is("zh-sg") || is("zh-hans") ||
        is("zh-hant"))
        return Chinese::Mandarin;
    return Chinese::None;
}

// Reads Latin letters by a romanisation (pinyin, jyutping) rather than as English.
bool ReadsLatinAsRomanisation(const SpeechVoice &voice)
{
    if (voice.identifier.contains(QLatin1String("latn"), Qt::CaseInsensitive))
        return true;
    return std::any_of(voice.languages.cbegin(), voice.languages.cend(),
                       [](const QString &l) { return l.contains(QLatin1String("-latn")); });
}

} // namespace

VoiceListOrder OrderVoicesForList(const QList<SpeechVoice> &voices)
{
    struct Named
    {
        int index;
        Chinese language;
        QString plain; // without how Latin letters are read
        QString full;
    };
    QList<Named> named;
    VoiceListOrder order;
    for (int i = 0; i < voices.size(); ++i) {
        const SpeechVoice &voice = voices.at(i);
        const Chinese language = ChineseOf(voice);
        if (language == Chinese::None) {
            order.others.append(i);
            continue;
        }
        const QString base = language == Chinese::Mandarin ? QStringLiteral("普通话") : QStringLiteral("粤语");
        QStringList details;
        if (voice.gender != SpeechVoice::Gender::Unknown)
            details << (voice.gender == SpeechVoice::Gender::Female ? QStringLiteral("女声") : QStringLiteral("男声"));
        const auto name = [&base](const QStringList &parts) {
            return parts.isEmpty() ? base : base + u'（' + parts.join(u'，') + u'）';
        };
        const QString plain = name(details);
        if (ReadsLatinAsRomanisation(voice))
            details << (language == Chinese::Mandarin ? QStringLiteral("字母按拼音读")
                                                      : QStringLiteral("字母按粤拼读"));
        named.append({i, language, plain, name(details)});
    }
    // Mandarin before Cantonese; the plain reading of Latin letters before a romanised one; male,
    // female, then voices that do not say.
    const auto key = [&voices](const Named &n) {
        const SpeechVoice::Gender g = voices.at(n.index).gender;
        const int gender = g == SpeechVoice::Gender::Male ? 0 : g == SpeechVoice::Gender::Female ? 1 : 2;
        return std::tuple(n.language == Chinese::Mandarin ? 0 : 1, n.plain != n.full, gender, n.index);
    };
    std::sort(named.begin(), named.end(), [&key](const Named &a, const Named &b) { return key(a) < key(b); });
    for (const Named &n : named) {
        const auto same =
            std::count_if(named.cbegin(), named.cend(), [&n](const Named &o) { return o.plain == n.plain; });
        order.chinese.append(n.index);
        order.chineseNames.append(same > 1 ? n.full : n.plain);
    }
    return order;
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
