#include "scripted_terminal.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

QByteArray framed(const QByteArray &text)
{
    unsigned char check = 0x0F;
    for (char c : text)
        check ^= static_cast<unsigned char>(c);
    static const char kDigits[] = "0123456789ABCDEF";
    return QByteArray(1, '\x0F') + text + kDigits[check >> 4] + kDigits[check & 0x0F] + '\x0D';
}

} // namespace

ScriptedTerminal::ScriptedTerminal(QHash<QByteArray, QByteArray> replies) : m_replies(std::move(replies)) {}

ScriptedTerminal::~ScriptedTerminal()
{
    stop();
}

bool ScriptedTerminal::start()
{
    if (::openpty(&m_master, &m_slave, nullptr, nullptr, nullptr) != 0)
        return false;
    termios raw{};
    ::tcgetattr(m_slave, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(m_slave, TCSANOW, &raw);
    m_slavePath = QString::fromLocal8Bit(::ttyname(m_slave));
    m_thread = std::thread([this] { serve(); });
    return true;
}

void ScriptedTerminal::stop()
{
    m_stopping = true;
    if (m_thread.joinable())
        m_thread.join();
    for (int *fd : {&m_master, &m_slave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void ScriptedTerminal::serve()
{
    QByteArray frame;
    while (!m_stopping) {
        pollfd ready{m_master, POLLIN, 0};
        if (::poll(&ready, 1, 20) <= 0 || !(ready.revents & POLLIN))
            continue;
        char buffer[256];
        const ssize_t count = ::read(m_master, buffer, sizeof buffer);
        for (ssize_t i = 0; i < count; ++i) {
            const char byte = buffer[i];
            if (byte == '\x0F')
                frame.clear();
            frame.append(byte);
            if (byte != '\x0D' || !frame.startsWith('\x0F') || frame.size() < 4)
                continue;
            const QByteArray text = frame.mid(1, frame.size() - 4);
            const auto reply = m_replies.constFind(text.left(3));
            if (reply != m_replies.constEnd() && (!m_answers || m_answers(text))) {
                const QByteArray bytes = framed(*reply);
                if (::write(m_master, bytes.constData(), size_t(bytes.size())) != bytes.size())
                    break;
            }
            frame.clear();
        }
    }
}
