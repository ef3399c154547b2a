#include "settings/ReadingLookFrame.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFontDatabase>
#include <QFormLayout>
#include <QSpinBox>

ReadingLookFrame::ReadingLookFrame(QWidget *parent) : QGroupBox(QStringLiteral("阅读样式"), parent)
{
    setObjectName(QStringLiteral("ReadingLookFrame"));
    const ReadingLook defaults;

    m_font = new QComboBox(this);
    m_font->setObjectName(QStringLiteral("LookFont"));
    m_font->addItem(QStringLiteral("默认"), QString());
    // Fonts that can show the books: those with Chinese glyphs.
    for (const QString &family : QFontDatabase::families(QFontDatabase::SimplifiedChinese))
        m_font->addItem(family, family);

    m_lineHeight = new QDoubleSpinBox(this);
    m_lineHeight->setObjectName(QStringLiteral("LookLineHeight"));
    m_lineHeight->setRange(1.0, 3.0);
    m_lineHeight->setSingleStep(0.1);
    m_lineHeight->setDecimals(1);
    m_lineHeight->setSuffix(QStringLiteral(" 倍"));

    m_paragraph = new QDoubleSpinBox(this);
    m_paragraph->setObjectName(QStringLiteral("LookParagraphSpacing"));
    m_paragraph->setRange(0.0, 3.0);
    m_paragraph->setSingleStep(0.25);
    m_paragraph->setDecimals(2);
    m_paragraph->setSuffix(QStringLiteral(" 行"));

    m_width = new QSpinBox(this);
    m_width->setObjectName(QStringLiteral("LookPageWidth"));
    m_width->setRange(20, 200);
    m_width->setSingleStep(2);
    m_width->setSuffix(QStringLiteral(" 字"));

    // The lowest value stands for "no size of its own".
    m_fontSize = new QSpinBox(this);
    m_fontSize->setObjectName(QStringLiteral("LookFontSize"));
    m_fontSize->setRange(ReadingLook::MinFontSize - 1, ReadingLook::MaxFontSize);
    m_fontSize->setSuffix(QStringLiteral(" 像素"));
    m_fontSize->setSpecialValueText(QStringLiteral("同文字大小"));
    m_fontSize->setToolTip(QStringLiteral("阅读时也可用 Ctrl+滚轮、Ctrl++、Ctrl+- 调整，Ctrl+0 恢复“文字大小”"));

    m_indent = new QCheckBox(QStringLiteral("保留原文行首的空格缩进"), this);
    m_indent->setObjectName(QStringLiteral("LookKeepIndent"));

    m_preset = new QComboBox(this);
    m_preset->setObjectName(QStringLiteral("LookPreset"));
    m_preset->addItem(QStringLiteral("自定义"));
    for (const ReadingPreset &preset : ReadingPresets())
        m_preset->addItem(preset.name);
    m_preset->setToolTip(QStringLiteral("填入“阅读设置”的文字颜色和背景颜色，保存设置后生效"));

    auto *form = new QFormLayout(this);
    form->addRow(QStringLiteral("字体："), m_font);
    form->addRow(QStringLiteral("字号："), m_fontSize);
    form->addRow(QStringLiteral("行距："), m_lineHeight);
    form->addRow(QStringLiteral("段间距："), m_paragraph);
    form->addRow(QStringLiteral("页面宽度："), m_width);
    form->addRow(QString(), m_indent);
    form->addRow(QStringLiteral("配色方案："), m_preset);

    setLook(defaults);
    connect(m_font, &QComboBox::currentIndexChanged, this, &ReadingLookFrame::report);
    connect(m_lineHeight, &QDoubleSpinBox::valueChanged, this, &ReadingLookFrame::report);
    connect(m_paragraph, &QDoubleSpinBox::valueChanged, this, &ReadingLookFrame::report);
    connect(m_width, &QSpinBox::valueChanged, this, &ReadingLookFrame::report);
    connect(m_fontSize, &QSpinBox::valueChanged, this, &ReadingLookFrame::report);
    connect(m_indent, &QCheckBox::toggled, this, &ReadingLookFrame::report);
    connect(m_preset, &QComboBox::activated, this, [this](int index) {
        if (index < 1) { // "自定义" is what the colours are, not a choice
            showPresetFor(m_shownTxtColor, m_shownBackColor);
            return;
        }
        Q_EMIT presetChosen(ReadingPresets().at(index - 1));
    });
}

void ReadingLookFrame::showPresetFor(const QString &txtColor, const QString &backColor)
{
    m_shownTxtColor = txtColor;
    m_shownBackColor = backColor;
    const QList<ReadingPreset> &presets = ReadingPresets();
    int shown = 0;
    for (int i = 0; i < presets.size() && shown == 0; ++i) {
        if (presets.at(i).txtColor.compare(txtColor, Qt::CaseInsensitive) == 0 &&
            presets.at(i).backColor.compare(backColor, Qt::CaseInsensitive) == 0)
            shown = i + 1;
    }
    m_preset->setCurrentIndex(shown);
}

ReadingLook ReadingLookFrame::look() const
{
    ReadingLook look;
    look.fontFamily = m_font->currentData().toString();
    look.lineHeight = m_lineHeight->value();
    look.paragraphSpacing = m_paragraph->value();
    look.pageWidth = m_width->value();
    look.keepIndent = m_indent->isChecked();
    look.fontSize = m_fontSize->value() < ReadingLook::MinFontSize ? 0 : m_fontSize->value();
    return look;
}

void ReadingLookFrame::setLook(const ReadingLook &look)
{
    m_quiet = true;
    int font = m_font->findData(look.fontFamily);
    if (font < 0) { // a font that has been removed since: listed so the choice is not lost
        m_font->addItem(look.fontFamily, look.fontFamily);
        font = m_font->count() - 1;
    }
    m_font->setCurrentIndex(font);
    m_lineHeight->setValue(look.lineHeight);
    m_paragraph->setValue(look.paragraphSpacing);
    m_width->setValue(look.pageWidth);
    m_indent->setChecked(look.keepIndent);
    m_fontSize->setValue(look.fontSize > 0 ? look.fontSize : m_fontSize->minimum());
    m_quiet = false;
}

void ReadingLookFrame::setFontSize(int px)
{
    m_fontSize->setValue(px > 0 ? px : m_fontSize->minimum());
}

void ReadingLookFrame::report()
{
    if (!m_quiet)
        Q_EMIT lookChanged(look());
}
