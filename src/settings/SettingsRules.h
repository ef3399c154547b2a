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

// The three values the reading page gets at start-up and after a save.
struct ReadingPageStyle
{
    QString background; // "#RRGGBB"
    QString color;      // "#RRGGBB"
    QString fontSize;   // "14px"
};

ReadingPageStyle ReadingPageStyleFor(const QString &txtColor, const QString &backColor, const QString &txtSize);

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
