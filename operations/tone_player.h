#pragma once

#include <memory>

// Plays a sine tone and returns when it has played (or, with no audio device, after its duration).
class TonePlayer {
public:
    TonePlayer();
    ~TonePlayer();
    TonePlayer(const TonePlayer &) = delete;
    TonePlayer &operator=(const TonePlayer &) = delete;

    void play(int frequencyHz, int durationMs);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
