#include "tone_player.h"

#include <QElapsedTimer>
#include <QThread>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr unsigned kRate = 48000;
constexpr double kAmplitude = 0.3;
// Short fades keep the tone's edges free of clicks.
constexpr int kFadeMs = 5;
// A short device buffer, so the call ends close to the tone's end.
constexpr unsigned kLatencyUs = 50000;
// A device that stops taking samples holds the call at most this long past the tone.
constexpr int kGraceMs = 200;
constexpr int kPollMs = 20;

std::vector<std::int16_t> sine(int frequencyHz, int durationMs)
{
    const long frames = long(kRate) * durationMs / 1000;
    const double fadeFrames = std::max(1.0, double(kRate) * kFadeMs / 1000);
    const double step = 2.0 * M_PI * frequencyHz / kRate;
    std::vector<std::int16_t> pcm(static_cast<std::size_t>(frames));
    for (long i = 0; i < frames; ++i) {
        const double gain = std::min(1.0, double(std::min(i, frames - 1 - i)) / fadeFrames);
        pcm[static_cast<std::size_t>(i)] = std::int16_t(std::lround(kAmplitude * gain * std::sin(step * double(i)) * 32767));
    }
    return pcm;
}

// Without a sound card ALSA reports every step of the failed open on stderr; no device is no fault here.
void quiet(const char *, int, const char *, int, const char *, ...) {}

void sleepUntil(const QElapsedTimer &elapsed, qint64 ms)
{
    const qint64 left = ms - elapsed.elapsed();
    if (left > 0)
        QThread::msleep(static_cast<unsigned long>(left));
}

// The default device, or none. Opened for each tone, so an idle tool holds no sound device.
snd_pcm_t *openDefaultDevice()
{
    snd_lib_error_set_handler(quiet);
    snd_pcm_t *pcm = nullptr;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
        return nullptr;
    if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED, 1, kRate, 1, kLatencyUs) < 0) {
        snd_pcm_close(pcm);
        return nullptr;
    }
    return pcm;
}

// Writes the samples and waits until the device has played them, never past the deadline.
void playOn(snd_pcm_t *pcm, const std::vector<std::int16_t> &samples, const QElapsedTimer &elapsed, qint64 deadlineMs)
{
    const auto frames = snd_pcm_uframes_t(samples.size());
    snd_pcm_uframes_t offset = 0;
    while (offset < frames) {
        const qint64 left = deadlineMs - elapsed.elapsed();
        if (left <= 0)
            return;
        snd_pcm_sframes_t n = snd_pcm_writei(pcm, samples.data() + offset, frames - offset);
        if (n == -EAGAIN) {
            snd_pcm_wait(pcm, int(std::min<qint64>(left, kPollMs)));
            continue;
        }
        if (n < 0) {
            if (snd_pcm_recover(pcm, int(n), 1) < 0)
                return;
            continue;
        }
        offset += snd_pcm_uframes_t(n);
    }
    // A tone shorter than the buffer has not started by itself.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED)
        snd_pcm_start(pcm);
    snd_pcm_sframes_t delay = 0;
    while (elapsed.elapsed() < deadlineMs && snd_pcm_delay(pcm, &delay) == 0 && delay > 0) {
        const qint64 playsFor = qint64(delay) * 1000 / kRate + 1;
        QThread::msleep(static_cast<unsigned long>(std::min({playsFor, qint64(kPollMs), deadlineMs - elapsed.elapsed()})));
    }
}

} // namespace

struct TonePlayer::Private {};

TonePlayer::TonePlayer() : d(std::make_unique<Private>()) {}
TonePlayer::~TonePlayer() = default;

void TonePlayer::play(int frequencyHz, int durationMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    if (durationMs <= 0)
        return;
    if (frequencyHz > 0) {
        if (snd_pcm_t *pcm = openDefaultDevice()) {
            playOn(pcm, sine(frequencyHz, durationMs), elapsed, durationMs + kGraceMs);
            snd_pcm_close(pcm);
        }
    }
    // Silent or not, the beep takes its time, as the platform's own beep does.
    sleepUntil(elapsed, durationMs);
}
