#include "reader/VoiceController.h"

#include "platform/SpeechEngine.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QSlider>
#include <QStyle>

#include <algorithm>

namespace {

const QString StartText = QStringLiteral("开始朗读");
const QString PauseText = QStringLiteral("暂停朗读");
const QString ContinueText = QStringLiteral("继续朗读");

const int SleepMinutes[] = {0, 15, 30, 60};

QSlider *percentSlider(const QString &name, int from, int to, QWidget *parent)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(from, to);
    slider->setPageStep(10);
    slider->setFocusPolicy(Qt::NoFocus);
    slider->setTracking(false); // one change when the handle is let go, not one per pixel
    return slider;
}

} // namespace

QString VoiceOptions::toText() const
{
    const QJsonObject object{{QStringLiteral("rate"), rate},
                             {QStringLiteral("volume"), volume},
                             {QStringLiteral("readOn"), readOn}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

VoiceOptions VoiceOptions::fromText(const QString &text)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    VoiceOptions options;
    options.rate = std::clamp(object.value(QStringLiteral("rate")).toInt(options.rate), 50, 200);
    options.volume = std::clamp(object.value(QStringLiteral("volume")).toInt(options.volume), 10, 100);
    options.readOn = object.value(QStringLiteral("readOn")).toBool(options.readOn);
    return options;
}

VoiceController::VoicePanel VoiceController::createVoicePanel(QWidget *parent)
{
    auto *panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("voicePanel"));
    auto *layout = new QGridLayout(panel);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(new QLabel(QStringLiteral("语音库:"), panel), 0, 0);
    auto *list = new QComboBox(panel);
    list->setObjectName(QStringLiteral("voiceList"));
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    layout->addWidget(list, 0, 1, 1, 3);

    VoicePanel made{panel, list};
    made.rate = percentSlider(QStringLiteral("voiceRate"), 50, 200, panel);
    made.volume = percentSlider(QStringLiteral("voiceVolume"), 10, 100, panel);
    made.readOn = new QCheckBox(QStringLiteral("读完本章接着读下一章"), panel);
    made.readOn->setObjectName(QStringLiteral("voiceReadOn"));
    made.readOn->setFocusPolicy(Qt::NoFocus);
    made.sleepTimer = new QComboBox(panel);
    made.sleepTimer->setObjectName(QStringLiteral("voiceSleepTimer"));
    made.sleepTimer->addItems({QStringLiteral("不定时"), QStringLiteral("15分钟后停止"), QStringLiteral("30分钟后停止"),
                               QStringLiteral("60分钟后停止")});
    made.sleepTimer->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(new QLabel(QStringLiteral("语速:"), panel), 1, 0);
    layout->addWidget(made.rate, 1, 1);
    layout->addWidget(new QLabel(QStringLiteral("音量:"), panel), 1, 2);
    layout->addWidget(made.volume, 1, 3);
    layout->addWidget(made.readOn, 2, 0, 1, 2);
    layout->addWidget(new QLabel(QStringLiteral("定时:"), panel), 2, 2);
    layout->addWidget(made.sleepTimer, 2, 3);
    panel->hide();
    return made;
}

void VoiceController::attachOptions(const VoicePanel &panel, const VoiceOptions &options)
{
    m_extras = panel;
    m_options = options;
    panel.rate->setValue(options.rate);
    panel.volume->setValue(options.volume);
    panel.readOn->setChecked(options.readOn);
    m_engine->setRate(options.rate);
    m_engine->setVolume(options.volume);
    const auto changed = [this] {
        m_options = {m_extras.rate->value(), m_extras.volume->value(), m_extras.readOn->isChecked()};
        m_engine->setRate(m_options.rate);
        m_engine->setVolume(m_options.volume);
        Q_EMIT optionsChanged(m_options);
    };
    connect(panel.rate, &QSlider::valueChanged, this, changed);
    connect(panel.volume, &QSlider::valueChanged, this, changed);
    connect(panel.readOn, &QCheckBox::toggled, this, changed);
    connect(panel.sleepTimer, &QComboBox::activated, this,
            [this](int index) { setSleepMinutes(SleepMinutes[std::clamp(index, 0, 3)]); });
}

void VoiceController::setSleepMinutes(int minutes)
{
    if (minutes <= 0) {
        m_sleep.stop();
        return;
    }
    m_sleep.start(std::chrono::minutes(minutes));
}

void VoiceController::sleepTimeUp()
{
    m_sleep.stop();
    if (m_extras.sleepTimer)
        m_extras.sleepTimer->setCurrentIndex(0);
    if (state() != StartText)
        stopClicked();
}

VoiceController::VoiceController(SpeechEngine *engine, const Controls &controls, Page page, QObject *parent)
    : QObject(parent), m_engine(engine), m_controls(controls), m_page(std::move(page))
{
    setState(StartText);
    m_controls.panel->hide();
    m_sleep.setSingleShot(true);
    connect(&m_sleep, &QTimer::timeout, this, &VoiceController::sleepTimeUp);

    const QList<SpeechVoice> voices = m_engine->voices();
    m_controls.voiceList->clear();
    for (const SpeechVoice &voice : voices)
        m_controls.voiceList->addItem(voice.description);
    if (!voices.isEmpty()) {
        m_controls.voiceList->setCurrentIndex(int(voices.size()) - 1);
        m_engine->setVoice(int(voices.size()) - 1);
    }

    connect(m_controls.readButton, &QAbstractButton::clicked, this, &VoiceController::readClicked);
    connect(m_controls.stopButton, &QAbstractButton::clicked, this, &VoiceController::stopClicked);
    connect(m_controls.panelButton, &QAbstractButton::clicked, this, &VoiceController::panelClicked);
    connect(m_controls.voiceList, &QComboBox::activated, this, &VoiceController::voiceChosen);
    m_controls.voiceList->installEventFilter(this);

    connect(m_engine, &SpeechEngine::word, this, [this](int, int position, int length) {
        if (m_page.highlight)
            m_page.highlight(position + LeadLength, length);
    });
    connect(m_engine, &SpeechEngine::endStream, this, &VoiceController::onEndStream);
}

QString VoiceController::state() const
{
    return m_controls.readButton->toolTip();
}

void VoiceController::setState(const QString &toolTip)
{
    QAbstractButton *button = m_controls.readButton;
    button->setToolTip(toolTip);
    button->setText(toolTip);
    button->setIcon(button->style()->standardIcon(toolTip == PauseText ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
}

void VoiceController::readClicked()
{
    const QString current = state();
    if (current == StartText) {
        setState(PauseText);
        const int request = ++m_request;
        if (!m_page.contentText) {
            speakContent({});
            return;
        }
        QPointer<VoiceController> self(this);
        m_page.contentText([self, request](const QString &content) {
            if (self && request == self->m_request)
                self->speakContent(content);
        });
    } else if (current == PauseText) {
        m_engine->pause();
        setState(ContinueText);
    } else if (current == ContinueText) {
        m_engine->resume();
        setState(PauseText);
    }
}

void VoiceController::speakContent(const QString &content)
{
    m_stopped = false;
    QString text = content;
    text.remove(QLatin1Char('\r'));
    text = text.mid(LeadLength);
    m_lastStream = m_engine->speak(text.isEmpty() ? QStringLiteral("没有可朗读内容") : text);
}

void VoiceController::stopClicked()
{
    m_stopped = true;
    ++m_request;
    m_lastStream = m_engine->speak(QString(), SpeechEngine::SpeakMode::Purge);
}

void VoiceController::panelClicked()
{
    if (m_controls.panel->isVisible()) {
        m_controls.panel->hide();
        return;
    }
    m_controls.panel->show();
    m_controls.panel->raise();
    m_controls.voiceList->setFocus(Qt::OtherFocusReason);
}

void VoiceController::voiceChosen(int index)
{
    stopClicked();
    m_engine->setVoice(index);
    setState(StartText);
    m_controls.panel->hide();
}

void VoiceController::onEndStream(int stream)
{
    // Only the end of the newest stream means the reading is over; an older one ends when a
    // stop or a voice change cuts it off, possibly after reading has started again.
    if (stream != m_lastStream)
        return;
    setState(StartText);
    if (!m_stopped && m_options.readOn)
        Q_EMIT finishedReading();
}

bool VoiceController::eventFilter(QObject *watched, QEvent *event)
{
    // Opening the drop-down moves the focus into its pop-up; that is not leaving the panel.
    if (watched == m_controls.voiceList && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason)
        m_controls.panel->hide();
    return QObject::eventFilter(watched, event);
}
