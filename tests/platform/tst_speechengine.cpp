#include "platform/SpeechEspeakEngine.h"

#include <QtTest>

#include <algorithm>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

// The samples of a 16-bit PCM file with the plain 44-byte header; empty when it is not one.
QList<qint16> WavSamples(const QString &path)
{
    QFile file(path);
    QList<qint16> samples;
    if (!file.open(QIODevice::ReadOnly))
        return samples;
    const QByteArray bytes = file.readAll();
    if (bytes.size() < 44 || !bytes.startsWith("RIFF") || bytes.mid(8, 8) != "WAVEfmt " || bytes.mid(36, 4) != "data")
        return samples;
    const auto *h = reinterpret_cast<const uchar *>(bytes.constData());
    for (qsizetype at = 44; at + 1 < bytes.size(); at += 2)
        samples.append(qFromLittleEndian<qint16>(h + at));
    return samples;
}

// Voices written "identifier:lang,lang:gender" (m, f or nothing), "!" before one that misreads
// its script.
QList<SpeechVoice> Voices(const QStringList &texts)
{
    QList<SpeechVoice> list;
    for (QString v : texts) {
        const bool misreads = v.startsWith(u'!');
        v.remove(u'!');
        list.append({v.section(u':', 0, 0), {}, v.section(u':', 1, 1).split(u','), !misreads});
        const QString gender = v.section(u':', 2, 2);
        list.last().gender = gender == u"m"   ? SpeechVoice::Gender::Male
                             : gender == u"f" ? SpeechVoice::Gender::Female
                                              : SpeechVoice::Gender::Unknown;
    }
    return list;
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
        // Voices as Voices() reads them; the result lists identifiers.
        QTest::addColumn<QStringList>("voices");
        QTest::addColumn<QStringList>("order");

        // clang-format off
        QTest::newRow("variants before the exact voice") << QStringList{"cmn:cmn,zh", "pinyin:cmn-latn-pinyin,zh", "de:de"} << QStringList{"de", "pinyin", "cmn"};
        QTest::newRow("second language counts as related") << QStringList{"x:zh-cmn,cmn", "cmn:cmn", "y:yue,zh"} << QStringList{"y", "x", "cmn"};
        QTest::newRow("misreading exact voice yields to a variant") << QStringList{"!cmn:cmn,zh", "pinyin:cmn-latn-pinyin", "en:en"} << QStringList{"en", "cmn", "pinyin"};
        QTest::newRow("prefix of a longer tag is no match") << QStringList{"cmnx:cmnx", "en:en"} << QStringList{"cmnx", "en"};
        // clang-format on
    }
    void voiceOrder()
    {
        QFETCH(QStringList, voices);
        QStringList result;
        for (const SpeechVoice &v : OrderVoicesForReading(Voices(voices), u"cmn"_s))
            result << v.identifier;
        QTEST(result, "order");
    }

    void voiceListNames_data()
    {
        // The result lists the Chinese section as "index=name", then "|" and the rest.
        QTest::addColumn<QStringList>("voices");
        QTest::addColumn<QStringList>("list");

        // clang-format off
        QTest::newRow("espeak: Mandarin, then Cantonese; a misreading voice with the rest")
            << QStringList{"af:af:m", "!sit/cmn:cmn,zh:m", "sit/cmn-Latn-pinyin+f2:cmn-latn-pinyin,zh:f", "sit/cmn-Latn-pinyin:cmn-latn-pinyin,zh:m", "sit/yue:yue,zh:m", "sit/yue-Latn-jyutping:yue,zh:m", "qya:qya:m"}
            << QStringList{"3=普通话（男声）", "2=普通话（女声）", "4=粤语（男声）", "5=粤语（男声，字母按粤拼读）", "|", "0", "1", "6"};
        QTest::newRow("other engines' tags, no gender") << QStringList{"a:zh-hk", "b:zh-cn", "c:en-us", "d:zh-tw:f"}
            << QStringList{"3=普通话（女声）", "1=普通话", "0=粤语", "|", "2"};
        QTest::newRow("no Chinese voice: all in the engine's order") << QStringList{"x:en", "y:de"} << QStringList{"|", "0", "1"};
        // clang-format on
    }
    void voiceListNames()
    {
        QFETCH(QStringList, voices);
        const VoiceListOrder order = OrderVoicesForList(Voices(voices));
        QStringList result;
        for (int i = 0; i < order.chinese.size(); ++i)
            result << u"%1=%2"_s.arg(order.chinese.at(i)).arg(order.chineseNames.value(i));
        result << u"|"_s;
        for (int index : order.others)
            result << QString::number(index);
        QTEST(result, "list");
    }

    // The recording aid as the program sets it up: environment variables only. The voice chosen
    // at start-up is a Mandarin one that reads characters as Mandarin, and the chapter is heard.
    void chapterRecordedWithMandarin()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"chapter.wav"_s);
        qputenv("FOLIOWAY_SILENT_AUDIO", "1");
        qputenv("FOLIOWAY_SPEECH_WAV", path.toLocal8Bit());
        {
            std::unique_ptr<SpeechEngine> engine = SpeechEngine::create();
            qunsetenv("FOLIOWAY_SPEECH_WAV");
            const SpeechVoice voice = engine->voices().value(engine->currentVoice());
            QVERIFY(voice.languages.value(0).startsWith(u"cmn"_s) && voice.readsOwnScript);
            QSignalSpy ends(engine.get(), &SpeechEngine::endStream);
            engine->speak(u"第一章　出发\n天亮了，我们一起去山里看日出。"_s);
            QTRY_COMPARE_WITH_TIMEOUT(ends.size(), 1, 20000);
        }
        const QList<qint16> samples = WavSamples(path);
        QVERIFY(samples.size() > EspeakSpeechEngine::sampleRate()); // over a second of speech
        QVERIFY(std::any_of(samples.cbegin(), samples.cend(), [](qint16 v) { return std::abs(v) > 2000; }));
    }
};

QTEST_MAIN(SpeechEngineTest)
#include "tst_speechengine.moc"
