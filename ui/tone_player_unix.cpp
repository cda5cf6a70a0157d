#include "tone_player.h"

struct TonePlayer::Private {};
TonePlayer::TonePlayer() = default;
TonePlayer::~TonePlayer() = default;
void TonePlayer::play(int, int) {}
