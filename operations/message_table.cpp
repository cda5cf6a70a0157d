#include "message_table.h"

#include <QTextCodec>

namespace {

// Ours, in a reserved domain, so message 0 never points at somebody else's site.
constexpr char kWebAddress[] = "www.kavor.example";

// Row k holds message k as English (ASCII), ChineseGB (GB2312) and ChineseBIG5 (BIG5) bytes.
// The code-page bytes are escaped so no editor or compiler charset can alter them; the comment shows the text.
// Message 0 gets the web address appended when the table is built.
constexpr const char *kEntries[MessageTable::kMessageCount * MessageTable::kLanguageCount] = {
    // 0
    "KAVOR Technology Corp.   ",
    "KAVOR\xB9\xC9\xB7\xDD\xD3\xD0\xCF\xDE\xB9\xAB\xCB\xBE   ", // KAVOR股份有限公司 + 3 spaces
    "KAVOR\xAA\xD1\xA5\xF7\xA6\xB3\xAD\xAD\xA4\xBD\xA5\x71   ", // KAVOR股份有限公司 + 3 spaces
    // 1
    "KAVOR MARDEN-F Module Config V3.20-01",
    "KAVOR MARDEN-F \xC4\xA3\xD7\xE9\xC9\xE8\xB6\xA8\xB3\xCC\xCA\xBD V3.20-01", // KAVOR MARDEN-F 模组设定程式 V3.20-01
    "KAVOR MARDEN-F \xBC\xD2\xB2\xD5\xB3\x5D\xA9\x77\xB5\x7B\xA6\xA1 V3.20-01", // KAVOR MARDEN-F 模組設定程式 V3.20-01
    // 2
    "Start Scan Module!",
    "\xC7\xEB\xCF\xC8\xC9\xA8\xC3\xE8\xC4\xA3\xD7\xE9!", // 请先扫描模组!
    "\xBD\xD0\xA5\xFD\xB1\xBD\xB4\x79\xBC\xD2\xB2\xD5!", // 請先掃描模組!
    // 3
    "Cancel Process Module",
    "\xC8\xA1\xCF\xFB\xC1\xAC\xCF\xDF", // 取消连线
    "\xA8\xFA\xAE\xF8\xB3\x73\xBD\x75", // 取消連線
    // 4
    "ID",
    "\xB1\xE0\xBA\xC5", // 编号
    "\xBD\x73\xB8\xB9", // 編號
    // 5
    "BaudRate",
    "\xCD\xA8\xD1\xB6\xCB\xD9\xB6\xC8", // 通讯速度
    "\xB3\x71\xB0\x54\xB3\x74\xAB\xD7", // 通訊速度
    // 6
    "Set Module Baud Rate (Reset)",
    "\xC9\xE8\xB6\xA8\xCD\xA8\xD1\xB6\xCB\xD9\xB6\xC8(\xD6\xD8\xD6\xC3)", // 设定通讯速度(重置)
    "\xB3\x5D\xA9\x77\xB3\x71\xB0\x54\xB3\x74\xAB\xD7(\xAD\xAB\xB8\x6D)", // 設定通訊速度(重置)
    // 7
    "Process Module",
    "\xC4\xA3\xD7\xE9\xC1\xAC\xCF\xDF", // 模组连线
    "\xBC\xD2\xB2\xD5\xB3\x73\xBD\x75", // 模組連線
    // 8
    "Exit",
    "\xBD\xE1\xCA\xF8", // 结束
    "\xB5\xB2\xA7\xF4", // 結束
    // 9
    "Open COM",
    "\xBF\xAA\xC6\xF4\xB4\xAE\xBF\xDA", // 开启串口
    "\xB6\x7D\xB1\xD2\xA6\xEA\xA4\x66", // 開啟串口
    // 10
    "Error",
    "\xB4\xED\xCE\xF3", // 错误
    "\xBF\xF9\xBB\x7E", // 錯誤
    // 11
    "Scan Module",
    "\xC9\xA8\xC3\xE8\xC4\xA3\xD7\xE9", // 扫描模组
    "\xB1\xBD\xB4\x79\xBC\xD2\xB2\xD5", // 掃描模組
    // 12
    "S/N",
    "\xD0\xF2\xBA\xC5", // 序号
    "\xA7\xC7\xB8\xB9", // 序號
    // 13
    "No",
    "\xC1\xF7\xCB\xAE\xBA\xC5", // 流水号
    "\xAC\x79\xA4\xF4\xB8\xB9", // 流水號
    // 14
    "VER",
    "\xB0\xE6\xB1\xBE", // 版本
    "\xAA\xA9\xA5\xBB", // 版本
    // 15
    "Scan COM",
    "\xC9\xA8\xC3\xE8\xB4\xAE\xBF\xDA", // 扫描串口
    "\xB1\xBD\xB4\x79\xA6\xEA\xA4\x66", // 掃描串口
    // 16
    "Get Module Info Ok. (COM",
    "\xB6\xC1\xC8\xA1\xC4\xA3\xD7\xE9\xD7\xCA\xD1\xB6\xCD\xEA\xB3\xC9. (\xB4\xAE\xBF\xDA", // 读取模组资讯完成. (串口
    "\xC5\xAA\xA8\xFA\xBC\xD2\xB2\xD5\xB8\xEA\xB0\x54\xA7\xB9\xA6\xA8. (\xA6\xEA\xA4\x66", // 讀取模組資訊完成. (串口
    // 17
    "Get Module Info Error. (COM",
    "\xB6\xC1\xC8\xA1\xC4\xA3\xD7\xE9\xD7\xCA\xD1\xB6\xB4\xED\xCE\xF3. (\xB4\xAE\xBF\xDA", // 读取模组资讯错误. (串口
    "\xC5\xAA\xA8\xFA\xBC\xD2\xB2\xD5\xB8\xEA\xB0\x54\xBF\xF9\xBB\x7E. (\xA6\xEA\xA4\x66", // 讀取模組資訊錯誤. (串口
    // 18
    "Module Not Find",
    "\xC4\xA3\xD7\xE9\xC3\xBB\xD3\xD0\xC1\xAC\xCF\xDF", // 模组没有连线
    "\xBC\xD2\xB2\xD5\xA8\x53\xA6\xB3\xB3\x73\xBD\x75", // 模組沒有連線
    // 19
    "Set Module BaudRate",
    "\xC9\xE8\xB6\xA8\xC4\xA3\xD7\xE9\xCD\xA8\xD1\xB6\xCB\xD9\xB6\xC8", // 设定模组通讯速度
    "\xB3\x5D\xA9\x77\xBC\xD2\xB2\xD5\xB3\x71\xB0\x54\xB3\x74\xAB\xD7", // 設定模組通訊速度
    // 20
    "Set Module BaudRate Ok",
    "\xC9\xE8\xB6\xA8\xC4\xA3\xD7\xE9\xCD\xA8\xD1\xB6\xCB\xD9\xB6\xC8\xCD\xEA\xB3\xC9", // 设定模组通讯速度完成
    "\xB3\x5D\xA9\x77\xBC\xD2\xB2\xD5\xB3\x71\xB0\x54\xB3\x74\xAB\xD7\xA7\xB9\xA6\xA8", // 設定模組通訊速度完成
    // 21
    "Set Module BaudRate Error",
    "\xC9\xE8\xB6\xA8\xC4\xA3\xD7\xE9\xCD\xA8\xD1\xB6\xCB\xD9\xB6\xC8\xB4\xED\xCE\xF3", // 设定模组通讯速度错误
    "\xB3\x5D\xA9\x77\xBC\xD2\xB2\xD5\xB3\x71\xB0\x54\xB3\x74\xAB\xD7\xBF\xF9\xBB\x7E", // 設定模組通訊速度錯誤
    // 22
    "Customer",
    "\xD7\xA2\xB2\xE1\xB5\xA5\xCE\xBB", // 注册单位
    "\xB5\xF9\xA5\x55\xB3\xE6\xA6\xEC", // 註冊單位
    // 23
    "Clear Customer Register",
    "\xC7\xE5\xB3\xFD\xD7\xA2\xB2\xE1\xB5\xA5\xCE\xBB", // 清除注册单位
    "\xB2\x4D\xB0\xA3\xB5\xF9\xA5\x55\xB3\xE6\xA6\xEC", // 清除註冊單位
    // 24
    "Clear Customer Register Ok",
    "\xC7\xE5\xB3\xFD\xD7\xA2\xB2\xE1\xB5\xA5\xCE\xBB\xCD\xEA\xB3\xC9", // 清除注册单位完成
    "\xB2\x4D\xB0\xA3\xB5\xF9\xA5\x55\xB3\xE6\xA6\xEC\xA7\xB9\xA6\xA8", // 清除註冊單位完成
    // 25
    "Clear Customer Register Error",
    "\xC7\xE5\xB3\xFD\xD7\xA2\xB2\xE1\xB5\xA5\xCE\xBB\xB4\xED\xCE\xF3", // 清除注册单位错误
    "\xB2\x4D\xB0\xA3\xB5\xF9\xA5\x55\xB3\xE6\xA6\xEC\xBF\xF9\xBB\x7E", // 清除註冊單位錯誤
};

QString decode(QTextCodec *codec, const QByteArray &bytes)
{
    // The English column is ASCII and needs no codec; a missing codec still shows something.
    return codec ? codec->toUnicode(bytes) : QString::fromLatin1(bytes);
}

} // namespace

MessageTable::MessageTable()
{
    for (int message = 0; message < kMessageCount; ++message) {
        for (int language = 0; language < kLanguageCount; ++language) {
            const int i = message * kLanguageCount + language;
            m_bytes[i] = QByteArray(kEntries[i]);
            if (message == 0)
                m_bytes[i] += kWebAddress;
        }
    }
}

void MessageTable::decodeColumn(int language) const
{
    // GB18030 is a superset of GB2312 and decodes every GB2312 text the same way.
    QTextCodec *const codec = language == 1   ? QTextCodec::codecForName("GB18030")
                              : language == 2 ? QTextCodec::codecForName("Big5")
                                              : nullptr;
    for (int message = 0; message < kMessageCount; ++message) {
        const int i = message * kLanguageCount + language;
        m_texts[i] = decode(codec, m_bytes[i]);
    }
    m_decoded[language] = true;
}

const QByteArray &MessageTable::entry(int message, int language) const
{
    return m_bytes[message * kLanguageCount + language];
}

const QString &messageText(Message message, int language)
{
    thread_local const MessageTable table;
    return table.text(message, language);
}

const QString &MessageTable::text(int message, int language) const
{
    // A language index that names no column reads English.
    if (language < 0 || language >= kLanguageCount)
        language = 0;
    if (!m_decoded[language])
        decodeColumn(language);
    return m_texts[message * kLanguageCount + language];
}
