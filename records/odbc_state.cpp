#include "odbc_state.h"

#include "driver_library.h"

#include <cstdint>
#include <cstring>

namespace {

// The few parts of the ODBC API used here, as the standard defines them.
using Handle = void *;
using Small = short;
using Return = short;
using Integer = std::int32_t;
constexpr Small kEnvironment = 1;
constexpr Small kConnection = 2;
constexpr Small kStatement = 3;
constexpr Integer kOdbcVersion = 200;
constexpr std::intptr_t kOdbc3 = 3;
constexpr Integer kLoginTimeout = 103;
constexpr Small kNullTerminated = -3;
constexpr unsigned short kNoPrompt = 0;

bool succeeded(Return result)
{
    return result == 0 || result == 1;
}

using AllocHandle = Return(*)(Small, Handle, Handle *);
using FreeHandle = Return(*)(Small, Handle);
using SetEnvAttr = Return(*)(Handle, Integer, void *, Integer);
using SetConnectAttr = Return(*)(Handle, Integer, void *, Integer);
using DriverConnect = Return(*)(Handle, void *, unsigned char *, Small, unsigned char *, Small, Small *,
                                              unsigned short);
using Disconnect = Return(*)(Handle);
using GetDiagRec = Return(*)(Small, Handle, Small, unsigned char *, Integer *, unsigned char *, Small,
                                           Small *);

template <typename Function>
Function function(const char *name)
{
    return reinterpret_cast<Function>(odbcFunction(name));
}

std::optional<OdbcDiagnostic> diagnostic(Small type, Handle handle)
{
    const auto getDiagRec = function<GetDiagRec>("SQLGetDiagRec");
    if (!getDiagRec || !handle)
        return std::nullopt;
    unsigned char state[6] = {};
    unsigned char text[1024] = {};
    Integer native = 0;
    Small length = 0;
    if (!succeeded(getDiagRec(type, handle, 1, state, &native, text, Small(sizeof text - 1), &length)))
        return std::nullopt;
    return OdbcDiagnostic{QString::fromLatin1(reinterpret_cast<const char *>(state), 5),
                          QString::fromUtf8(reinterpret_cast<const char *>(text)).trimmed()};
}

Handle handleIn(const QVariant &value)
{
    if (!value.isValid() || std::strcmp(value.typeName(), "void*") != 0)
        return nullptr;
    return *static_cast<void *const *>(value.constData());
}

} // namespace

std::optional<OdbcDiagnostic> odbcConnectDiagnostic(const QString &connectionString, int loginTimeoutSeconds)
{
    const auto allocHandle = function<AllocHandle>("SQLAllocHandle");
    const auto freeHandle = function<FreeHandle>("SQLFreeHandle");
    const auto setEnvAttr = function<SetEnvAttr>("SQLSetEnvAttr");
    const auto setConnectAttr = function<SetConnectAttr>("SQLSetConnectAttr");
    const auto driverConnect = function<DriverConnect>("SQLDriverConnect");
    const auto disconnect = function<Disconnect>("SQLDisconnect");
    if (!allocHandle || !freeHandle || !setEnvAttr || !setConnectAttr || !driverConnect || !disconnect)
        return std::nullopt;
    Handle environment = nullptr;
    if (!succeeded(allocHandle(kEnvironment, nullptr, &environment)))
        return std::nullopt;
    std::optional<OdbcDiagnostic> said;
    Handle connection = nullptr;
    if (succeeded(setEnvAttr(environment, kOdbcVersion, reinterpret_cast<void *>(kOdbc3), 0))
        && succeeded(allocHandle(kConnection, environment, &connection))) {
        setConnectAttr(connection, kLoginTimeout, reinterpret_cast<void *>(std::intptr_t(loginTimeoutSeconds)), 0);
        QByteArray text = connectionString.toUtf8();
        if (succeeded(driverConnect(connection, nullptr, reinterpret_cast<unsigned char *>(text.data()),
                                    kNullTerminated, nullptr, 0, nullptr, kNoPrompt)))
            disconnect(connection);
        else
            said = diagnostic(kConnection, connection);
        freeHandle(kConnection, connection);
    }
    freeHandle(kEnvironment, environment);
    return said;
}

std::optional<OdbcDiagnostic> odbcStatementDiagnostic(const QVariant &statement)
{
    return diagnostic(kStatement, handleIn(statement));
}

std::optional<OdbcDiagnostic> odbcConnectionDiagnostic(const QVariant &connection)
{
    return diagnostic(kConnection, handleIn(connection));
}
