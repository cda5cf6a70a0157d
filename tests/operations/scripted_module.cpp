#include "scripted_module.h"

#include "line_settings.h"

void FakeClock::sleep(int ms)
{
    m_log << QStringLiteral("sleep %1").arg(ms);
    advance(ms);
}

int ScriptedModule::count(const QByteArray &command) const
{
    int n = 0;
    for (const QByteArray &request : requests)
        n += request == command ? 1 : 0;
    return n;
}

bool ScriptedModule::open(int portNumber, const QByteArray &lineSettings)
{
    if (m_open)
        ++openViolations;
    const bool opened = presentPorts.contains(portNumber) && !(refuseOpen && refuseOpen(portNumber));
    m_log << QStringLiteral("open %1 %2%3").arg(portNumber).arg(QString::fromLatin1(lineSettings),
                                                                  opened ? QString() : QStringLiteral(" failed"));
    m_status = PortStatus{};
    m_status.portNumber = portNumber;
    m_status.devicePath = QStringLiteral("/dev/scripted/%1").arg(portNumber);
    if (!presentPorts.contains(portNumber))
        m_status.problem = PortProblem::NoSuchPort;
    else if (!opened)
        m_status.problem = PortProblem::Busy;
    if (!opened)
        return false;
    ++opens;
    m_open = true;
    m_port = portNumber;
    m_lineSettings = lineSettings;
    m_output.clear();
    return true;
}

void ScriptedModule::close()
{
    if (!m_open)
        ++openViolations;
    ++closes;
    m_open = false;
    m_input.clear();
    m_log << QStringLiteral("close");
}

void ScriptedModule::writeByte(char value)
{
    m_output.append(value);
    m_clock.advance(1);
    if (value == 0x0D)
        requestComplete();
}

void ScriptedModule::writeBlock(const char *bytes, int count)
{
    m_output.append(bytes, count);
    m_clock.advance(5);
}

bool ScriptedModule::readByte(char &value)
{
    if (m_input.isEmpty()) {
        m_clock.advance(1);
        return false;
    }
    value = m_input.at(0);
    m_input.remove(0, 1);
    return true;
}

QByteArray ScriptedModule::frame(const QByteArray &text)
{
    std::uint8_t check = 0x0F;
    for (char c : text)
        check ^= static_cast<std::uint8_t>(c);
    return QByteArray(1, 0x0F) + text + QByteArray::number(check >> 4, 16).toUpper()
           + QByteArray::number(check & 0x0F, 16).toUpper() + QByteArray(1, 0x0D);
}

void ScriptedModule::requestComplete()
{
    const int start = m_output.lastIndexOf(char(0x0F));
    const QByteArray request = m_output.mid(start);
    m_output.clear();
    if (start < 0 || request.size() < 4)
        return;
    const QByteArray text = request.mid(1, request.size() - 4);
    // A request with a wrong check would be ignored by a real module; record it as such.
    const QByteArray command = frame(text) == request ? text : QByteArray("bad check: ") + text;
    requests << command;
    m_log << QStringLiteral("send ") + QString::fromLatin1(command);
    if (const auto reply = answer(command))
        m_input.append(frame(*reply));
}

std::optional<QByteArray> ScriptedModule::answer(const QByteArray &command)
{
    if (m_port != modulePort || m_lineSettings != moduleLineSettings)
        return std::nullopt;
    const QByteArray name = command.left(3);
    if (neverAnswered.contains(command) || neverAnswered.contains(name))
        return std::nullopt;
    int &left = unansweredFirst[name];
    if (left > 0) {
        --left;
        return std::nullopt;
    }
    if (name == "S01")
        return name + serial + QByteArray(serialReplyPadding, 'x');
    if (name == "V01")
        return name + version;
    if (name == "G06")
        return name + customer;
    if (name == "F06" && command.size() == 35) {
        customer = QByteArray(30, ' ');
        return name;
    }
    if (name == "E01" && command.size() == 4) {
        bool isHex = false;
        const int index = QByteArray(1, command.at(3)).toInt(&isHex, 16);
        if (!isHex || index >= kLineSettingsCount)
            return std::nullopt;
        // The reply goes out at the old line settings; the module then listens at the new ones.
        moduleLineSettings = kLineSettingsTable[index];
        return name;
    }
    return std::nullopt;
}
