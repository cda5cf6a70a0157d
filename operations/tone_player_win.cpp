#include "tone_player.h"

#include <QElapsedTimer>

#include <windows.h>

// The platform's own beep plays the tone and returns when it has played.
struct TonePlayer::Private {};

TonePlayer::TonePlayer() : d(std::make_unique<Private>()) {}
TonePlayer::~TonePlayer() = default;

void TonePlayer::play(int frequencyHz, int durationMs)
{
    if (durationMs <= 0)
        return;
    QElapsedTimer elapsed;
    elapsed.start();
    // Beep refuses frequencies outside 37 to 32767 Hz and may return at once without a sound device.
    ::Beep(static_cast<DWORD>(frequencyHz), static_cast<DWORD>(durationMs));
    // Silent or not, the beep takes its time.
    const qint64 left = durationMs - elapsed.elapsed();
    if (left > 0)
        ::Sleep(static_cast<DWORD>(left));
}
