#pragma once

#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QStringList>

#include <cstdio>

// The gate every text line of the console program passes on its way to a terminal: a module's bytes, a
// database's or the system's words, another program's name, a file name, a line of a file. Control characters
// (C0, DEL, C1) and, in text, format characters (a bidi override) are written as \xHH, so nothing from outside
// can move the cursor, change colours, retitle the terminal or ring; the rest stays as it is.
QString printable(const QByteArray &value); // one character a byte (Latin-1), as a module sends them
QString printable(const QString &value);
// Text of several lines for standard output or standard error, each line through the gate.
void writeShownText(std::FILE *stream, const QString &text);
// One JSON object on one line, its values exact: JSON's own escapes for C0, and \uXXXX for DEL, C1 and format
// characters too, which JSON would leave as they are, so that no terminal acts on them either.
QString jsonLine(const QJsonObject &record);

// Results on standard output (text or one JSON object per line), progress and diagnostics on
// standard error, each line written out at once so a pipe or a log sees it as it happens. Several fixtures
// may report at once: lines never mix. Every text line passes the gate above; JSON keeps exact values, escaped
// as JSON does.
class ConsoleOutput {
public:
    ConsoleOutput(bool json, bool progress) : m_json(json), m_progress(progress) {}

    bool json() const { return m_json; }

    // One result: the record in JSON mode, the text lines otherwise.
    void result(const QJsonObject &record, const QStringList &lines);
    // Only when progress is shown.
    void progress(const QString &line);
    // Always: what a user must know even from a script (why no port could be used...).
    void diagnostic(const QString &line);

private:
    bool m_json;
    bool m_progress;
    QMutex m_mutex;
};
