#include "settings/SettingsRules.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

#include "settings/BossKey.h"

QString RgbToColorText(quint32 rgb)
{
    return BgrToColorText(SwapRedBlue(rgb));
}

quint32 ColorTextToRgb(const QString &text)
{
    return SwapRedBlue(ColorTextToBgr(text));
}

QString BgrToColorText(quint32 bgr)
{
    // Only the three colour bytes count; a higher byte would shift every pair.
    const QString hex = QString::number(bgr & 0xFFFFFF, 16).toUpper().rightJustified(6, QLatin1Char('0'));
    return hex.mid(4, 2) + hex.mid(2, 2) + hex.mid(0, 2);
}

static int HexDigitValue(QChar ch)
{
    const char16_t c = ch.unicode();
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

quint32 ColorTextToBgr(const QString &text)
{
    const QString digits = QStringLiteral("00") + text.mid(4, 2) + text.mid(2, 2) + text.mid(0, 2);
    quint32 value = 0;
    for (const QChar ch : digits) {
        const int digit = HexDigitValue(ch);
        if (digit < 0)
            break;
        value = value * 16 + quint32(digit);
    }
    return value;
}

quint32 SwapRedBlue(quint32 color)
{
    return ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
}

const QStringList &TextSizeNames()
{
    static const QStringList names{QStringLiteral("小号"), QStringLiteral("中号"), QStringLiteral("大号"),
                                   QStringLiteral("特大号")};
    return names;
}

QString FontSizeForName(const QString &name)
{
    static const QStringList sizes{QStringLiteral("12px"), QStringLiteral("14px"), QStringLiteral("18px"),
                                   QStringLiteral("22px")};
    const qsizetype i = TextSizeNames().indexOf(name);
    return i < 0 ? QStringLiteral("14px") : sizes.at(i);
}

ReadingPageStyle ReadingPageStyleFor(const QString &txtColor, const QString &backColor, const QString &txtSize,
                                     const ReadingLook &look)
{
    return ReadingPageStyle{QLatin1Char('#') + backColor, QLatin1Char('#') + txtColor, FontSizeForName(txtSize), look};
}

QString ReadingLook::toText() const
{
    const QJsonObject object{{QStringLiteral("font"), fontFamily},
                             {QStringLiteral("lineHeight"), lineHeight},
                             {QStringLiteral("paragraphSpacing"), paragraphSpacing},
                             {QStringLiteral("pageWidth"), pageWidth},
                             {QStringLiteral("keepIndent"), keepIndent},
                             {QStringLiteral("fontSize"), fontSize}};
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

ReadingLook ReadingLook::fromText(const QString &text)
{
    const QJsonObject object = QJsonDocument::fromJson(text.toUtf8()).object();
    ReadingLook look;
    // A family name goes into the page's style: nothing that could end the declaration.
    const QString font = object.value(QStringLiteral("font")).toString().left(100);
    if (!font.contains(QRegularExpression(QStringLiteral("[;{}<>\\\"'\\n]"))))
        look.fontFamily = font;
    look.lineHeight = std::clamp(object.value(QStringLiteral("lineHeight")).toDouble(look.lineHeight), 1.0, 3.0);
    look.paragraphSpacing =
        std::clamp(object.value(QStringLiteral("paragraphSpacing")).toDouble(look.paragraphSpacing), 0.0, 3.0);
    look.pageWidth = std::clamp(object.value(QStringLiteral("pageWidth")).toInt(look.pageWidth), 20, 200);
    look.keepIndent = object.value(QStringLiteral("keepIndent")).toBool(look.keepIndent);
    const int fontSize = object.value(QStringLiteral("fontSize")).toInt();
    look.fontSize = fontSize > 0 ? std::clamp(fontSize, int(MinFontSize), int(MaxFontSize)) : 0;
    return look;
}

const QList<ReadingPreset> &ReadingPresets()
{
    static const QList<ReadingPreset> presets{
        {QStringLiteral("日间"), QStringLiteral("000000"), QStringLiteral("FFFFFF")},
        {QStringLiteral("护眼"), QStringLiteral("000000"), QStringLiteral("C7EDCC")},
        {QStringLiteral("夜间"), QStringLiteral("B4B4B4"), QStringLiteral("1E1F22")},
        {QStringLiteral("羊皮纸"), QStringLiteral("5B4636"), QStringLiteral("F4ECD8")},
    };
    return presets;
}

std::optional<SettingsProblem> ValidateSettings(const SettingsForm &form)
{
    const QString title = QStringLiteral("保存失败");
    if (form.downloadFolder.trimmed().isEmpty())
        return SettingsProblem{{QStringLiteral("电子书下载保存路径不能为空！"), title, Prompter::Icon::Critical},
                               SettingsField::DownloadFolder};
    if (form.modifier.trimmed().isEmpty())
        return SettingsProblem{{QStringLiteral("老板键设置错误！"), title, Prompter::Icon::Critical},
                               SettingsField::BossKeyModifier};
    if (form.key.trimmed().isEmpty())
        return SettingsProblem{{QStringLiteral("老板键设置错误！"), title, Prompter::Icon::Critical},
                               SettingsField::BossKeyKey};
    return std::nullopt;
}

SysSetRow SettingsRowFromForm(const SettingsForm &form)
{
    SysSetRow row;
    row.downSavePath = form.downloadFolder.trimmed();
    row.autoRun = form.autoRun;
    row.bossKey = FormatBossKey(form.modifier, form.key);
    row.txtColor = RgbToColorText(form.txtColorRgb);
    row.txtSize = form.txtSize;
    row.backColor = RgbToColorText(form.backColorRgb);
    return row;
}

SettingsMessage SettingsSavedMessage()
{
    return {QStringLiteral("恭喜你，参数设置成功！"), QStringLiteral("设置成功"), Prompter::Icon::Information};
}

SettingsMessage FolderPickCancelledMessage()
{
    return {QStringLiteral("你取消了选择目录.."), QString(), Prompter::Icon::Exclamation};
}

QString FolderPickPrompt()
{
    return QStringLiteral("请选择一个目录.");
}
