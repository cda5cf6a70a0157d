#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>

#include <atomic>
#include <functional>
#include <thread>

// A module that answers from a script, on a pseudo-terminal of its own: for replies the virtual module
// cannot send (a zero byte inside a value). Each request frame whose text starts with a scripted code gets
// that reply text framed with its check digits; anything else goes unanswered. Line settings are not looked at.
class ScriptedTerminal {
public:
    explicit ScriptedTerminal(QHash<QByteArray, QByteArray> replies);
    ~ScriptedTerminal();
    ScriptedTerminal(const ScriptedTerminal &) = delete;
    ScriptedTerminal &operator=(const ScriptedTerminal &) = delete;

    // Asked on the terminal's own thread for each request with a scripted reply, before start: false leaves it
    // unanswered (a module that answers only now and then).
    void setAnswers(std::function<bool(const QByteArray &request)> answers) { m_answers = std::move(answers); }
    // False when no pseudo-terminal could be had.
    bool start();
    // The device the program opens.
    QString slavePath() const { return m_slavePath; }
    void stop();

private:
    void serve();

    QHash<QByteArray, QByteArray> m_replies;
    std::function<bool(const QByteArray &)> m_answers;
    QString m_slavePath;
    int m_master = -1;
    int m_slave = -1; // kept open, so that the line stays up between the program's opens
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};
