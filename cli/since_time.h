#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// --since: a date alone (2026-12-10, from local midnight), or a date with a time (2026-12-10T06:00, seconds and
// milliseconds if wanted), local unless it ends in Z or an offset (+01:00, at most 14 hours). Every field within
// its range; anything else is nothing.
std::optional<QDateTime> parseSinceTime(const QString &text);
