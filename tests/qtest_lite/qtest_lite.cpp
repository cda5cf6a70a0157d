#include "qtest_lite.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMetaMethod>
#include <QStringList>
#include <QThread>
#include <QWidget>
#include <QWindow>

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace QTest {

namespace {

struct Column {
    QByteArray name;
    int typeId;
};

struct Row {
    QByteArray tag;
    QVariantList cells;
};

struct State {
    QByteArray className;
    QByteArray function;
    std::vector<Column> columns;
    std::vector<Row> rows;
    const Row *currentRow = nullptr;
    bool failed = false;
    bool skipped = false;
    int passes = 0;
    int failures = 0;
    int skips = 0;
};

State &state()
{
    static State s;
    return s;
}

QByteArray fullName()
{
    QByteArray name = state().className + "::" + state().function + "(";
    if (state().currentRow)
        name += state().currentRow->tag;
    return name + ")";
}

void report(const char *kind, const QByteArray &message, const char *file, int line)
{
    std::printf("%s: %s %s\n", kind, fullName().constData(), message.constData());
    if (file)
        std::printf("   Loc: [%s(%d)]\n", file, line);
    std::fflush(stdout);
}

void fail(const QByteArray &message, const char *file, int line)
{
    if (state().failed)
        return;
    state().failed = true;
    report("FAIL!  ", message, file, line);
}

} // namespace

void TestRow::append(const QVariant &value)
{
    State &s = state();
    if (s.rows.empty())
        qFatal("QTest: a value was added before newRow()");
    Row &row = s.rows.back();
    const std::size_t at = std::size_t(row.cells.size());
    if (at >= s.columns.size())
        qFatal("QTest: row '%s' of %s has more values than columns", row.tag.constData(), s.function.constData());
    if (value.userType() != s.columns[at].typeId)
        qFatal("QTest: value %d of row '%s' in %s is a %s, its column '%s' wants a %s", int(at), row.tag.constData(),
               s.function.constData(), value.metaType().name(), s.columns[at].name.constData(),
               QMetaType(s.columns[at].typeId).name());
    row.cells.append(value);
}

void addColumnById(const char *name, int typeId)
{
    state().columns.push_back({name, typeId});
}

TestRow &newRow(const char *tag)
{
    state().rows.push_back({tag, {}});
    // The stream holds nothing: values go to the last row added.
    static TestRow stream;
    return stream;
}

TestRow &addRow(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    const QString tag = QString::vasprintf(format, args);
    va_end(args);
    return newRow(tag.toUtf8().constData());
}

const char *currentTestFunction()
{
    return state().function.constData();
}

const char *currentDataTag()
{
    return state().currentRow ? state().currentRow->tag.constData() : nullptr;
}

bool currentTestFailed()
{
    return state().failed;
}

const QVariant *fetchCell(const char *name, int typeId, const char *file, int line)
{
    const State &s = state();
    for (std::size_t i = 0; i < s.columns.size(); ++i) {
        if (s.columns[i].name != name)
            continue;
        if (s.columns[i].typeId != typeId) {
            fail(QByteArray("QFETCH of ") + name + " with the wrong type", file, line);
            return nullptr;
        }
        if (!s.currentRow || i >= std::size_t(s.currentRow->cells.size())) {
            fail(QByteArray("no value for ") + name + " in this row", file, line);
            return nullptr;
        }
        return &s.currentRow->cells[int(i)];
    }
    fail(QByteArray("QFETCH: no column ") + name, file, line);
    return nullptr;
}

bool verify(bool condition, const char *statement, const char *description, const char *file, int line)
{
    if (condition)
        return true;
    QByteArray message = QByteArray("'") + statement + "' returned FALSE. (" + description + ")";
    fail(message, file, line);
    return false;
}

bool compareFailed(const char *actual, const char *expected, const QString &actualValue,
                   const QString &expectedValue, const char *file, int line)
{
    const QByteArray message = QByteArray("Compared values are not the same\n   Actual   (") + actual + "): "
        + actualValue.toUtf8() + "\n   Expected (" + expected + "): " + expectedValue.toUtf8();
    fail(message, file, line);
    return false;
}

void skip(const char *message, const char *file, int line)
{
    state().skipped = true;
    report("SKIP   ", message, file, line);
}

void qWait(int ms)
{
    QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, int(qMax<qint64>(1, deadline.remainingTime())));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (deadline.hasExpired())
            break;
        QThread::msleep(qMin<qint64>(10, deadline.remainingTime()));
    } while (!deadline.hasExpired());
}

void qSleep(int ms)
{
    QThread::msleep(static_cast<unsigned long>(ms));
}

bool qWaitForWindowExposed(QWidget *widget, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (true) {
        QWindow *window = widget->window()->windowHandle();
        if (window && window->isExposed())
            return true;
        if (deadline.hasExpired())
            return false;
        qWait(10);
    }
}

bool qWaitForWindowActive(QWidget *widget, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (QApplication::activeWindow() != widget->window()) {
        if (deadline.hasExpired())
            return false;
        qWait(10);
    }
    return true;
}

void keyClick(QWidget *widget, Qt::Key key, Qt::KeyboardModifiers modifiers, int delayMs)
{
    if (delayMs > 0)
        qWait(delayMs);
    const QString text = key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde ? QString(QChar(key)) : QString();
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
}

void keyClick(QWidget *widget, char key, Qt::KeyboardModifiers modifiers, int delayMs)
{
    keyClick(widget, static_cast<Qt::Key>(QChar::fromLatin1(key).toUpper().unicode()), modifiers, delayMs);
}

namespace {

bool isSpecial(const QByteArray &name)
{
    return name == "initTestCase" || name == "cleanupTestCase" || name == "init" || name == "cleanup";
}

bool invoke(QObject *object, const QByteArray &name)
{
    const int index = object->metaObject()->indexOfMethod(name + "()");
    if (index < 0)
        return false;
    object->metaObject()->method(index).invoke(object, Qt::DirectConnection);
    return true;
}

// "name" or "name:tag" from the command line.
bool selected(const QList<QByteArray> &wanted, const QByteArray &function, const QByteArray &tag)
{
    if (wanted.isEmpty())
        return true;
    for (const QByteArray &entry : wanted) {
        const int colon = entry.indexOf(':');
        const QByteArray name = colon < 0 ? entry : entry.left(colon);
        if (name == function && (colon < 0 || entry.mid(colon + 1) == tag))
            return true;
    }
    return false;
}

void runOnce(QObject *object, const QByteArray &function)
{
    State &s = state();
    s.failed = false;
    s.skipped = false;
    invoke(object, "init");
    if (!s.failed && !s.skipped)
        invoke(object, function);
    if (!s.skipped || s.failed)
        invoke(object, "cleanup");
    if (s.failed) {
        ++s.failures;
    } else if (s.skipped) {
        ++s.skips;
    } else {
        ++s.passes;
        std::printf("PASS   : %s\n", fullName().constData());
    }
}

} // namespace

int qExec(QObject *testObject, int argc, char **argv)
{
    State &s = state();
    const QMetaObject *meta = testObject->metaObject();
    s.className = meta->className();
    QList<QByteArray> wanted;
    for (int i = 1; i < argc; ++i) {
        if (argv[i][0] != '-')
            wanted << argv[i];
    }
    std::printf("********* Start testing of %s (Qt Test work-alike) *********\n", s.className.constData());

    s.function = "initTestCase";
    s.failed = false;
    s.skipped = false;
    invoke(testObject, "initTestCase");
    if (s.failed) {
        ++s.failures;
    } else if (!s.skipped) {
        for (int m = meta->methodOffset(); m < meta->methodCount(); ++m) {
            const QMetaMethod method = meta->method(m);
            if (method.methodType() != QMetaMethod::Slot || method.access() != QMetaMethod::Private
                || method.parameterCount() != 0)
                continue;
            const QByteArray name = method.name();
            if (isSpecial(name) || name.endsWith("_data"))
                continue;
            s.function = name;
            s.columns.clear();
            s.rows.clear();
            s.currentRow = nullptr;
            if (meta->indexOfMethod(name + "_data()") >= 0) {
                invoke(testObject, name + "_data");
                for (const Row &row : s.rows) {
                    s.currentRow = &row;
                    if (selected(wanted, name, row.tag))
                        runOnce(testObject, name);
                }
                s.currentRow = nullptr;
            } else if (selected(wanted, name, QByteArray())) {
                runOnce(testObject, name);
            }
        }
    }
    s.function = "cleanupTestCase";
    s.failed = false;
    invoke(testObject, "cleanupTestCase");
    if (s.failed)
        ++s.failures;

    std::printf("Totals: %d passed, %d failed, %d skipped\n", s.passes, s.failures, s.skips);
    std::printf("********* Finished testing of %s *********\n", s.className.constData());
    std::fflush(stdout);
    return qMin(s.failures, 127);
}

} // namespace QTest
