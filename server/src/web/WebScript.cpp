#include "web/WebScript.h"

#ifdef FOLIOWAY_HAVE_OPENCC
#include "platform/ChineseScript.h"
#endif

namespace WebScript {

bool available()
{
#ifdef FOLIOWAY_HAVE_OPENCC
    return ScriptConversionAvailable();
#else
    return false;
#endif
}

QString convert(const QString &text, const QString &script)
{
#ifdef FOLIOWAY_HAVE_OPENCC
    if (script == u"s")
        return ConvertScript(text, ScriptConversion::ToSimplified);
    if (script == u"t")
        return ConvertScript(text, ScriptConversion::ToTraditional);
#else
    Q_UNUSED(script)
#endif
    return text;
}

} // namespace WebScript
