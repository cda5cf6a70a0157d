#pragma once

#include <QString>
#include <QVariant>

#include <optional>

// What an ODBC driver manager or driver says of a failure, with its SQLSTATE: Qt's ODBC driver gives only the
// diagnostic's text and its driver's native number, whose meaning each driver has its own.
struct OdbcDiagnostic {
    QString state; // "IM002", "28P01", "08001"...
    QString text;
};

// The first diagnostic of connecting with the connection string, tried on a connection of its own (Qt frees
// its handles when a connection fails); nothing when it connects, or when no driver manager can be had.
std::optional<OdbcDiagnostic> odbcConnectDiagnostic(const QString &connectionString, int loginTimeoutSeconds);
// The first diagnostic of a statement's handle (QSqlResult::handle()) or of a connection's
// (QSqlDriver::handle()), right after it failed.
std::optional<OdbcDiagnostic> odbcStatementDiagnostic(const QVariant &statement);
std::optional<OdbcDiagnostic> odbcConnectionDiagnostic(const QVariant &connection);
