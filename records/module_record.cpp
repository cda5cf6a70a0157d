#include "module_record.h"

#include <QUuid>

namespace {

struct FieldInfo {
    RecordField field;
    const char *name;
    // The column's type in each dialect; a column without NULL in it says NOT NULL.
    const char *sqlite;
    const char *postgres;
    const char *plain;
    bool notNull;
};

// Every field, in the table's order.
const FieldInfo kFields[] = {
    {RecordField::Id, "id", "TEXT", "uuid", "CHAR(36)", true},
    {RecordField::Time, "time", "TEXT", "timestamptz", "VARCHAR(32)", true},
    {RecordField::Station, "station", "TEXT", "text", "VARCHAR(255)", true},
    {RecordField::Port, "port", "TEXT", "text", "VARCHAR(16)", true},
    {RecordField::LineSettings, "line_settings", "TEXT", "text", "VARCHAR(16)", true},
    {RecordField::SerialNumber, "serial_number", "TEXT", "text", "VARCHAR(64)", true},
    {RecordField::Version, "version", "TEXT", "text", "VARCHAR(64)", false},
    {RecordField::CustomerRegister, "customer_register", "TEXT", "text", "VARCHAR(255)", false},
    {RecordField::Outcome, "outcome", "TEXT", "text", "VARCHAR(32)", true},
    {RecordField::DurationMs, "duration_ms", "INTEGER", "bigint", "BIGINT", true},
    {RecordField::ToolVersion, "tool_version", "TEXT", "text", "VARCHAR(32)", true},
};

const FieldInfo &infoOf(RecordField field)
{
    for (const FieldInfo &info : kFields) {
        if (info.field == field)
            return info;
    }
    return kFields[0];
}

} // namespace

ModuleRecord ModuleRecord::make()
{
    ModuleRecord record;
    record.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    record.toolVersion = QStringLiteral(MB_VERSION);
    return record;
}

QString ModuleRecord::timeText(const QDateTime &time)
{
    return time.toUTC().toString(QStringLiteral("yyyy-MM-dd'T'HH:mm:ss.zzz'Z'"));
}

QString ModuleRecord::localTimeText(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODate);
}

QString recordFieldName(RecordField field)
{
    return QString::fromLatin1(infoOf(field).name);
}

const QList<RecordField> &csvRecordFields()
{
    static const QList<RecordField> fields{RecordField::Time,         RecordField::Port,
                                           RecordField::LineSettings, RecordField::SerialNumber,
                                           RecordField::Version,      RecordField::CustomerRegister,
                                           RecordField::Outcome,      RecordField::Station,
                                           RecordField::DurationMs};
    return fields;
}

const QList<RecordField> &tableRecordFields()
{
    static const QList<RecordField> fields = [] {
        QList<RecordField> all;
        for (const FieldInfo &info : kFields)
            all << info.field;
        return all;
    }();
    return fields;
}

QString tableColumnList(const QString &prefix)
{
    QStringList names;
    for (const RecordField field : tableRecordFields())
        names << prefix + recordFieldName(field);
    return names.join(QStringLiteral(", "));
}

QString tableColumnDefinitions(RecordDialect dialect)
{
    QStringList columns;
    for (const FieldInfo &info : kFields) {
        const char *type = dialect == RecordDialect::SQLite       ? info.sqlite
                           : dialect == RecordDialect::PostgreSQL ? info.postgres
                                                                  : info.plain;
        QString column = QString::fromLatin1(info.name) + QLatin1Char(' ') + QString::fromLatin1(type);
        if (info.notNull)
            column += QStringLiteral(" NOT NULL");
        if (info.field == RecordField::Id)
            column += QStringLiteral(" PRIMARY KEY");
        columns << column;
    }
    return columns.join(QStringLiteral(", "));
}

namespace {

std::optional<QString> valueOf(const ModuleRecord &record, RecordField field)
{
    switch (field) {
    case RecordField::Id: return record.id;
    case RecordField::Time: return ModuleRecord::localTimeText(record.time);
    case RecordField::Station: return record.station;
    case RecordField::Port: return record.port;
    case RecordField::LineSettings: return record.lineSettings;
    case RecordField::SerialNumber: return record.serialNumber;
    case RecordField::Version: return record.version;
    case RecordField::CustomerRegister: return record.customerRegister;
    case RecordField::Outcome: return record.outcome;
    case RecordField::DurationMs: return QString::number(record.durationMs);
    case RecordField::ToolVersion: return record.toolVersion;
    }
    return std::nullopt;
}

} // namespace

QString recordText(const ModuleRecord &record, RecordField field)
{
    return valueOf(record, field).value_or(QString());
}

QJsonObject recordJson(const ModuleRecord &record, const QList<RecordField> &fields, bool utc)
{
    QJsonObject object;
    for (const RecordField field : fields) {
        const QString name = recordFieldName(field);
        if (field == RecordField::DurationMs) {
            object.insert(name, record.durationMs);
        } else if (field == RecordField::Time && utc) {
            object.insert(name, ModuleRecord::timeText(record.time));
        } else {
            const std::optional<QString> value = valueOf(record, field);
            object.insert(name, value ? QJsonValue(*value) : QJsonValue(QJsonValue::Null));
        }
    }
    return object;
}
