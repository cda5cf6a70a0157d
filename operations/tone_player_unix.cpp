#include "tone_player.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QElapsedTimer>
#include <QIODevice>
#include <QMediaDevices>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double kAmplitude = 0.3;
// Short fades keep the tone's edges free of clicks.
constexpr int kFadeMs = 5;
constexpr int kWriteRetryMs = 5;

template <typename T>
void putSample(char *&out, T value)
{
    std::memcpy(out, &value, sizeof value);
    out += sizeof value;
}

} // namespace

struct TonePlayer::Private {
    // One sink for the whole run: stopping a sink when it runs dry cuts the tone short.
    std::unique_ptr<QAudioSink> sink;
    QIODevice *stream = nullptr;
    QAudioFormat format;
    bool tried = false;

    void openSink();
    QByteArray sine(int frequencyHz, int durationMs) const;
};

void TonePlayer::Private::openSink()
{
    tried = true;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return;
    format = device.preferredFormat();
    if (format.sampleFormat() == QAudioFormat::Unknown || format.sampleRate() <= 0 || format.channelCount() <= 0)
        return;
    sink = std::make_unique<QAudioSink>(device, format);
    stream = sink->start();
    if (!stream || sink->error() != QAudio::NoError) {
        stream = nullptr;
        sink.reset();
    }
}

QByteArray TonePlayer::Private::sine(int frequencyHz, int durationMs) const
{
    const int rate = format.sampleRate();
    const int channels = format.channelCount();
    const qint64 frames = qint64(rate) * durationMs / 1000;
    const double fadeFrames = std::max(1.0, double(rate) * kFadeMs / 1000);
    const double step = 2.0 * M_PI * frequencyHz / rate;
    QByteArray pcm(int(frames * channels * format.bytesPerSample()), Qt::Uninitialized);
    char *out = pcm.data();
    for (qint64 i = 0; i < frames; ++i) {
        const double gain = std::min(1.0, double(std::min(i, frames - 1 - i)) / fadeFrames);
        const double value = kAmplitude * gain * std::sin(step * double(i));
        for (int c = 0; c < channels; ++c) {
            switch (format.sampleFormat()) {
            case QAudioFormat::UInt8: putSample(out, quint8(128 + std::lround(value * 127))); break;
            case QAudioFormat::Int16: putSample(out, qint16(std::lround(value * 32767))); break;
            case QAudioFormat::Int32: putSample(out, qint32(std::lround(value * 2147483647.0))); break;
            case QAudioFormat::Float: putSample(out, float(value)); break;
            default: return {};
            }
        }
    }
    return pcm;
}

TonePlayer::TonePlayer() : d(std::make_unique<Private>()) {}

TonePlayer::~TonePlayer()
{
    if (d->sink)
        d->sink->stop();
}

void TonePlayer::play(int frequencyHz, int durationMs)
{
    QElapsedTimer elapsed;
    elapsed.start();
    if (durationMs <= 0)
        return;
    if (!d->tried)
        d->openSink();

    if (d->stream && frequencyHz > 0) {
        const QByteArray pcm = d->sine(frequencyHz, durationMs);
        qint64 written = 0;
        // The sink keeps playing what it holds after we return; we only never wait past the tone.
        while (written < pcm.size() && elapsed.elapsed() < durationMs) {
            const qint64 n = d->stream->write(pcm.constData() + written, pcm.size() - written);
            if (n < 0)
                break;
            written += n;
            if (written < pcm.size())
                QThread::msleep(kWriteRetryMs);
        }
    }

    // Silent or not, the beep takes its time, as the platform's own beep does.
    const qint64 left = durationMs - elapsed.elapsed();
    if (left > 0)
        QThread::msleep(static_cast<unsigned long>(left));
}
