#pragma once

#include "settings/SettingsRules.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;

// The "阅读样式" frame of the settings tab: font, line height, paragraph spacing, page width,
// the file's own indents, and colour presets. Every change of the look takes effect at once. A
// preset only fills the two colour swatches of "阅读设置", which wait for "保存设置" as ever.
class ReadingLookFrame : public QGroupBox
{
    Q_OBJECT
public:
    explicit ReadingLookFrame(QWidget *parent = nullptr);

    ReadingLook look() const;
    // Shows look without reporting it as a change.
    void setLook(const ReadingLook &look);
    // Shows the preset with these two colours ("RRGGBB"), or "自定义" when none has them.
    void showPresetFor(const QString &txtColor, const QString &backColor);

    QComboBox *fontList() const { return m_font; }
    QDoubleSpinBox *lineHeightBox() const { return m_lineHeight; }
    QDoubleSpinBox *paragraphSpacingBox() const { return m_paragraph; }
    QSpinBox *pageWidthBox() const { return m_width; }
    QCheckBox *keepIndentBox() const { return m_indent; }
    // "字号": the look's text size, or "同文字大小" for the size of "阅读设置".
    // Changes the text size as if chosen in the box (0: back to "同文字大小").
    void setFontSize(int px);
    QComboBox *presetList() const { return m_preset; }

Q_SIGNALS:
    void lookChanged(const ReadingLook &look);
    void presetChosen(const ReadingPreset &preset);

private:
    void report();

    QComboBox *m_font;
    QDoubleSpinBox *m_lineHeight;
    QDoubleSpinBox *m_paragraph;
    QSpinBox *m_width;
    QCheckBox *m_indent;
    QSpinBox *m_fontSize;
    QComboBox *m_preset;
    QString m_shownTxtColor;
    QString m_shownBackColor;
    bool m_quiet = false;
};
