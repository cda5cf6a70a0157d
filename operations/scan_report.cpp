#include "scan_report.h"

#include "operation_results.h"

Q_LOGGING_CATEGORY(lcScan, "modulebench.scan", QtInfoMsg)

namespace {

constexpr int kLanguages = 3;

// Row by row: English, simplified Chinese, traditional Chinese (UTF-8).
const char *const kTexts[kReportTextCount][kLanguages] = {
    // NoDevice
    {"no device", "无设备", "無裝置"},
    // NoSuchPort
    {"no such port", "没有此端口", "沒有此連接埠"},
    // NotATerminal
    {"not a serial terminal", "不是串口终端设备", "不是序列埠終端裝置"},
    // PermissionDenied
    {"permission denied: on Debian, make the user a member of the group dialout "
     "(sudo adduser $USER dialout), then log in again",
     "权限不足：在 Debian 上请将用户加入 dialout 组（sudo adduser $USER dialout），然后重新登录",
     "權限不足：在 Debian 上請將使用者加入 dialout 群組（sudo adduser $USER dialout），然後重新登入"},
    // Busy
    {"held by another program", "已被其他程序占用", "已被其他程式佔用"},
    // BusyBy
    {"held by another program (%1, process %2)", "已被其他程序占用（%1，进程 %2）",
     "已被其他程式佔用（%1，行程 %2）"},
    // HungUpOrIoError
    {"hung up or input/output error", "连接已挂断或输入输出错误", "連線已掛斷或輸入輸出錯誤"},
    // LineSettingsRefused
    {"the device refused the line settings", "设备不接受此通讯设定", "裝置不接受此通訊設定"},
    // StaleSimulatorLink
    {"link left by a virtual module that is gone (modulebench-sim was killed): start it again or remove the link",
     "链接由已结束的虚拟模组留下（modulebench-sim 被强制结束）：请重新启动它或删除该链接",
     "連結由已結束的虛擬模組留下（modulebench-sim 被強制結束）：請重新啟動它或刪除該連結"},
    // NoAnswerAt
    {"opened, no answer at %1 (%2 requests)", "已打开，%1 无应答（%2 次请求）", "已開啟，%1 無回應（%2 次請求）"},
    // NoAnswerAtMany
    {"opened, no answer at %1 line settings (%2 requests)", "已打开，%1 种通讯设定均无应答（%2 次请求）",
     "已開啟，%1 種通訊設定均無回應（%2 次請求）"},
    // ModuleAnswered
    {"module answered", "模组已应答", "模組已回應"},
    // BadCheck
    {"answer with a bad check: noise on the line?", "应答校验错误：线路上有干扰？", "回應檢查碼錯誤：線路上有雜訊？"},
    // LateReplies
    {"only late answers to earlier requests: the module answers too slowly?", "只收到先前请求的迟到应答：模组应答太慢？",
     "只收到先前請求的遲到回應：模組回應太慢？"},
    // NoAnswer
    {"no answer", "无应答", "無回應"},
    // PermissionDeniedBare
    {"permission denied", "权限不足", "權限不足"},
    // PermissionDeniedOwner
    {"permission denied: the device belongs to %1, group %2, mode %3",
     "权限不足：设备属于 %1，组 %2，权限 %3", "權限不足：裝置屬於 %1，群組 %2，權限 %3"},
};

ReportText textFor(PortProblem problem)
{
    switch (problem) {
    case PortProblem::NoSuchPort:
        return ReportText::NoSuchPort;
    case PortProblem::NotATerminal:
        return ReportText::NotATerminal;
    case PortProblem::PermissionDenied:
        return ReportText::PermissionDenied;
    case PortProblem::Busy:
        return ReportText::Busy;
    case PortProblem::LineSettingsRefused:
        return ReportText::LineSettingsRefused;
    case PortProblem::StaleSimulatorLink:
        return ReportText::StaleSimulatorLink;
    case PortProblem::None:
    case PortProblem::HungUpOrIoError:
        break;
    }
    return ReportText::HungUpOrIoError;
}

} // namespace

QString reportText(ReportText text, int language)
{
    if (language < 0 || language >= kLanguages)
        language = 0;
    return QString::fromUtf8(kTexts[static_cast<int>(text)][language]);
}

QString permissionDeniedText(const PortStatus &status, int language)
{
    if (status.deviceGroup == QLatin1String("dialout"))
        return reportText(ReportText::PermissionDenied, language);
    if (status.deviceGroup.isEmpty() || status.deviceMode < 0)
        return reportText(ReportText::PermissionDeniedBare, language);
    return reportText(ReportText::PermissionDeniedOwner, language)
        .arg(status.deviceOwner, status.deviceGroup,
             QStringLiteral("%1").arg(status.deviceMode, 4, 8, QLatin1Char('0')));
}

QString deviceBesidePort(const PortStatus &status)
{
    return status.devicePath.compare(QStringLiteral("COM%1").arg(status.portNumber), Qt::CaseInsensitive) == 0
        ? QString()
        : status.devicePath;
}

QString portLabel(const PortStatus &status, int language)
{
    const QString port = QStringLiteral("COM%1").arg(status.portNumber);
    if (status.devicePath.isEmpty())
        return port + QStringLiteral(" (%1)").arg(reportText(ReportText::NoDevice, language));
    const QString device = deviceBesidePort(status);
    return device.isEmpty() ? port : port + QStringLiteral(" (%1)").arg(device);
}

QString portStateText(const ScanPortEntry &entry, int language)
{
    const PortStatus &status = entry.status;
    QString what;
    if (entry.answered) {
        what = reportText(ReportText::ModuleAnswered, language);
    } else if (entry.opened()) {
        what = entry.lineSettingsTried.size() == 1
            ? reportText(ReportText::NoAnswerAt, language)
                  .arg(QString::fromLatin1(entry.lineSettingsTried.first()))
                  .arg(entry.requests)
            : reportText(ReportText::NoAnswerAtMany, language).arg(entry.lineSettingsTried.size()).arg(entry.requests);
        // Noise, or a module too slow for the time-out, is not the same as silence.
        if (entry.badChecks > 0)
            what += QStringLiteral("; ") + reportText(ReportText::BadCheck, language);
        else if (entry.lateReplies > 0)
            what += QStringLiteral("; ") + reportText(ReportText::LateReplies, language);
        // Refused line settings, or a line lost while it was open, may be why nothing answered.
        if (status.problem != PortProblem::None)
            what += QStringLiteral("; ") + reportText(textFor(status.problem), language);
    } else if (status.problem == PortProblem::Busy && status.holderPid > 0) {
        // One pass: a % in the program's name is no place for the process number.
        what = reportText(ReportText::BusyBy, language)
                   .arg(status.holderName.isEmpty() ? QStringLiteral("?") : status.holderName,
                        QString::number(status.holderPid));
    } else if (status.problem == PortProblem::PermissionDenied) {
        what = permissionDeniedText(status, language);
    } else {
        what = reportText(textFor(status.problem), language);
    }
    return what;
}

QString scanReportLine(const ScanPortEntry &entry, int language)
{
    return portLabel(entry.status, language) + QStringLiteral(": ") + portStateText(entry, language);
}

QStringList scanReportLines(const ScanReport &report, int language)
{
    QStringList lines;
    lines.reserve(report.size());
    for (const ScanPortEntry &entry : report)
        lines << scanReportLine(entry, language);
    return lines;
}

const char *replyKindKey(FrameReply::Kind kind)
{
    switch (kind) {
    case FrameReply::Kind::Good: return "good";
    case FrameReply::Kind::BadCheck: return "bad-check";
    case FrameReply::Kind::OtherRequest: return "late-reply";
    case FrameReply::Kind::TimedOut: return "no-answer";
    }
    return "no-answer";
}

QString replyKindText(FrameReply::Kind kind, int language)
{
    switch (kind) {
    case FrameReply::Kind::BadCheck: return reportText(ReportText::BadCheck, language);
    case FrameReply::Kind::OtherRequest: return reportText(ReportText::LateReplies, language);
    case FrameReply::Kind::TimedOut: return reportText(ReportText::NoAnswer, language);
    case FrameReply::Kind::Good: break;
    }
    return {};
}
