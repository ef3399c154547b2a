#pragma once

#include <QString>

#include <regex>

// Why the regular-expression engine refused a pattern, in Chinese, with the engine's own words
// after it in brackets: "括号不成对（Mismatched '(' and ')' in regular expression）".
QString RegexProblemText(const std::regex_error &error);
