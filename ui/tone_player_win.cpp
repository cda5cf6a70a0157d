#include "tone_player.h"

#include <windows.h>

// The platform's own beep plays the tone and returns when it has played.
struct TonePlayer::Private {};

TonePlayer::TonePlayer() : d(std::make_unique<Private>()) {}
TonePlayer::~TonePlayer() = default;

void TonePlayer::play(int frequencyHz, int durationMs)
{
    if (durationMs <= 0)
        return;
    ::Beep(static_cast<DWORD>(frequencyHz), static_cast<DWORD>(durationMs));
}
