#pragma once

#include "platform/SpeechEngine.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QSlider;

// How the reader likes to be read to; kept in the library as one option text.
struct VoiceOptions
{
    int rate = 100;      // percent of the engine's normal speed, 50..200
    int volume = 100;    // percent, 10..100
    bool readOn = false; // at the end of a chapter, go on with the next one (only once ticked)
    int sleepMinutes = 0; // the sleep timer's choice: 0 (不定时), 15, 30 or 60

    bool operator==(const VoiceOptions &) const = default;
    QString toText() const;
    static VoiceOptions fromText(const QString &text);
};

// Reading the page aloud from the reading toolbar: the read-aloud button (start, pause,
// continue), the stop button, the voice-panel button and the voice panel with its list.
//
// The read-aloud button's tool tip is its state ("开始朗读", "暂停朗读", "继续朗读"); the
// controller also gives it the matching play or pause icon and the same text.
//
// Page contract. The page's `Content` element starts with a two-character lead that is not
// read: its innerText is those two characters (in the template, the indent "　　" before the
// chapter) followed by the chapter text. `Page::contentText` hands over that innerText whole;
// the controller removes carriage returns, drops the lead and speaks the rest. `Page::highlight`
// gets (start, length) counted in UTF-16 code units of the same innerText with carriage returns
// removed, lead included, so it selects exactly the word being spoken (the spoken position + 2).
class VoiceController : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        QAbstractButton *readButton;
        QAbstractButton *stopButton;
        QAbstractButton *panelButton;
        QWidget *panel; // shown below the toolbar; holds the label and the list
        QComboBox *voiceList;
    };
    struct Page
    {
        // Asks for the innerText of `Content`; the answer may come later (a script round trip).
        std::function<void(std::function<void(const QString &)> reply)> contentText;
        // Selects a range of `Content`; out-of-range values are the page's to ignore.
        std::function<void(int start, int length)> highlight;
        // Asks for the same innerText and the place in it the reader chose to read from (the
        // selection or the right-clicked point; -1 for none), counted like `highlight` counts.
        std::function<void(std::function<void(const QString &, int)> reply)> chosenPlace;
    };
    // The voice panel as the toolbar shows it: the label "语音库:" and the voice list, and below
    // them speed, volume, reading on and the sleep timer. Only the voice list takes the focus,
    // so the panel stays open while the others are used.
    struct VoicePanel
    {
        QWidget *panel;
        QComboBox *voiceList;
        QSlider *rate = nullptr;
        QSlider *volume = nullptr;
        QCheckBox *readOn = nullptr;
        QComboBox *sleepTimer = nullptr; // 不定时, 15, 30, 60 minutes
    };
    static VoicePanel createVoicePanel(QWidget *parent);

    static constexpr int LeadLength = 2;

    // Fills the voice list with every voice of the engine (in OrderVoicesForList() order, the
    // other voices under the header "更多语音…" when there are Chinese ones), selects the
    // engine's last voice and makes it the current one. The engine must outlive the controller; the controls are
    // owned by their window.
    VoiceController(SpeechEngine *engine, const Controls &controls, Page page, QObject *parent = nullptr);

    // The panel's further controls; without them the controller reads as it always did.
    void attachOptions(const VoicePanel &panel, const VoiceOptions &options);
    VoiceOptions options() const { return m_options; }
    // Sleep timer: stops the reading when it runs out; 0 switches it off. A kept choice starts
    // it whenever reading starts and it is not running.
    void setSleepMinutes(int minutes);
    bool sleepTimerRunning() const { return m_sleep.isActive(); }
    void sleepTimeUp();

    QString state() const;

    void readClicked();
    // Reads from the page's chosen place (Page::chosenPlace), cutting off any reading under way;
    // a place inside the lead, or none, reads from the top.
    void readFromChosenPlace();
    void stopClicked();
    void panelClicked();
    void voiceChosen(int index);

Q_SIGNALS:
    // The page has been read to its end (not stopped) and reading on is wanted.
    void finishedReading();
    void optionsChanged(const VoiceOptions &options);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setState(const QString &toolTip);
    void fillVoiceList();
    void startSleepTimer();
    // Speaks `content` (carriage returns removed) from `from` on.
    void speakContent(const QString &content, int from, SpeechEngine::SpeakMode mode = SpeechEngine::SpeakMode::Queue);
    void onEndStream(int stream);

    SpeechEngine *m_engine;
    Controls m_controls;
    Page m_page;
    int m_lastStream = 0;
    int m_spokenFrom = LeadLength; // where in the page text the spoken text starts
    bool m_stopped = false; // the newest stream was cut off, not read to its end
    VoiceOptions m_options;
    VoicePanel m_extras{};
    QTimer m_sleep;
    // Bumped by stop and voice change, so that page text asked for before them is not read.
    int m_request = 0;
};
