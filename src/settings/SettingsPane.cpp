#include "settings/SettingsPane.h"

#include "library/LibraryDb.h"
#include "net/NetworkLimits.h"
#include "platform/Prompter.h"
#include "platform/WindowPlacement.h"
#include "settings/AutoStart.h"
#include "settings/BossKey.h"
#include "settings/NetworkOptionsBox.h"
#include "net/RequestSlot.h"
#include "settings/ReadingLookFrame.h"
#include "settings/TextRulesWindow.h"
#include "startup/AppContext.h"
#include "startup/ServerInfoCheck.h"
#include "startup/Startup.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace {

QFrame *MakeSwatch(const QString &name, QWidget *parent)
{
    auto *swatch = new QFrame(parent);
    swatch->setObjectName(name);
    swatch->setFrameShape(QFrame::Box);
    swatch->setFixedSize(64, 22);
    swatch->setAutoFillBackground(true);
    return swatch;
}

void Paint(QFrame *swatch, quint32 rgb)
{
    QPalette palette = swatch->palette();
    palette.setColor(QPalette::Window, QColor::fromRgb(rgb));
    swatch->setPalette(palette);
}

QPushButton *MakeButton(const QString &caption, const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    return button;
}

} // namespace

SettingsPane::SettingsPane(AppContext &ctx, Prompter &prompter, QWidget *parent, QString programPath)
    : QWidget(parent), m_ctx(ctx), m_prompter(prompter),
      m_programPath(programPath.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(programPath))
{
    m_readingFrame = new QGroupBox(QStringLiteral("阅读设置"), this);
    m_readingFrame->setObjectName(QStringLiteral("ReadingFrame"));
    auto *reading = new QGridLayout(m_readingFrame);
    m_textSwatch = MakeSwatch(QStringLiteral("TxtColorSwatch"), m_readingFrame);
    m_textColorButton = MakeButton(QStringLiteral("选择"), QStringLiteral("TxtColorButton"), m_readingFrame);
    m_backSwatch = MakeSwatch(QStringLiteral("BackColorSwatch"), m_readingFrame);
    m_backColorButton = MakeButton(QStringLiteral("选择"), QStringLiteral("BackColorButton"), m_readingFrame);
    m_sizeList = new QComboBox(m_readingFrame);
    m_sizeList->setObjectName(QStringLiteral("TxtSizeList"));
    m_sizeList->addItems(TextSizeNames());
    reading->addWidget(new QLabel(QStringLiteral("文字颜色："), m_readingFrame), 0, 0);
    reading->addWidget(m_textSwatch, 0, 1);
    reading->addWidget(m_textColorButton, 0, 2);
    reading->addWidget(new QLabel(QStringLiteral("背景颜色："), m_readingFrame), 1, 0);
    reading->addWidget(m_backSwatch, 1, 1);
    reading->addWidget(m_backColorButton, 1, 2);
    reading->addWidget(new QLabel(QStringLiteral("文字大小："), m_readingFrame), 2, 0);
    reading->addWidget(m_sizeList, 2, 1, 1, 2);
    reading->setColumnStretch(3, 1);

    m_systemFrame = new QGroupBox(QStringLiteral("系统选项"), this);
    m_systemFrame->setObjectName(QStringLiteral("SystemFrame"));
    auto *system = new QGridLayout(m_systemFrame);
    m_folderBox = new QLineEdit(m_systemFrame);
    m_folderBox->setObjectName(QStringLiteral("DownSavePath"));
    m_folderButton = MakeButton(QStringLiteral("选择..."), QStringLiteral("DownSavePathButton"), m_systemFrame);
    m_autoRunYes = new QRadioButton(QStringLiteral("是"), m_systemFrame);
    m_autoRunYes->setObjectName(QStringLiteral("AutoRunYes"));
    m_autoRunNo = new QRadioButton(QStringLiteral("否"), m_systemFrame);
    m_autoRunNo->setObjectName(QStringLiteral("AutoRunNo"));
    m_autoRunGroup = new QButtonGroup(this);
    m_autoRunGroup->addButton(m_autoRunYes);
    m_autoRunGroup->addButton(m_autoRunNo);
    m_autoRunNo->setChecked(true);
    m_modifierList = new QComboBox(m_systemFrame);
    m_modifierList->setObjectName(QStringLiteral("BossKeyModifier"));
    m_modifierList->addItems(BossKeyModifierNames());
    m_keyBox = new QLineEdit(m_systemFrame);
    m_keyBox->setObjectName(QStringLiteral("BossKeyKey"));
    m_keyBox->setMaxLength(1);
    m_keyBox->setFixedWidth(40);

    auto *autoRunRow = new QHBoxLayout;
    autoRunRow->addWidget(m_autoRunYes);
    autoRunRow->addWidget(m_autoRunNo);
    autoRunRow->addStretch(1);
    auto *bossKeyRow = new QHBoxLayout;
    bossKeyRow->addWidget(m_modifierList);
    bossKeyRow->addWidget(new QLabel(QStringLiteral("+"), m_systemFrame));
    bossKeyRow->addWidget(m_keyBox);
    bossKeyRow->addStretch(1);
    system->addWidget(new QLabel(QStringLiteral("电子书下载目录："), m_systemFrame), 0, 0);
    system->addWidget(m_folderBox, 0, 1);
    system->addWidget(m_folderButton, 0, 2);
    system->addWidget(new QLabel(QStringLiteral("是否开机启动："), m_systemFrame), 1, 0);
    system->addLayout(autoRunRow, 1, 1, 1, 2);
    system->addWidget(new QLabel(QStringLiteral("老板键设置："), m_systemFrame), 2, 0);
    system->addLayout(bossKeyRow, 2, 1, 1, 2);
    system->setColumnStretch(1, 1);

    m_saveButton = MakeButton(QStringLiteral("保存设置"), QStringLiteral("SaveSettings"), this);

    m_habitFrame = new QGroupBox(QStringLiteral("阅读习惯"), this);
    m_habitFrame->setObjectName(QStringLiteral("ReadingHabitFrame"));
    m_reopenLastBook = new QCheckBox(QStringLiteral("启动后打开上次阅读的书"), m_habitFrame);
    m_reopenLastBook->setObjectName(QStringLiteral("ReopenLastBook"));
    m_reopenLastBook->setToolTip(QStringLiteral("程序启动时直接进入阅读窗口，打开上次读的书并回到读到的地方"));
    (new QVBoxLayout(m_habitFrame))->addWidget(m_reopenLastBook);
    connect(m_reopenLastBook, &QCheckBox::toggled, this, [this](bool on) {
        m_ctx.db->setOption(LibraryDb::reopenLastBookOption(), on ? QStringLiteral("1") : QStringLiteral("0"));
    });

    m_serverFrame = new QGroupBox(QStringLiteral("网络设置"), this);
    m_serverFrame->setObjectName(QStringLiteral("ServerFrame"));
    m_serverBox = new QLineEdit(m_serverFrame);
    m_serverBox->setObjectName(QStringLiteral("ServerBaseUrl"));
    m_serverBox->setPlaceholderText(QStringLiteral("例如 http://127.0.0.1:8080"));
    m_testServer = MakeButton(QStringLiteral("测试连接"), QStringLiteral("TestServer"), m_serverFrame);
    m_testServer->setToolTip(QStringLiteral("连接成功后保存这个地址，网络书库和用户中心立即使用它"));
    auto *server = new QGridLayout(m_serverFrame);
    server->addWidget(new QLabel(QStringLiteral("书库服务器："), m_serverFrame), 0, 0);
    server->addWidget(m_serverBox, 0, 1);
    server->addWidget(m_testServer, 0, 2);
    m_networkOptions = new NetworkOptionsBox(*m_ctx.db, m_serverFrame);
    server->addWidget(m_networkOptions, 1, 0, 1, 3);
    server->setColumnStretch(1, 1);
    m_serverSlot = new RequestSlot(this);
    m_serverSlot->setTransferTimeout(10000);
    // The same answer as the start-up check, held to the same size, so it is read in no time.
    m_serverSlot->setMaxBodyBytes(NetworkLimits::ServerInfoBytes);
    connect(m_serverSlot, &RequestSlot::finished, this, &SettingsPane::onServerAnswer);
    connect(m_testServer, &QPushButton::clicked, this, &SettingsPane::testServer);
    connect(m_serverBox, &QLineEdit::returnPressed, this, &SettingsPane::testServer);

    m_lookFrame = new ReadingLookFrame(this);

    m_textRulesFrame = new QGroupBox(QStringLiteral("净化规则"), this);
    m_textRulesFrame->setObjectName(QStringLiteral("TextRulesFrame"));
    m_textRulesButton = MakeButton(QStringLiteral("编辑净化规则..."), QStringLiteral("TextRules"), m_textRulesFrame);
    m_textRulesButton->setToolTip(QStringLiteral("去掉或替换正文中的广告、网址等文字；只改变显示和朗读的内容，不改动文件"));
    auto *rulesRow = new QHBoxLayout(m_textRulesFrame);
    rulesRow->addWidget(m_textRulesButton);
    rulesRow->addStretch(1);
    connect(m_textRulesButton, &QPushButton::clicked, this, [this] {
        delete findChild<TextRulesWindow *>(QString(), Qt::FindDirectChildrenOnly);
        auto *window = new TextRulesWindow(*m_ctx.db, m_prompter, {}, this);
        window->setAttribute(Qt::WA_DeleteOnClose);
        ShowCentred(window);
    });

    auto *columns = new QHBoxLayout(this);
    auto *column = new QVBoxLayout;
    column->addWidget(m_readingFrame);
    column->addWidget(m_systemFrame);
    auto *saveRow = new QHBoxLayout;
    saveRow->addWidget(m_saveButton);
    saveRow->addStretch(1);
    column->addLayout(saveRow);
    column->addStretch(1);
    // The style, habit and server frames take effect without "保存设置", so they stand apart, to
    // the right.
    auto *lookColumn = new QVBoxLayout;
    lookColumn->addWidget(m_lookFrame);
    lookColumn->addWidget(m_habitFrame);
    lookColumn->addWidget(m_serverFrame);
    lookColumn->addWidget(m_textRulesFrame);
    lookColumn->addStretch(1);
    columns->addLayout(column);
    columns->addLayout(lookColumn);
    columns->addStretch(1);
    // The frames keep a form's width on a wide window instead of stretching across it.
    for (QGroupBox *frame : {m_readingFrame, m_systemFrame}) {
        frame->setMinimumWidth(480);
        frame->setMaximumWidth(560);
    }
    for (QGroupBox *frame : {static_cast<QGroupBox *>(m_lookFrame), m_habitFrame, m_serverFrame, m_textRulesFrame})
        frame->setMaximumWidth(420);

    setTextColor(m_textColorRgb);
    setBackColor(m_backColorRgb);

    connect(m_textColorButton, &QPushButton::clicked, this, &SettingsPane::chooseTextColor);
    connect(m_backColorButton, &QPushButton::clicked, this, &SettingsPane::chooseBackColor);
    connect(m_folderButton, &QPushButton::clicked, this, &SettingsPane::chooseDownloadFolder);
    connect(m_saveButton, &QPushButton::clicked, this, &SettingsPane::save);
    connect(m_lookFrame, &ReadingLookFrame::lookChanged, this, &SettingsPane::changeLook);
    connect(m_lookFrame, &ReadingLookFrame::presetChosen, this, &SettingsPane::choosePreset);
}

ReadingPageStyle SettingsPane::storedPageStyle() const
{
    const LibraryDb &db = *m_ctx.db;
    return ReadingPageStyleFor(db.txtColor(), db.backColor(), db.txtSize(),
                               ReadingLook::fromText(db.option(LibraryDb::readingLookOption())));
}

void SettingsPane::changeLook(const ReadingLook &look)
{
    m_ctx.db->setOption(LibraryDb::readingLookOption(), look.toText());
    Q_EMIT pageStyleChanged(storedPageStyle());
}

void SettingsPane::choosePreset(const ReadingPreset &preset)
{
    // Like two colours picked with "选择": shown in the swatches, kept and applied on save.
    setTextColor(ColorTextToRgb(preset.txtColor));
    setBackColor(ColorTextToRgb(preset.backColor));
}

void SettingsPane::load()
{
    const LibraryDb &db = *m_ctx.db;
    m_folderBox->setText(m_ctx.downloadFolder);
    m_serverBox->setText(m_ctx.config.serverBaseUrl);
    (db.autoRun() ? m_autoRunYes : m_autoRunNo)->setChecked(true);
    {
        const QSignalBlocker quiet(m_reopenLastBook); // shown, not changed
        m_reopenLastBook->setChecked(db.option(LibraryDb::reopenLastBookOption()) == u"1");
    }
    m_networkOptions->load();

    const QString bossKey = db.bossKey();
    m_modifierList->setCurrentIndex(BossKeyModifierIndex(bossKey.section(QLatin1Char('|'), 0, 0)));
    m_keyBox->setText(bossKey.section(QLatin1Char('|'), 1, 1).toUpper());

    const QString txtColor = db.txtColor();
    const QString backColor = db.backColor();
    const QString txtSize = db.txtSize();
    m_sizeList->setCurrentIndex(int(TextSizeNames().indexOf(txtSize)));
    setTextColor(ColorTextToRgb(txtColor));
    setBackColor(ColorTextToRgb(backColor));

    const ReadingPageStyle style = storedPageStyle();
    m_lookFrame->setLook(style.look);
    Q_EMIT pageStyleChanged(style);
    if (const std::optional<BossKeyText> parts = ParseBossKey(bossKey))
        Q_EMIT bossKeyChanged(parts->modifier, parts->key);
}

SettingsForm SettingsPane::form() const
{
    SettingsForm f;
    f.downloadFolder = m_folderBox->text();
    f.autoRun = m_autoRunYes->isChecked();
    f.modifier = m_modifierList->currentText();
    f.key = m_keyBox->text();
    f.txtColorRgb = m_textColorRgb;
    f.backColorRgb = m_backColorRgb;
    f.txtSize = m_sizeList->currentText();
    return f;
}

void SettingsPane::save()
{
    const SettingsForm f = form();
    if (const std::optional<SettingsProblem> problem = ValidateSettings(f)) {
        tell(problem->message);
        switch (problem->focus) {
        case SettingsField::DownloadFolder:
            m_folderBox->setFocus();
            break;
        case SettingsField::BossKeyModifier:
            m_modifierList->setFocus();
            break;
        case SettingsField::BossKeyKey:
            m_keyBox->setFocus();
            break;
        }
        return;
    }

    // Auto-start failures are silent: the save still reports success.
    AutoStartEntry(m_programPath).apply(f.autoRun);
    Q_EMIT bossKeyChanged(f.modifier, f.key);

    const SysSetRow row = SettingsRowFromForm(f);
    if (!m_ctx.db->saveSettings(row)) {
        tell({QStringLiteral("设置未能写入数据库！"), QStringLiteral("保存失败"), Prompter::Icon::Critical});
        return;
    }
    m_ctx.downloadFolder = row.downSavePath;
    // The page takes the "文字大小" just saved: a size set by zooming, or in "字号", gives way.
    if (ReadingLook look = m_lookFrame->look(); look.fontSize > 0) {
        look.fontSize = 0;
        m_lookFrame->setLook(look);
        m_ctx.db->setOption(LibraryDb::readingLookOption(), look.toText());
    }
    Q_EMIT pageStyleChanged(storedPageStyle());
    tell(SettingsSavedMessage());
}

void SettingsPane::chooseTextColor()
{
    // A cancelled dialog leaves the swatch as it was.
    if (const std::optional<unsigned> rgb = m_prompter.color(m_textColorRgb))
        setTextColor(*rgb);
}

void SettingsPane::chooseBackColor()
{
    if (const std::optional<unsigned> rgb = m_prompter.color(m_backColorRgb))
        setBackColor(*rgb);
}

void SettingsPane::chooseDownloadFolder()
{
    const QString folder = m_prompter.folderName(FolderPickPrompt(), m_folderBox->text());
    if (folder.isEmpty()) {
        tell(FolderPickCancelledMessage());
        return;
    }
    m_folderBox->setText(folder);
}

void SettingsPane::setTextColor(quint32 rgb)
{
    m_textColorRgb = rgb & 0xFFFFFF;
    Paint(m_textSwatch, m_textColorRgb);
    m_lookFrame->showPresetFor(RgbToColorText(m_textColorRgb), RgbToColorText(m_backColorRgb));
}

void SettingsPane::setBackColor(quint32 rgb)
{
    m_backColorRgb = rgb & 0xFFFFFF;
    Paint(m_backSwatch, m_backColorRgb);
    m_lookFrame->showPresetFor(RgbToColorText(m_textColorRgb), RgbToColorText(m_backColorRgb));
}

void SettingsPane::tell(const SettingsMessage &message)
{
    m_prompter.message(message.text, message.icon, message.title);
}

void SettingsPane::testServer()
{
    const QString title = QStringLiteral("测试连接");
    const QString address = NormalisedServerAddress(m_serverBox->text());
    if (address.isEmpty()) {
        m_prompter.message(QStringLiteral("书库服务器地址有误，请输入类似 http://127.0.0.1:8080 的地址！"),
                           Prompter::Icon::Exclamation, title);
        m_serverBox->setFocus();
        return;
    }
    m_serverBox->setText(address);
    m_testedAddress = address;
    m_testServer->setEnabled(false);
    m_testServer->setText(QStringLiteral("正在连接…"));
    m_serverSlot->get(ServerInfoUrl(address, m_ctx.machineId));
}

void SettingsPane::onServerAnswer(const HttpResult &result)
{
    m_testServer->setEnabled(true);
    m_testServer->setText(QStringLiteral("测试连接"));
    const QString title = QStringLiteral("测试连接");
    ServerInfo info;
    const bool answered =
        !result.failed && ReadServerInfoAnswer(result.status, result.contentType, result.body, info);
    if (answered) {
        keepServerAddress(m_testedAddress);
        m_prompter.message(QStringLiteral("连接成功！书库服务器地址已保存：\r\n") + m_testedAddress,
                           Prompter::Icon::Information, title);
    } else if (m_prompter.question(QStringLiteral("无法连接到书库服务器：\r\n%1\r\n\r\n仍然使用这个地址吗？")
                                       .arg(m_testedAddress),
                                   title)) {
        keepServerAddress(m_testedAddress);
    }
    Q_EMIT serverTested(answered);
}

void SettingsPane::keepServerAddress(const QString &address)
{
    // The catalogue reads the address at each request; windows already open keep theirs.
    m_ctx.config.serverBaseUrl = address;
    if (!m_ctx.config.saveServerBaseUrl(m_ctx.programFolder))
        m_prompter.message(QStringLiteral("书库服务器地址未能写入 Folioway.ini，本次运行中仍然有效。"),
                           Prompter::Icon::Critical, QStringLiteral("保存失败"));
}
