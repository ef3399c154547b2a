#pragma once

#include "library/LibraryDb.h"
#include "platform/Prompter.h"

#include <QString>
#include <QStringList>

#include <optional>

// Colours are stored as "RRGGBB" (six upper-case hex digits, no "#"). The swatches and the
// prompter's colour dialog work with 0xRRGGBB numbers; the BGR pair below is the platform
// colour number (0x00BBGGRR) the stored format was defined against.
QString RgbToColorText(quint32 rgb);
quint32 ColorTextToRgb(const QString &text);
QString BgrToColorText(quint32 bgr);
// A short or malformed text reads like a hexadecimal literal: up to the first non-hex digit.
quint32 ColorTextToBgr(const QString &text);
quint32 SwapRedBlue(quint32 color);

// "小号", "中号", "大号", "特大号" in list order, and the page font size each stands for.
const QStringList &TextSizeNames();
// Any name outside the table gives "14px".
QString FontSizeForName(const QString &name);

// How the page lays out the text beyond its colours and size. The defaults are the page's own,
// so a reader who never changes them sees the page as it always was.
struct ReadingLook
{
    QString fontFamily;            // empty: the page's own list of CJK fonts
    double lineHeight = 1.9;       // times the font size
    double paragraphSpacing = 0.0; // em between the lines of the file
    int pageWidth = 46;            // em; the text column never grows wider
    bool keepIndent = false;       // the file's own leading blanks stay instead of collapsing
    int fontSize = 0;              // px; 0: the size of "文字大小"

    static constexpr int MinFontSize = 10;
    static constexpr int MaxFontSize = 48;
    static constexpr int FontSizeStep = 2; // one step of Ctrl+wheel, Ctrl++ and Ctrl+-

    bool operator==(const ReadingLook &) const = default;
    // Kept as one option text in the library; a damaged text gives the defaults, and values
    // outside what the settings offer are brought into range.
    QString toText() const;
    static ReadingLook fromText(const QString &text);
};

// Named colour pairs that fill the two colour settings.
struct ReadingPreset
{
    QString name;
    QString txtColor;  // "RRGGBB"
    QString backColor; // "RRGGBB"
};
const QList<ReadingPreset> &ReadingPresets();

// What the reading page gets at start-up and after any change of the settings.
struct ReadingPageStyle
{
    QString background; // "#RRGGBB"
    QString color;      // "#RRGGBB"
    QString fontSize;   // "14px"
    ReadingLook look;
};

ReadingPageStyle ReadingPageStyleFor(const QString &txtColor, const QString &backColor, const QString &txtSize,
                                     const ReadingLook &look = {});

struct SettingsMessage
{
    QString text;
    QString title; // empty: the program's name
    Prompter::Icon icon = Prompter::Icon::None;
};

// The settings tab's values as edited, before "保存设置".
struct SettingsForm
{
    QString downloadFolder;
    bool autoRun = false;
    QString modifier; // "Alt", "Ctrl" or "Shift" as the list shows it
    QString key;      // the one-character key box
    quint32 txtColorRgb = 0;
    quint32 backColorRgb = 0xFFFFFF;
    QString txtSize;
};

enum class SettingsField
{
    DownloadFolder,
    BossKeyModifier,
    BossKeyKey
};

struct SettingsProblem
{
    SettingsMessage message;
    SettingsField focus = SettingsField::DownloadFolder;
};

// The checks of "保存设置"; when one fails nothing is written or applied.
std::optional<SettingsProblem> ValidateSettings(const SettingsForm &form);

// The row "保存设置" writes. The boss key is kept exactly as typed; the folder is trimmed.
SysSetRow SettingsRowFromForm(const SettingsForm &form);

SettingsMessage SettingsSavedMessage();
SettingsMessage FolderPickCancelledMessage();
QString FolderPickPrompt();
