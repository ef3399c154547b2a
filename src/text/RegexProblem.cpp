#include "text/RegexProblem.h"

QString RegexProblemText(const std::regex_error &error)
{
    const char *reason = "表达式写法有误";
    switch (error.code()) {
    case std::regex_constants::error_collate:
        reason = "字符类名称无效";
        break;
    case std::regex_constants::error_ctype:
        reason = "字符类无效";
        break;
    case std::regex_constants::error_escape:
        reason = "转义字符（\\）用法有误";
        break;
    case std::regex_constants::error_backref:
        reason = "反向引用指向不存在的分组";
        break;
    case std::regex_constants::error_brack:
        reason = "方括号 [ ] 不成对";
        break;
    case std::regex_constants::error_paren:
        reason = "圆括号 ( ) 不成对";
        break;
    case std::regex_constants::error_brace:
        reason = "花括号 { } 不成对";
        break;
    case std::regex_constants::error_badbrace:
        reason = "花括号 { } 中的次数无效";
        break;
    case std::regex_constants::error_range:
        reason = "字符范围无效（如 [z-a]）";
        break;
    case std::regex_constants::error_space:
        reason = "表达式太大，内存不足";
        break;
    case std::regex_constants::error_badrepeat:
        reason = "重复符号（* + ? {）前面没有可重复的内容";
        break;
    case std::regex_constants::error_complexity:
        reason = "表达式太复杂，匹配时放弃了";
        break;
    case std::regex_constants::error_stack:
        reason = "表达式太复杂，超出了可用的栈空间";
        break;
    default:
        break;
    }
    const QString engine = QString::fromLocal8Bit(error.what());
    QString text = QString::fromUtf8(reason);
    if (!engine.isEmpty())
        text += QStringLiteral("（%1）").arg(engine);
    return text;
}
