#pragma once

#include <QtGlobal>

#include <regex>

// Regular expressions of the reader's own (clean-up rules, chapter rules) run on the C++
// library's backtracking engine, where an expression such as (a+)+$ takes exponential time on a
// short line. Such expressions are compiled with CountingTraits, which counts every character
// the matcher compares against the allowance of the calling thread, and throws OutOfSteps when
// it is spent: a budget of work, the same on every machine, rather than of time.
//
// The matcher passes each character through translate() when the expression is compiled with
// `collate`, and through translate_nocase() when it is compiled with `icase`.
namespace RegexSteps {

struct OutOfSteps
{
};

// Matching steps still allowed to the expression running on this thread.
inline thread_local qint64 t_left = 0;

inline void take()
{
    if (--t_left < 0)
        throw OutOfSteps{};
}

struct CountingTraits : std::regex_traits<wchar_t>
{
    wchar_t translate(wchar_t c) const
    {
        take();
        return c;
    }
    wchar_t translate_nocase(wchar_t c) const
    {
        take();
        return std::regex_traits<wchar_t>::translate_nocase(c);
    }
};

using Regex = std::basic_regex<wchar_t, CountingTraits>;

} // namespace RegexSteps
