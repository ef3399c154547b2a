#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

struct SpeechVoice
{
    QString identifier;  // the engine's own key, e.g. "sit/cmn"
    QString description; // what the voice list shows
    // Language tags the voice speaks, most fitting first (lower case, e.g. "cmn", "zh-cmn", "zh").
    QStringList languages;
    // False when the voice was found to read its own language's script through another
    // language's sounds (espeak-ng 1.51's "cmn" says 天 as the English words "tian one").
    bool readsOwnScript = true;
    enum class Gender
    {
        Unknown,
        Male,
        Female
    };
    Gender gender = Gender::Unknown;
};

// How the voice list shows the engine's voices, as positions in `voices`: first the Mandarin and
// then the Cantonese voices that read Chinese characters, under the names a Chinese reader knows
// them by ("普通话（女声）"; how a voice reads Latin letters is added only where two would share
// a name), then every other voice in the engine's order under its own description.
struct VoiceListOrder
{
    QList<int> chinese;
    QStringList chineseNames;
    QList<int> others;
};
VoiceListOrder OrderVoicesForList(const QList<SpeechVoice> &voices);

// Orders voices for a reader of `language` texts; within a group voices keep their order:
// unrelated voices first, then voices of the language that misread its script, then related
// voices (a dialect or a romanised variant), and last the voices whose first language is
// exactly `language`. The voice list selects its last entry at start-up, so that one speaks
// the books.
QList<SpeechVoice> OrderVoicesForReading(QList<SpeechVoice> voices, const QString &language);

// A text-to-speech voice that speaks asynchronously and reports, on the thread that owns it,
// which word it is saying and when a text has been said to the end.
//
// Every speak() is one stream with its own number. Streams are spoken one after the other;
// `Purge` drops everything still queued or sounding first (and lifts a pause), and its stream
// then starts at once. Speaking an empty text with `Purge` is how speech is stopped: that empty
// stream ends straight away and reports its end like any other.
class SpeechEngine : public QObject
{
    Q_OBJECT
public:
    enum class SpeakMode
    {
        Queue,
        Purge
    };

    using QObject::QObject;

    // The espeak-ng engine when it can start (its data found), otherwise the silent one.
    // FOLIOWAY_SPEECH_WAV=<file> records everything spoken to that WAV file.
    static std::unique_ptr<SpeechEngine> create(QObject *parent = nullptr);

    virtual QList<SpeechVoice> voices() const = 0;
    virtual int currentVoice() const = 0;
    // Takes effect for texts spoken afterwards. False for an index outside voices().
    virtual bool setVoice(int index) = 0;
    // Speed and loudness in percent of the engine's normal (100), for texts spoken afterwards.
    // An engine that cannot change them keeps its own.
    virtual void setRate(int percent) { Q_UNUSED(percent); }
    virtual void setVolume(int percent) { Q_UNUSED(percent); }

    // Returns the stream number.
    virtual int speak(const QString &text, SpeakMode mode = SpeakMode::Queue) = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    virtual bool isPaused() const = 0;
    // True while some stream has not reported its end.
    virtual bool isSpeaking() const = 0;

    // Debug aid: everything sent to the audio output from now on also goes to a 16-bit mono
    // WAV file (an empty path stops recording). False when the file cannot be written.
    virtual bool setRecordingFile(const QString &path)
    {
        Q_UNUSED(path);
        return false;
    }

Q_SIGNALS:
    // Emitted when the audio of the word is played. `position` and `length` count UTF-16 code
    // units of the text given to speak(), from 0.
    void word(int stream, int position, int length);
    void endStream(int stream);
};

// Stands in where no speech engine can run: no voices, and every stream ends at once.
class NoSpeechEngine : public SpeechEngine
{
    Q_OBJECT
public:
    using SpeechEngine::SpeechEngine;

    QList<SpeechVoice> voices() const override { return {}; }
    int currentVoice() const override { return -1; }
    bool setVoice(int) override { return false; }
    int speak(const QString &text, SpeakMode mode = SpeakMode::Queue) override;
    void pause() override { m_paused = true; }
    void resume() override { m_paused = false; }
    bool isPaused() const override { return m_paused; }
    bool isSpeaking() const override { return m_open > 0; }

private:
    int m_lastStream = 0;
    int m_open = 0;
    bool m_paused = false;
};
