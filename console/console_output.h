#pragma once

#include <QJsonObject>
#include <QMutex>
#include <QString>
#include <QStringList>

// Results on standard output (text or one JSON object per line), progress and diagnostics on
// standard error, each line written out at once so a pipe or a log sees it as it happens. Several fixtures
// may report at once: lines never mix.
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
