#pragma once

#include <QString>

#include <optional>

// One step of a paging bar: either the page to show or the message to show (exclamation icon,
// default title); never both.
struct PageStep
{
    std::optional<QString> page;
    QString message;
};

// The page-number box with its "Go" button, the same rule on the shelf and in the catalogue: the
// typed number (a fraction is cut off) must lie within 1 .. totalPages.
PageStep PageNumberBoxStep(const QString &boxText, const QString &totalPages);
