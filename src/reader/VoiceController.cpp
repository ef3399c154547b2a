#include "reader/VoiceController.h"

#include "platform/SpeechEngine.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
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
#include <QStandardItemModel>
#include <QStyle>

#include <algorithm>

namespace {

const QString StartText = QStringLiteral("开始朗读");
const QString PauseText = QStringLiteral("暂停朗读");
const QString ContinueText = QStringLiteral("继续朗读");

const int SleepMinutes[] = {0, 15, 30, 60};

int SleepIndex(int minutes)
{
    const auto *at = std::find(std::begin(SleepMinutes), std::end(SleepMinutes), minutes);
    return at == std::end(SleepMinutes) ? 0 : int(at - std::begin(SleepMinutes));
}

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
                             {QStringLiteral("readOn"), readOn},
                             {QStringLiteral("sleepMinutes"), sleepMinutes}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

VoiceOptions VoiceOptions::fromText(const QString &text)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    VoiceOptions options;
    options.rate = std::clamp(object.value(QStringLiteral("rate")).toInt(options.rate), 50, 200);
    options.volume = std::clamp(object.value(QStringLiteral("volume")).toInt(options.volume), 10, 100);
    options.readOn = object.value(QStringLiteral("readOn")).toBool(options.readOn);
    const int sleep = object.value(QStringLiteral("sleepMinutes")).toInt();
    options.sleepMinutes =
        std::find(std::begin(SleepMinutes), std::end(SleepMinutes), sleep) != std::end(SleepMinutes) ? sleep : 0;
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
    panel.sleepTimer->setCurrentIndex(SleepIndex(options.sleepMinutes));
    m_engine->setRate(options.rate);
    m_engine->setVolume(options.volume);
    const auto changed = [this] {
        m_options = {m_extras.rate->value(), m_extras.volume->value(), m_extras.readOn->isChecked(),
                     m_options.sleepMinutes};
        m_engine->setRate(m_options.rate);
        m_engine->setVolume(m_options.volume);
        Q_EMIT optionsChanged(m_options);
    };
    connect(panel.rate, &QSlider::valueChanged, this, changed);
    connect(panel.volume, &QSlider::valueChanged, this, changed);
    connect(panel.readOn, &QCheckBox::toggled, this, changed);
    connect(panel.sleepTimer, &QComboBox::activated, this, [this](int index) {
        m_options.sleepMinutes = SleepMinutes[std::clamp(index, 0, 3)];
        Q_EMIT optionsChanged(m_options);
        setSleepMinutes(m_options.sleepMinutes);
    });
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
    // The choice stays: the next reading runs for as long again.
    m_sleep.stop();
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

    fillVoiceList();

    connect(m_controls.readButton, &QAbstractButton::clicked, this, &VoiceController::readClicked);
    connect(m_controls.stopButton, &QAbstractButton::clicked, this, &VoiceController::stopClicked);
    connect(m_controls.panelButton, &QAbstractButton::clicked, this, &VoiceController::panelClicked);
    connect(m_controls.voiceList, &QComboBox::activated, this, &VoiceController::voiceChosen);
    m_controls.voiceList->installEventFilter(this);

    connect(m_engine, &SpeechEngine::word, this, [this](int, int position, int length) {
        if (m_page.highlight)
            m_page.highlight(position + m_spokenFrom, length);
    });
    connect(m_engine, &SpeechEngine::endStream, this, &VoiceController::onEndStream);
}

void VoiceController::fillVoiceList()
{
    // Each entry carries the voice's position in the engine; the header of the other voices
    // carries none and cannot be chosen.
    const QList<SpeechVoice> voices = m_engine->voices();
    const VoiceListOrder order = OrderVoicesForList(voices);
    QComboBox *list = m_controls.voiceList;
    list->clear();
    for (int i = 0; i < order.chinese.size(); ++i)
        list->addItem(order.chineseNames.at(i), order.chinese.at(i));
    if (!order.chinese.isEmpty() && !order.others.isEmpty()) {
        list->insertSeparator(list->count());
        list->addItem(QStringLiteral("更多语音…"));
        if (auto *model = qobject_cast<QStandardItemModel *>(list->model()))
            model->item(list->count() - 1)->setFlags(Qt::NoItemFlags);
    }
    for (int index : order.others)
        list->addItem(voices.at(index).description, index);
    if (!voices.isEmpty()) {
        // The engine's last voice, as at start-up it always was.
        const int last = int(voices.size()) - 1;
        list->setCurrentIndex(list->findData(last));
        m_engine->setVoice(last);
    }
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
        startSleepTimer();
        const int request = ++m_request;
        if (!m_page.contentText) {
            speakContent({}, LeadLength);
            return;
        }
        QPointer<VoiceController> self(this);
        m_page.contentText([self, request](const QString &content) {
            if (self && request == self->m_request)
                self->speakContent(content, LeadLength);
        });
    } else if (current == PauseText) {
        m_engine->pause();
        setState(ContinueText);
    } else if (current == ContinueText) {
        m_engine->resume();
        setState(PauseText);
    }
}

void VoiceController::readFromChosenPlace()
{
    if (!m_page.chosenPlace)
        return;
    setState(PauseText);
    startSleepTimer();
    const int request = ++m_request;
    QPointer<VoiceController> self(this);
    m_page.chosenPlace([self, request](const QString &content, int place) {
        if (self && request == self->m_request)
            self->speakContent(content, std::max(place, int(LeadLength)), SpeechEngine::SpeakMode::Purge);
    });
}

void VoiceController::startSleepTimer()
{
    const int minutes = m_options.sleepMinutes;
    if (minutes > 0 && !m_sleep.isActive())
        setSleepMinutes(minutes);
}

void VoiceController::speakContent(const QString &content, int from, SpeechEngine::SpeakMode mode)
{
    m_stopped = false;
    QString text = content;
    text.remove(QLatin1Char('\r'));
    m_spokenFrom = from;
    text = text.mid(from);
    m_lastStream = m_engine->speak(text.isEmpty() ? QStringLiteral("没有可朗读内容") : text, mode);
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
    const QVariant voice = m_controls.voiceList->itemData(index);
    if (!voice.isValid())
        return;
    stopClicked();
    m_engine->setVoice(voice.toInt());
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
    // Opening the drop-down moves the focus into its pop-up; that is not leaving the panel. Where
    // the focus went is known only once it has arrived (a pop-up may take it for another
    // reason), so the panel closes after that, if the focus left it for good.
    if (watched == m_controls.voiceList && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason)
        QMetaObject::invokeMethod(
            this,
            [this] {
                const QWidget *focus = QApplication::focusWidget();
                const bool inside = focus && (focus == m_controls.panel || m_controls.panel->isAncestorOf(focus));
                if (!inside && !m_controls.voiceList->view()->isVisible() && !QApplication::activePopupWidget())
                    m_controls.panel->hide();
            },
            Qt::QueuedConnection);
    return QObject::eventFilter(watched, event);
}
