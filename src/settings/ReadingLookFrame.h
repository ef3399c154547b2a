#pragma once

#include "settings/SettingsRules.h"

#include <QGroupBox>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;

// The "阅读样式" frame of the settings tab: font, line height, paragraph spacing, page width,
// the file's own indents, and colour presets. Every change takes effect at once; nothing here
// waits for "保存设置".
class ReadingLookFrame : public QGroupBox
{
    Q_OBJECT
public:
    explicit ReadingLookFrame(QWidget *parent = nullptr);

    ReadingLook look() const;
    // Shows look without reporting it as a change.
    void setLook(const ReadingLook &look);

    QComboBox *fontList() const { return m_font; }
    QDoubleSpinBox *lineHeightBox() const { return m_lineHeight; }
    QDoubleSpinBox *paragraphSpacingBox() const { return m_paragraph; }
    QSpinBox *pageWidthBox() const { return m_width; }
    QCheckBox *keepIndentBox() const { return m_indent; }
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
    QComboBox *m_preset;
    bool m_quiet = false;
};
