#pragma once

// What the files of the records database share: the tables' names and the row a query gives back.

#include "module_record.h"

#include <QString>
#include <QVariant>

#include <optional>

class QSqlQuery;

inline const QString kRecordTable = QStringLiteral("module_record");
inline const QString kSchemaTable = QStringLiteral("modulebench_schema");
inline const QString kOutboxTable = QStringLiteral("record_outbox");
// The station's records a server turned away for what they hold, with its reason.
inline const QString kSetAsideTable = QStringLiteral("record_set_aside");
// The servers the station has reached: each address, and what identifies the server behind it.
inline const QString kServerTable = QStringLiteral("record_server");

// A text that may be missing, bound as NULL then.
QVariant optionalText(const std::optional<QString> &value);
// A row of the table's columns, in their order.
ModuleRecord recordOf(const QSqlQuery &query);
