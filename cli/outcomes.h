#pragma once

#include "console_tool.h"

#include <QString>

// What became of a module, in one vocabulary for every command's final JSON object, watch's records and its
// summary:
//   ok                 read completely (and cleared or moved when asked)
//   already-set        watch --set-baud: the module was at the wanted line settings already; not moved
//   not-found          no module answered
//   bad-check          nothing readable came, but some port answered with a bad check (noise on the line?)
//   no-port            no port could be opened at all
//   information-error  the module answered, but its version or customer register could not be read
//   clear-refused      the clearing was not accepted
//   set-baud-refused   the baud-rate change was not accepted
//   set-baud-unconfirmed  the change was accepted, but the module did not answer at the new line settings
//   interrupted        Ctrl-C or SIGTERM ended the run before the module was changed
//   bad-usage          the command line was refused; nothing was sent
//   failure            anything else (the CSV file could not be opened or written...)
namespace outcome {
inline const QString ok = QStringLiteral("ok");
inline const QString alreadySet = QStringLiteral("already-set");
inline const QString notFound = QStringLiteral("not-found");
inline const QString badCheck = QStringLiteral("bad-check");
inline const QString noPort = QStringLiteral("no-port");
inline const QString informationError = QStringLiteral("information-error");
inline const QString clearRefused = QStringLiteral("clear-refused");
inline const QString setBaudRefused = QStringLiteral("set-baud-refused");
inline const QString setBaudUnconfirmed = QStringLiteral("set-baud-unconfirmed");
inline const QString interrupted = QStringLiteral("interrupted");
inline const QString badUsage = QStringLiteral("bad-usage");
inline const QString failure = QStringLiteral("failure");
} // namespace outcome

QString outcomeName(ModuleReading::Outcome value);
// The exit status a run that ends with this outcome gives.
int exitStatusForOutcome(const QString &name);
bool isSuccess(const QString &name);
