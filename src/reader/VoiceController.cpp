#include "reader/VoiceController.h"

#include "platform/SpeechEngine.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QStyle>

namespace {

const QString StartText = QStringLiteral("开始朗读");
const QString PauseText = QStringLiteral("暂停朗读");
const QString ContinueText = QStringLiteral("继续朗读");

} // namespace

VoiceController::VoicePanel VoiceController::createVoicePanel(QWidget *parent)
{
    auto *panel = new QWidget(parent);
    panel->setObjectName(QStringLiteral("voicePanel"));
    auto *layout = new QHBoxLayout(panel);
    layout->setContentsMargins(4, 2, 4, 2);
    layout->addWidget(new QLabel(QStringLiteral("语音库:"), panel));
    auto *list = new QComboBox(panel);
    list->setObjectName(QStringLiteral("voiceList"));
    list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    layout->addWidget(list, 1);
    panel->hide();
    return {panel, list};
}

VoiceController::VoiceController(SpeechEngine *engine, const Controls &controls, Page page, QObject *parent)
    : QObject(parent), m_engine(engine), m_controls(controls), m_page(std::move(page))
{
    setState(StartText);
    m_controls.panel->hide();

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
    QString text = content;
    text.remove(QLatin1Char('\r'));
    text = text.mid(LeadLength);
    m_lastStream = m_engine->speak(text.isEmpty() ? QStringLiteral("没有可朗读内容") : text);
}

void VoiceController::stopClicked()
{
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
    if (stream == m_lastStream)
        setState(StartText);
}

bool VoiceController::eventFilter(QObject *watched, QEvent *event)
{
    // Opening the drop-down moves the focus into its pop-up; that is not leaving the panel.
    if (watched == m_controls.voiceList && event->type() == QEvent::FocusOut &&
        static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason)
        m_controls.panel->hide();
    return QObject::eventFilter(watched, event);
}
