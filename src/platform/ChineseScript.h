#pragma once

#include <QString>
#include <QStringList>

// Showing a book in the other script of Chinese: Traditional text as Simplified or the other way,
// through the OpenCC tables installed with the library. Only what is shown and read aloud is
// converted, never the file.
enum class ScriptConversion
{
    None,
    ToSimplified,
    ToTraditional
};

// "", "s" or "t", as kept per book.
QString ScriptConversionName(ScriptConversion conversion);
ScriptConversion ScriptConversionFromName(const QString &name);

// False when the program was built without OpenCC or its tables are not installed; every
// conversion then gives the text back unchanged (as it does should a table fail to load).
bool ScriptConversionAvailable();

// Safe to call from any thread at once; markup (ASCII) passes through unchanged.
QString ConvertScript(const QString &text, ScriptConversion conversion);
// Each item converted, in one pass over the joined text (for a chapter list's titles).
QStringList ConvertScriptEach(const QStringList &items, ScriptConversion conversion);
// The forms a searched word may take in a book shown converted: the word itself first, then its
// Simplified and Traditional forms where they differ from it.
QStringList ScriptVariants(const QString &word);
