#include "tone_player.h"

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QMediaDevices>
#include <QtTest>

// The beep blocks for its duration with or without an audio device, and never much longer.
class TestTonePlayer : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qInfo() << "audio outputs:" << QMediaDevices::audioOutputs().size();
    }

    void toneTakesAboutItsDuration_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("duration");
        QTest::newRow("success tone") << 1000 << 300;
        QTest::newRow("failure tone") << 300 << 300;
        QTest::newRow("short") << 1000 << 40;
    }
    void toneTakesAboutItsDuration()
    {
        QFETCH(int, frequency);
        QFETCH(int, duration);
        QElapsedTimer elapsed;
        elapsed.start();
        m_player.play(frequency, duration);
        const qint64 took = elapsed.elapsed();
        QVERIFY2(took >= duration - 20, qPrintable(QString::number(took)));
        QVERIFY2(took < duration + 3000, qPrintable(QString::number(took)));
    }

    void emptyToneReturnsAtOnce()
    {
        QElapsedTimer elapsed;
        elapsed.start();
        m_player.play(1000, 0);
        m_player.play(1000, -5);
        QVERIFY(elapsed.elapsed() < 1000);
    }

private:
    TonePlayer m_player;
};

QTEST_GUILESS_MAIN(TestTonePlayer)
#include "tst_tone_player.moc"
