#pragma once

// A small work-alike of Qt Test for builds whose Qt has no Qt Test (the cross-built Qt for
// Windows): the same macros and runner behaviour for what the tests here use: data-driven
// functions, QCOMPARE/QVERIFY, QTRY_*, waiting for windows, key clicks, exit status = failures.

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDebug>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVariant>

#include <type_traits>
#include <utility>

class QWidget;

namespace QTest {

// --- data tables -------------------------------------------------------------------------

class TestRow {
public:
    template <typename T>
    TestRow &operator<<(const T &value)
    {
        append(QVariant::fromValue(value));
        return *this;
    }
    // A string literal fills a QString column, as in Qt Test.
    TestRow &operator<<(const char *text)
    {
        append(QVariant::fromValue(QString::fromUtf8(text)));
        return *this;
    }

private:
    void append(const QVariant &value);
};

void addColumnById(const char *name, int typeId);
template <typename T>
void addColumn(const char *name, T * = nullptr)
{
    addColumnById(name, qMetaTypeId<T>());
}
TestRow &newRow(const char *tag);
TestRow &addRow(const char *format, ...);

const char *currentTestFunction();
const char *currentDataTag();
bool currentTestFailed();

// The value of a column in the current row; fails the test function on a type mismatch.
const QVariant *fetchCell(const char *name, int typeId, const char *file, int line);
template <typename T>
T fetchData(const char *name, const char *file, int line, bool &ok)
{
    const QVariant *cell = fetchCell(name, qMetaTypeId<T>(), file, line);
    ok = cell != nullptr;
    return ok ? cell->value<T>() : T();
}

// --- results -----------------------------------------------------------------------------

bool verify(bool condition, const char *statement, const char *description, const char *file, int line);
bool compareFailed(const char *actual, const char *expected, const QString &actualValue,
                   const QString &expectedValue, const char *file, int line);
void skip(const char *message, const char *file, int line);

namespace Internal {
template <typename T, typename = void>
struct Printable : std::false_type {};
template <typename T>
struct Printable<T, std::void_t<decltype(std::declval<QDebug &>() << std::declval<const T &>())>> : std::true_type {};
} // namespace Internal

template <typename T>
QString describe(const T &value)
{
    if constexpr (Internal::Printable<T>::value) {
        QString text;
        QDebug(&text).nospace() << value;
        return text;
    } else {
        return QStringLiteral("<value>");
    }
}

template <typename T1, typename T2>
bool qCompare(const T1 &actual, const T2 &expected, const char *actualText, const char *expectedText,
              const char *file, int line)
{
    if (actual == expected)
        return true;
    return compareFailed(actualText, expectedText, describe(actual), describe(expected), file, line);
}

// --- events and windows ------------------------------------------------------------------

void qWait(int ms);
void qSleep(int ms);
bool qWaitForWindowExposed(QWidget *widget, int timeoutMs = 5000);
bool qWaitForWindowActive(QWidget *widget, int timeoutMs = 5000);
void keyClick(QWidget *widget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, int delayMs = -1);
void keyClick(QWidget *widget, char key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, int delayMs = -1);

int qExec(QObject *testObject, int argc = 0, char **argv = nullptr);

} // namespace QTest

#define QVERIFY(statement)                                                                 \
    do {                                                                                   \
        if (!QTest::verify(static_cast<bool>(statement), #statement, "", __FILE__, __LINE__)) \
            return;                                                                        \
    } while (false)

#define QVERIFY2(statement, description)                                                   \
    do {                                                                                   \
        if (!QTest::verify(static_cast<bool>(statement), #statement, description, __FILE__, __LINE__)) \
            return;                                                                        \
    } while (false)

#define QFAIL(message)                                                                     \
    do {                                                                                   \
        QTest::verify(false, "QFAIL", message, __FILE__, __LINE__);                        \
        return;                                                                            \
    } while (false)

#define QCOMPARE(actual, expected)                                                         \
    do {                                                                                   \
        if (!QTest::qCompare(actual, expected, #actual, #expected, __FILE__, __LINE__))     \
            return;                                                                        \
    } while (false)

#define QSKIP(message)                                                                     \
    do {                                                                                   \
        QTest::skip(message, __FILE__, __LINE__);                                          \
        return;                                                                            \
    } while (false)

#define QFETCH(Type, name)                                                                 \
    bool qtestFetched_##name = false;                                                      \
    Type name = QTest::fetchData<Type>(#name, __FILE__, __LINE__, qtestFetched_##name);     \
    if (!qtestFetched_##name)                                                              \
        return

#define QTRY_IMPL(condition, timeoutMs)                                                    \
    do {                                                                                   \
        const QDeadlineTimer qtestDeadline(timeoutMs);                                     \
        while (!(condition) && !qtestDeadline.hasExpired())                                \
            QTest::qWait(10);                                                              \
    } while (false)

#define QTRY_VERIFY_WITH_TIMEOUT(condition, timeoutMs)                                     \
    do {                                                                                   \
        QTRY_IMPL(condition, timeoutMs);                                                   \
        QVERIFY(condition);                                                                \
    } while (false)
#define QTRY_VERIFY(condition) QTRY_VERIFY_WITH_TIMEOUT(condition, 5000)
#define QTRY_COMPARE_WITH_TIMEOUT(actual, expected, timeoutMs)                             \
    do {                                                                                   \
        QTRY_IMPL((actual) == (expected), timeoutMs);                                      \
        QCOMPARE(actual, expected);                                                        \
    } while (false)
#define QTRY_COMPARE(actual, expected) QTRY_COMPARE_WITH_TIMEOUT(actual, expected, 5000)

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#define QTEST_MAIN(TestObject)                                                             \
    int main(int argc, char *argv[])                                                       \
    {                                                                                      \
        QApplication app(argc, argv);                                                      \
        TestObject test;                                                                   \
        return QTest::qExec(&test, argc, argv);                                            \
    }
#endif

#define QTEST_GUILESS_MAIN(TestObject)                                                     \
    int main(int argc, char *argv[])                                                       \
    {                                                                                      \
        QCoreApplication app(argc, argv);                                                  \
        TestObject test;                                                                   \
        return QTest::qExec(&test, argc, argv);                                            \
    }
