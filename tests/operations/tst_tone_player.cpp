#include "tone_player.h"
#include <QtTest>
class TestTonePlayer : public QObject { Q_OBJECT };
QTEST_MAIN(TestTonePlayer)
#include "tst_tone_player.moc"
