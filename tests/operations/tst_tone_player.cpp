#include "tone_player.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <QtTest>

#include <alsa/asoundlib.h>

#include <cmath>

// The tones through ALSA's default device. A private ALSA configuration makes that device a WAV file
// beside a null sink, or a sound card that does not exist: no test reaches the machine's real sound card.
class TestTonePlayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void toneIsASineOfItsFrequencyAndDuration_data();
    void toneIsASineOfItsFrequencyAndDuration();
    void withoutDeviceToneIsSilentButTakesItsTime();
    void emptyToneReturnsAtOnce();

private:
    void useAlsaConfig(const QString &name);
    QString m_wav;
    QTemporaryDir m_dir;
    TonePlayer m_player;
};

namespace {

struct Wav {
    int channels = 0;
    int rate = 0;
    int bits = 0;
    QVector<qint16> samples;
};

// The canonical 44-byte header the ALSA file plugin writes, then 16-bit samples.
bool readWav(const QString &path, Wav &wav)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    if (data.size() < 44 || !data.startsWith("RIFF") || data.mid(8, 4) != "WAVE" || data.mid(36, 4) != "data")
        return false;
    const auto *bytes = reinterpret_cast<const uchar *>(data.constData());
    wav.channels = qFromLittleEndian<quint16>(bytes + 22);
    wav.rate = int(qFromLittleEndian<quint32>(bytes + 24));
    wav.bits = qFromLittleEndian<quint16>(bytes + 34);
    const int count = (data.size() - 44) / 2;
    wav.samples.resize(count);
    for (int i = 0; i < count; ++i)
        wav.samples[i] = qFromLittleEndian<qint16>(bytes + 44 + 2 * i);
    return true;
}

} // namespace

void TestTonePlayer::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_wav = m_dir.filePath(QStringLiteral("tone.wav"));
    const QByteArray toFile = "pcm.!default {\n  type file\n  slave.pcm { type null }\n  file \"" + m_wav.toUtf8()
                              + "\"\n  format \"wav\"\n}\n";
    // The file plugin opens its slave first, so with a missing card no file appears.
    const QByteArray noCard = "pcm.!default {\n  type file\n  slave.pcm { type hw card 63 }\n  file \""
                              + m_wav.toUtf8() + "\"\n  format \"wav\"\n}\n";
    for (const auto &[name, text] : {std::pair{"file.conf", toFile}, std::pair{"no-card.conf", noCard}}) {
        QFile conf(m_dir.filePath(QString::fromLatin1(name)));
        QVERIFY(conf.open(QIODevice::WriteOnly));
        conf.write(text);
    }
}

void TestTonePlayer::useAlsaConfig(const QString &name)
{
    QFile::remove(m_wav);
    qputenv("ALSA_CONFIG_PATH", m_dir.filePath(name).toLocal8Bit());
    // ALSA reads its configuration once per process unless told to forget it.
    snd_config_update_free_global();
}

void TestTonePlayer::toneIsASineOfItsFrequencyAndDuration_data()
{
    QTest::addColumn<int>("frequency");
    QTest::addColumn<int>("duration");
    QTest::newRow("success tone") << 1000 << 300;
    QTest::newRow("failure tone") << 300 << 300;
    QTest::newRow("shorter than the device buffer") << 1000 << 40;
}

void TestTonePlayer::toneIsASineOfItsFrequencyAndDuration()
{
    QFETCH(int, frequency);
    QFETCH(int, duration);
    useAlsaConfig(QStringLiteral("file.conf"));
    QElapsedTimer elapsed;
    elapsed.start();
    m_player.play(frequency, duration);
    const qint64 took = elapsed.elapsed();
    QVERIFY2(took >= duration, qPrintable(QString::number(took)));
    QVERIFY2(took < duration + 1000, qPrintable(QString::number(took)));

    Wav wav;
    QVERIFY(readWav(m_wav, wav));
    QCOMPARE(wav.channels, 1);
    QCOMPARE(wav.bits, 16);
    QVERIFY(wav.rate >= 8000);
    const double seconds = double(wav.samples.size()) / wav.rate;
    QVERIFY2(std::abs(seconds * 1000 - duration) <= 1, qPrintable(QString::number(seconds * 1000)));

    // A sine crosses zero twice per period.
    int crossings = 0;
    int peak = 0;
    for (int i = 0; i < wav.samples.size(); ++i) {
        peak = std::max(peak, std::abs(int(wav.samples[i])));
        if (i > 0 && (wav.samples[i - 1] < 0) != (wav.samples[i] < 0))
            ++crossings;
    }
    const double measured = crossings / (2 * seconds);
    QVERIFY2(std::abs(measured - frequency) <= frequency * 0.03 + 1 / seconds, qPrintable(QString::number(measured)));
    // Audible, and well below clipping.
    QVERIFY2(peak > 32767 / 10 && peak < 32767 / 2, qPrintable(QString::number(peak)));
}

void TestTonePlayer::withoutDeviceToneIsSilentButTakesItsTime()
{
    useAlsaConfig(QStringLiteral("no-card.conf"));
    QElapsedTimer elapsed;
    elapsed.start();
    m_player.play(300, 300);
    const qint64 took = elapsed.elapsed();
    QVERIFY2(took >= 300 && took < 1300, qPrintable(QString::number(took)));
    QVERIFY(!QFile::exists(m_wav));
}

void TestTonePlayer::emptyToneReturnsAtOnce()
{
    useAlsaConfig(QStringLiteral("file.conf"));
    QElapsedTimer elapsed;
    elapsed.start();
    m_player.play(1000, 0);
    m_player.play(1000, -5);
    QVERIFY(elapsed.elapsed() < 100);
    QVERIFY(!QFile::exists(m_wav));
}

QTEST_GUILESS_MAIN(TestTonePlayer)
#include "tst_tone_player.moc"
