#include "platform/SpeechAudioOutput.h"
#include "platform/SpeechEspeakEngine.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <cmath>

using namespace Qt::StringLiterals;

namespace {

struct Wav
{
    bool valid = false;
    int sampleRate = 0;
    QList<qint16> samples;
    double seconds() const { return sampleRate ? double(samples.size()) / sampleRate : 0; }
};

// Reads the plain 44-byte-header PCM files the engine writes and checks that header.
Wav ReadWav(const QString &path)
{
    Wav wav;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return wav;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 8) != "WAVEfmt " || bytes.mid(36, 4) != "data")
        return wav;
    const auto *h = reinterpret_cast<const uchar *>(bytes.constData());
    const quint32 dataBytes = qFromLittleEndian<quint32>(h + 40);
    if (qFromLittleEndian<quint16>(h + 20) != 1 || qFromLittleEndian<quint16>(h + 22) != 1 ||
        qFromLittleEndian<quint16>(h + 34) != 16 || qFromLittleEndian<quint32>(h + 4) != 36 + dataBytes ||
        dataBytes != quint32(bytes.size() - 44))
        return wav;
    wav.sampleRate = int(qFromLittleEndian<quint32>(h + 24));
    for (qsizetype at = 44; at + 1 < bytes.size(); at += 2)
        wav.samples.append(qFromLittleEndian<qint16>(h + at));
    wav.valid = true;
    return wav;
}

// Share of 50 ms windows whose loudness is above a quiet room.
double VoicedShare(const Wav &wav)
{
    const qsizetype window = wav.sampleRate / 20;
    int voiced = 0, windows = 0;
    for (qsizetype at = 0; at + window <= wav.samples.size(); at += window, ++windows) {
        double sum = 0;
        for (qsizetype i = at; i < at + window; ++i)
            sum += double(wav.samples[i]) * wav.samples[i];
        voiced += std::sqrt(sum / window) > 500;
    }
    return windows ? double(voiced) / windows : 0;
}

struct Word
{
    int stream, position, length;
};

QList<Word> Words(const QSignalSpy &spy)
{
    QList<Word> words;
    for (const QList<QVariant> &args : spy)
        words.append({args.at(0).toInt(), args.at(1).toInt(), args.at(2).toInt()});
    return words;
}

int VoiceIndex(const SpeechEngine &engine, const QString &identifier)
{
    const QList<SpeechVoice> voices = engine.voices();
    for (int i = 0; i < voices.size(); ++i) {
        if (voices[i].identifier == identifier)
            return i;
    }
    return -1;
}

std::unique_ptr<EspeakSpeechEngine> SilentEngine()
{
    return std::make_unique<EspeakSpeechEngine>(std::make_unique<SilentAudioOutput>(EspeakSpeechEngine::sampleRate()),
                                                u"cmn"_s, u"天地"_s);
}

} // namespace

class SpeechEngineTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        if (!EspeakSpeechEngine::available())
            QFAIL("espeak-ng did not start: is espeak-ng-data installed?");
    }

    void voiceOrder_data()
    {
        // Voices are "identifier:lang,lang", with "!" before a voice that misreads its script; the
        // result lists identifiers.
        QTest::addColumn<QStringList>("voices");
        QTest::addColumn<QStringList>("order");

        // clang-format off
        QTest::newRow("exact voice goes last") << QStringList{"cmn:cmn,zh", "en:en", "fr:fr"} << QStringList{"en", "fr", "cmn"};
        QTest::newRow("variants before the exact voice") << QStringList{"cmn:cmn,zh", "pinyin:cmn-latn-pinyin,zh", "de:de"} << QStringList{"de", "pinyin", "cmn"};
        QTest::newRow("second language counts as related") << QStringList{"x:zh-cmn,cmn", "cmn:cmn", "y:yue,zh"} << QStringList{"y", "x", "cmn"};
        QTest::newRow("misreading exact voice yields to a variant") << QStringList{"!cmn:cmn,zh", "pinyin:cmn-latn-pinyin", "en:en"} << QStringList{"en", "cmn", "pinyin"};
        QTest::newRow("misreading voices still after unrelated") << QStringList{"!p:cmn-latn-pinyin", "cmn:cmn", "en:en"} << QStringList{"en", "p", "cmn"};
        QTest::newRow("prefix of a longer tag is no match") << QStringList{"cmnx:cmnx", "en:en"} << QStringList{"cmnx", "en"};
        // clang-format on
    }
    void voiceOrder()
    {
        QFETCH(QStringList, voices);

        QList<SpeechVoice> list;
        for (QString v : voices) {
            const bool misreads = v.startsWith(u'!');
            v.remove(u'!');
            list.append({v.section(u':', 0, 0), {}, v.section(u':', 1).split(u','), !misreads});
        }
        QStringList result;
        for (const SpeechVoice &v : OrderVoicesForReading(list, u"cmn"_s))
            result << v.identifier;
        QTEST(result, "order");
    }

    void wordsFollowTheText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("wordPattern");
        QTest::newRow("accents") << u"Héllo wörld, the end."_s << u"\\w+"_s;
        QTest::newRow("beyond the basic plane") << u"𝄞 music 𝄞 plays now"_s << u"[a-z]+"_s;
    }

    // Each word arrives once its audio has played, in order, on a word of the text given, counted
    // in UTF-16 units. Mandarin text with its punctuation is followed in tst_voicecontroller.
    void wordsFollowTheText()
    {
        QFETCH(QString, text);
        QFETCH(QString, wordPattern);

        auto engine = SilentEngine();
        QVERIFY(engine->setVoice(VoiceIndex(*engine, u"gmw/en"_s)));
        QTemporaryDir dir;
        QVERIFY(engine->setRecordingFile(dir.filePath(u"words.wav"_s)));
        QSignalSpy words(engine.get(), &SpeechEngine::word);
        QSignalSpy ends(engine.get(), &SpeechEngine::endStream);

        QElapsedTimer clock;
        clock.start();
        const int stream = engine->speak(text);
        QVERIFY(engine->isSpeaking());
        QVERIFY(words.isEmpty()); // nothing is reported before it is played
        QTRY_COMPARE_WITH_TIMEOUT(ends.size(), 1, 15000);
        const qint64 elapsedMs = clock.elapsed();
        QCOMPARE(ends.first().first().toInt(), stream);
        QVERIFY(!engine->isSpeaking());

        const Wav wav = ReadWav(dir.filePath(u"words.wav"_s));
        QVERIFY(wav.valid);
        QVERIFY2(elapsedMs >= wav.seconds() * 1000 - 50,
                 qPrintable(u"%1 ms for %2 s"_s.arg(elapsedMs).arg(wav.seconds())));

        int previous = -1;
        QSet<int> covered;
        for (const Word &w : Words(words)) {
            QCOMPARE(w.stream, stream);
            QVERIFY2(w.position > previous, "positions rise");
            QVERIFY(w.length > 0 && w.position + w.length <= text.size());
            QVERIFY2(!text.mid(w.position, w.length).trimmed().isEmpty(), qPrintable(text.mid(w.position, w.length)));
            QVERIFY(!text.at(w.position).isLowSurrogate());
            previous = w.position;
            covered.insert(w.position);
        }
        int expected = 0, hit = 0;
        for (const QRegularExpressionMatch &m :
             QRegularExpression(wordPattern, QRegularExpression::UseUnicodePropertiesOption).globalMatch(text)) {
            ++expected;
            hit += covered.contains(int(m.capturedStart()));
        }
        QVERIFY2(hit * 10 >= expected * 8, qPrintable(u"%1 of %2 words"_s.arg(hit).arg(expected)));
    }

    void queuedStreamsFollowEachOther()
    {
        auto engine = SilentEngine();
        QStringList order;
        connect(engine.get(), &SpeechEngine::word, this,
                [&order](int stream, int position) { order << u"w%1:%2"_s.arg(stream).arg(position); });
        connect(engine.get(), &SpeechEngine::endStream, this,
                [&order](int stream) { order << u"end%1"_s.arg(stream); });
        const int first = engine->speak(u"你好"_s);
        const int empty = engine->speak(QString());
        const int second = engine->speak(u"再见"_s);
        QTRY_VERIFY_WITH_TIMEOUT(order.contains(u"end%1"_s.arg(second)), 10000);
        QCOMPARE(order, (QStringList{u"w%1:0"_s.arg(first), u"w%1:1"_s.arg(first), u"end%1"_s.arg(first),
                                     u"end%1"_s.arg(empty), u"w%1:0"_s.arg(second), u"w%1:1"_s.arg(second),
                                     u"end%1"_s.arg(second)}));
    }

    // The recording aid as the program sets it up: environment variables only. The voice chosen
    // at start-up is the last: a Mandarin one that reads characters as Mandarin. espeak-ng 1.51's
    // "sit/cmn" reads them as pinyin spoken in English and then yields to "sit/cmn-Latn-pinyin";
    // a fixed "sit/cmn" comes last itself. Which of them speaks shows in the time per character.
    void chapterRecordedWithMandarin()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"chapter.wav"_s);
        qputenv("FOLIOWAY_SILENT_AUDIO", "1");
        qputenv("FOLIOWAY_SPEECH_WAV", path.toLocal8Bit());
        const QString chapter = u"第一章　出发\n天亮了，我们一起去山里看日出。"_s;
        {
            std::unique_ptr<SpeechEngine> engine = SpeechEngine::create();
            qunsetenv("FOLIOWAY_SPEECH_WAV");
            const SpeechVoice voice = engine->voices().value(engine->currentVoice());
            QVERIFY(voice.languages.value(0).startsWith(u"cmn"_s) && voice.readsOwnScript);
            QSignalSpy ends(engine.get(), &SpeechEngine::endStream);
            engine->speak(chapter);
            QTRY_COMPARE_WITH_TIMEOUT(ends.size(), 1, 20000);
        }
        const Wav wav = ReadWav(path);
        QVERIFY(wav.valid);
        QCOMPARE(wav.sampleRate, EspeakSpeechEngine::sampleRate());
        // Mandarin says one syllable per character, about a fifth of a second each. Pinyin read out
        // in English with tone numbers ("tian one") takes about 0.3 s, an English voice naming each
        // one ("Chinese letter") about 0.55 s.
        const auto characters = chapter.count(QRegularExpression(u"\\p{Han}"_s));
        const double perCharacter = wav.seconds() / characters;
        QVERIFY2(perCharacter > 0.12 && perCharacter < 0.26, qPrintable(QString::number(perCharacter)));
        const double voiced = VoicedShare(wav);
        QVERIFY2(voiced > 0.5 && voiced < 0.98, qPrintable(QString::number(voiced)));
        if (qEnvironmentVariableIsSet("FOLIOWAY_KEEP_WAV"))
            QFile::copy(path, qEnvironmentVariable("FOLIOWAY_KEEP_WAV"));
    }
};

QTEST_MAIN(SpeechEngineTest)
#include "tst_speechengine.moc"
