#include "console_platform.h"

#include "stop_token.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace {

// A signal handler can reach the token only through a static; the token itself is lock-free.
std::atomic<StopToken *> g_token{nullptr};

void onStop(int)
{
    if (StopToken *token = g_token.load())
        token->request();
}

} // namespace

void installStopHandlers(StopToken &token)
{
    g_token = &token;
    struct sigaction action {};
    action.sa_handler = onStop;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a pause or a wait cut short only ends sooner, every wait checks the flag anyway.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // A file over its size limit fails the write (and the record is cut off again) instead of ending us.
    std::signal(SIGXFSZ, SIG_IGN);
}

QList<QByteArray> rawArguments(int argc, char **argv)
{
    QList<QByteArray> raw;
    for (int i = 1; i < argc; ++i)
        raw << QByteArray(argv[i]);
    return raw;
}

// A signal handler only sets the flag, and the program ends by itself: nothing waits for this.
void markFinished() {}

bool standardErrorIsTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void writeText(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString deviceKindFromPath(const QString &devicePath)
{
    if (devicePath.startsWith(QLatin1String("/dev/pts/")))
        return QStringLiteral("pseudo-terminal");
    return {};
}
