#include "accessible_texts.h"

#include <QWidget>

namespace {

const AccessibleText kTexts[] = {
    {"frmModule",
     {},
     {QStringLiteral("Finds the reader module on a serial port and shows its serial number, version and customer "
                     "register"),
      QStringLiteral("在串口上寻找读卡模组，显示其序号、版本和注册单位"),
      QStringLiteral("在串口上尋找讀卡模組，顯示其序號、版本和註冊單位")}},
    {"pnMsg",
     {},
     {QStringLiteral("Status of the last operation"), QStringLiteral("上次操作的状态"),
      QStringLiteral("上次操作的狀態")}},
    {"shComm",
     {QStringLiteral("Communication indicator"), QStringLiteral("通讯指示灯"), QStringLiteral("通訊指示燈")},
     {QStringLiteral("Yellow after success, red after a failure, blinking while a scan runs"),
      QStringLiteral("成功后为黄色，失败后为红色，扫描时闪烁"),
      QStringLiteral("成功後為黃色，失敗後為紅色，掃描時閃爍")}},
    {"pnSerial",
     {},
     {QStringLiteral("Serial number of the module"), QStringLiteral("模组的序号"), QStringLiteral("模組的序號")}},
    {"pnVersion",
     {},
     {QStringLiteral("Firmware version of the module"), QStringLiteral("模组的韧体版本"),
      QStringLiteral("模組的韌體版本")}},
    {"btnScan",
     {},
     {QStringLiteral("Searches COM1 to COM16 for the module and reads its serial number, version and customer "
                     "register"),
      QStringLiteral("在 COM1 至 COM16 上搜索模组，读取序号、版本和注册单位"),
      QStringLiteral("在 COM1 至 COM16 上搜尋模組，讀取序號、版本和註冊單位")}},
    {"lblBaudRate",
     {},
     {QStringLiteral("Label of the line settings list"), QStringLiteral("通讯设定列表的标签"),
      QStringLiteral("通訊設定列表的標籤")}},
    {"cmbBaudRate",
     {QStringLiteral("Line settings"), QStringLiteral("通讯设定"), QStringLiteral("通訊設定")},
     {QStringLiteral("Baud rate, parity, data bits and stop bits; the baud rate button sets the module to the "
                     "selected entry"),
      QStringLiteral("波特率、校验位、数据位和停止位；设定通讯速度按钮把模组设为所选项"),
      QStringLiteral("鮑率、同位元、資料位元和停止位元；設定通訊速度按鈕把模組設為所選項")}},
    {"chkLock",
     {QStringLiteral("Scan at the stored line settings only"), QStringLiteral("仅以储存的通讯设定扫描"),
      QStringLiteral("僅以儲存的通訊設定掃描")},
     {QStringLiteral("While checked, the scan tries each port only at the stored line settings; otherwise at all "
                     "twelve"),
      QStringLiteral("勾选时，扫描在每个串口只尝试储存的通讯设定；否则尝试全部十二种"),
      QStringLiteral("勾選時，掃描在每個串口只嘗試儲存的通訊設定；否則嘗試全部十二種")}},
    {"btnBaudRate",
     {},
     {QStringLiteral("Sets the module to the selected line settings; the module resets"),
      QStringLiteral("把模组设为所选的通讯设定；模组会重置"),
      QStringLiteral("把模組設為所選的通訊設定；模組會重置")}},
    {"pnCustomer",
     {},
     {QStringLiteral("Customer register of the module"), QStringLiteral("模组的注册单位"),
      QStringLiteral("模組的註冊單位")}},
    {"btnClear",
     {},
     {QStringLiteral("Clears the customer register of the module"), QStringLiteral("清除模组的注册单位"),
      QStringLiteral("清除模組的註冊單位")}},
    // Each language button is named in its own language, whatever the window's language.
    {"btnEng",
     {QStringLiteral("English"), QStringLiteral("English"), QStringLiteral("English")},
     {QStringLiteral("Shows the window in English"), QStringLiteral("以英文显示窗口"),
      QStringLiteral("以英文顯示視窗")}},
    {"btnGB",
     {QStringLiteral("简体中文"), QStringLiteral("简体中文"), QStringLiteral("简体中文")},
     {QStringLiteral("Shows the window in simplified Chinese"), QStringLiteral("以简体中文显示窗口"),
      QStringLiteral("以簡體中文顯示視窗")}},
    {"btnBIG5",
     {QStringLiteral("繁體中文"), QStringLiteral("繁體中文"), QStringLiteral("繁體中文")},
     {QStringLiteral("Shows the window in traditional Chinese"), QStringLiteral("以繁体中文显示窗口"),
      QStringLiteral("以繁體中文顯示視窗")}},
    {"btnExit",
     {},
     {QStringLiteral("Closes the program"), QStringLiteral("关闭程式"), QStringLiteral("關閉程式")}},
    {"pnKAVOR",
     {},
     {QStringLiteral("Maker and web address"), QStringLiteral("厂商与网址"), QStringLiteral("廠商與網址")}},
};

} // namespace

const AccessibleText *accessibleTexts(int *count)
{
    *count = int(std::size(kTexts));
    return kTexts;
}

void applyAccessibleTexts(QWidget &window, int language)
{
    const int column = language >= 0 && language < 3 ? language : 0;
    for (const AccessibleText &row : kTexts) {
        const QString name = QLatin1String(row.control);
        QWidget *control = window.objectName() == name ? &window : window.findChild<QWidget *>(name);
        if (!control)
            continue;
        if (!row.name[column].isEmpty())
            control->setAccessibleName(row.name[column]);
        control->setAccessibleDescription(row.description[column]);
    }
}
