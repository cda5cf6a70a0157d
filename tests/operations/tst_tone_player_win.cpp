#include "tone_player.h"

#include <QElapsedTimer>
#include <QtTest>

// The tones through the platform's Beep: each takes its duration, sound device or not (wine's Beep,
// for one, returns at once), and never much longer.
class TestTonePlayer : public QObject {
    Q_OBJECT
private slots:
    void toneTakesItsDuration_data()
    {
        QTest::addColumn<int>("frequency");
        QTest::addColumn<int>("duration");
        QTest::newRow("success tone") << 1000 << 300;
        QTest::newRow("failure tone") << 300 << 300;
        QTest::newRow("short") << 1000 << 40;
        // Beep refuses frequencies below 37 Hz; the pause still lasts.
        QTest::newRow("frequency Beep refuses") << 20 << 300;
    }
    void toneTakesItsDuration()
    {
        QFETCH(int, frequency);
        QFETCH(int, duration);
        QElapsedTimer elapsed;
        elapsed.start();
        m_player.play(frequency, duration);
        const qint64 took = elapsed.elapsed();
        QVERIFY2(took >= duration - 2, qPrintable(QString::number(took)));
        QVERIFY2(took < duration + 3000, qPrintable(QString::number(took)));
    }

    void emptyToneReturnsAtOnce()
    {
        QElapsedTimer elapsed;
        elapsed.start();
        m_player.play(1000, 0);
        m_player.play(1000, -5);
        QVERIFY(elapsed.elapsed() < 100);
    }

private:
    TonePlayer m_player;
};

QTEST_GUILESS_MAIN(TestTonePlayer)
#include "tst_tone_player_win.moc"
