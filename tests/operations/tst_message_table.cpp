#include "message_table.h"
#include "settings_store.h"

#include <QTest>
#include <QTextCodec>

namespace {

// The table as the window must show it, in UTF-8; message 0 continues with the web address.
const char *const kExpected[MessageTable::kMessageCount][MessageTable::kLanguageCount] = {
    {"KAVOR Technology Corp.   ", "KAVOR股份有限公司   ", "KAVOR股份有限公司   "}, // 0
    {"KAVOR MARDEN-F Module Config V3.20-01", "KAVOR MARDEN-F 模组设定程式 V3.20-01", "KAVOR MARDEN-F 模組設定程式 V3.20-01"}, // 1
    {"Start Scan Module!", "请先扫描模组!", "請先掃描模組!"}, // 2
    {"Cancel Process Module", "取消连线", "取消連線"}, // 3
    {"ID", "编号", "編號"}, // 4
    {"BaudRate", "通讯速度", "通訊速度"}, // 5
    {"Set Module Baud Rate (Reset)", "设定通讯速度(重置)", "設定通訊速度(重置)"}, // 6
    {"Process Module", "模组连线", "模組連線"}, // 7
    {"Exit", "结束", "結束"}, // 8
    {"Open COM", "开启串口", "開啟串口"}, // 9
    {"Error", "错误", "錯誤"}, // 10
    {"Scan Module", "扫描模组", "掃描模組"}, // 11
    {"S/N", "序号", "序號"}, // 12
    {"No", "流水号", "流水號"}, // 13
    {"VER", "版本", "版本"}, // 14
    {"Scan COM", "扫描串口", "掃描串口"}, // 15
    {"Get Module Info Ok. (COM", "读取模组资讯完成. (串口", "讀取模組資訊完成. (串口"}, // 16
    {"Get Module Info Error. (COM", "读取模组资讯错误. (串口", "讀取模組資訊錯誤. (串口"}, // 17
    {"Module Not Find", "模组没有连线", "模組沒有連線"}, // 18
    {"Set Module BaudRate", "设定模组通讯速度", "設定模組通訊速度"}, // 19
    {"Set Module BaudRate Ok", "设定模组通讯速度完成", "設定模組通訊速度完成"}, // 20
    {"Set Module BaudRate Error", "设定模组通讯速度错误", "設定模組通訊速度錯誤"}, // 21
    {"Customer", "注册单位", "註冊單位"}, // 22
    {"Clear Customer Register", "清除注册单位", "清除註冊單位"}, // 23
    {"Clear Customer Register Ok", "清除注册单位完成", "清除註冊單位完成"}, // 24
    {"Clear Customer Register Error", "清除注册单位错误", "清除註冊單位錯誤"}, // 25
};

const char kWebAddress[] = "www.kavor.example";

QString expectedText(int message, int language)
{
    QString text = QString::fromUtf8(kExpected[message][language]);
    if (message == 0)
        text += QLatin1String(kWebAddress);
    return text;
}

// Every byte is ASCII or part of a two-byte character of the code page's own range.
bool isCodePageText(const QByteArray &bytes, int language)
{
    for (int i = 0; i < bytes.size(); ++i) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80)
            continue;
        if (language == 0 || i + 1 >= bytes.size())
            return false;
        const auto trail = static_cast<unsigned char>(bytes[++i]);
        if (language == 1) {
            // GB2312 in EUC-CN form: both bytes A1..FE; GBK and GB18030 extensions fall outside.
            if (lead < 0xA1 || lead > 0xF7 || trail < 0xA1 || trail > 0xFE)
                return false;
        } else {
            if (lead < 0xA1 || lead > 0xF9 || !((trail >= 0x40 && trail <= 0x7E) || (trail >= 0xA1 && trail <= 0xFE)))
                return false;
        }
    }
    return true;
}

} // namespace

class TestMessageTable : public QObject {
    Q_OBJECT

private slots:
    void everyEntry_data();
    void everyEntry();
    void namedCases();
    void languageNames_data();
    void languageNames();

private:
    const MessageTable m_table;
};

void TestMessageTable::everyEntry_data()
{
    QTest::addColumn<int>("message");
    QTest::addColumn<int>("language");
    for (int message = 0; message < MessageTable::kMessageCount; ++message) {
        for (int language = 0; language < MessageTable::kLanguageCount; ++language)
            QTest::addRow("%d/%d", message, language) << message << language;
    }
}

void TestMessageTable::everyEntry()
{
    QFETCH(int, message);
    QFETCH(int, language);
    const QString expected = expectedText(message, language);
    const QByteArray &bytes = m_table.entry(message, language);

    QCOMPARE(m_table.text(message, language), expected);
    QVERIFY2(isCodePageText(bytes, language), bytes.toHex(' ').constData());

    // Decoding alone could hide a GBK-only or doubly mapped character; the bytes must be the
    // very encoding of the expected text.
    if (language == 0) {
        QCOMPARE(bytes, expected.toLatin1());
    } else {
        QTextCodec *codec = QTextCodec::codecForName(language == 1 ? "GB18030" : "Big5");
        QVERIFY(codec);
        QCOMPARE(bytes, codec->fromUnicode(expected));
    }
}

void TestMessageTable::namedCases()
{
    const QByteArray &startScanBig5 = m_table.entry(2, 2);
    QCOMPARE(startScanBig5.size(), 13);
    QCOMPARE(startScanBig5.back(), '!');

    QCOMPARE(m_table.text(14, 1), m_table.text(14, 2));
    QVERIFY(m_table.entry(14, 1) != m_table.entry(14, 2));
    QCOMPARE(m_table.entry(14, 1).size(), 4);

    // The company name and the web address stand three spaces apart in every language.
    for (int language = 0; language < MessageTable::kLanguageCount; ++language) {
        const QByteArray &maker = m_table.entry(0, language);
        QVERIFY(maker.startsWith("KAVOR"));
        QVERIFY(maker.endsWith(QByteArray("   ") + kWebAddress));
        QVERIFY(!maker.endsWith(QByteArray("    ") + kWebAddress));
    }

    // The ASCII punctuation inside the Chinese texts is one byte each.
    QCOMPARE(m_table.entry(6, 1).count('('), 1);
    QCOMPARE(m_table.entry(16, 2).count(". ("), 1);
    QCOMPARE(m_table.entry(17, 1).count(". ("), 1);
}

void TestMessageTable::languageNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("index");
    QTest::newRow("English") << QStringLiteral("English") << 0;
    QTest::newRow("ChineseGB") << QStringLiteral("ChineseGB") << 1;
    QTest::newRow("ChineseBIG5") << QStringLiteral("ChineseBIG5") << 2;
    QTest::newRow("wrong case") << QStringLiteral("chinesegb") << 0;
    QTest::newRow("upper case") << QStringLiteral("CHINESEBIG5") << 0;
    QTest::newRow("mixed case") << QStringLiteral("ChineseBig5") << 0;
    QTest::newRow("trailing space") << QStringLiteral("ChineseGB ") << 0;
    QTest::newRow("empty") << QString() << 0;
    QTest::newRow("other") << QStringLiteral("Deutsch") << 0;
}

void TestMessageTable::languageNames()
{
    QFETCH(QString, name);
    QFETCH(int, index);
    QCOMPARE(languageIndexForName(name), index);
}

QTEST_GUILESS_MAIN(TestMessageTable)
#include "tst_message_table.moc"
