#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// One module's record, as a station keeps it in every form (the CSV file, the station's own file, a line's
// server) and shows it: what was read, where the run left the module and what became of it, with an id made
// with the record (so that it reaches a server once, however often it is sent) and the version of the tool
// that made it.
struct ModuleRecord {
    QString id;     // a UUID, without braces
    QDateTime time; // the moment the module was taken in hand
    QString station;
    QString port;
    QString lineSettings; // where the run left the module
    QString serialNumber;
    std::optional<QString> version;          // empty: not read
    std::optional<QString> customerRegister; // empty: not read
    QString outcome;
    qint64 durationMs = 0;
    QString toolVersion;

    // A new record: a fresh id and this tool's version.
    static ModuleRecord make();
    // The time as the tables hold it: UTC, ISO 8601 with milliseconds ("2026-12-10T08:03:49.123Z").
    static QString timeText(const QDateTime &time);
    // The time as the CSV file and the station's own output show it: the station's clock with its offset, so
    // that lines from benches in other time zones, or across a clock change, still sort.
    static QString localTimeText(const QDateTime &time);
};

// The fields of a record. Their names are the CSV file's column names, the JSON keys and the table's
// columns alike.
enum class RecordField {
    Id,
    Time,
    Station,
    Port,
    LineSettings,
    SerialNumber,
    Version,
    CustomerRegister,
    Outcome,
    DurationMs,
    ToolVersion,
};

// The SQL a table of records is made in.
enum class RecordDialect { SQLite, PostgreSQL, Plain };

QString recordFieldName(RecordField field);
// The CSV file's columns, in the order of a new file.
const QList<RecordField> &csvRecordFields();
// The table's columns, in the order of its definition.
const QList<RecordField> &tableRecordFields();
// "id, time, ...": the table's columns for a query; each name after prefix ("r.") where one is given.
QString tableColumnList(const QString &prefix = {});
// The table's columns with their types, for CREATE TABLE in the dialect.
QString tableColumnDefinitions(RecordDialect dialect);

// The field as a CSV cell holds it before quoting: empty for a value not read; the time in the station's
// own form (localTimeText).
QString recordText(const ModuleRecord &record, RecordField field);
// The fields as JSON: a value not read is null; the time as localTimeText, or as timeText when utc.
QJsonObject recordJson(const ModuleRecord &record, const QList<RecordField> &fields, bool utc);
