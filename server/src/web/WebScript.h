#pragma once

#include <QString>

// 繁简转换 for the web reader, through the desktop's own OpenCC tables when the server was built
// with them; without them the text comes back unchanged and available() is false.
namespace WebScript {
bool available();
// script: "s" to Simplified, "t" to Traditional; anything else changes nothing.
QString convert(const QString &text, const QString &script);
} // namespace WebScript
