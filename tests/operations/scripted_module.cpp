#include "scripted_module.h"

#include "line_settings.h"

#include <algorithm>
#include <chrono>

std::uint32_t FakeClock::milliseconds()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<std::uint32_t>(m_now);
}

void FakeClock::sleep(int ms)
{
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_log << QStringLiteral("sleep %1").arg(ms);
    }
    pass(ms);
}

void FakeClock::advance(int ms)
{
    pass(ms);
}

void FakeClock::expectThreads(int count)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_expected = count;
    m_gaveUp = false;
    moveIfAllWait();
}

void FakeClock::join()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_joined.insert(std::this_thread::get_id());
    if (m_expected > 0)
        --m_expected;
    moveIfAllWait();
}

void FakeClock::leave()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_joined.erase(std::this_thread::get_id());
    moveIfAllWait();
}

bool FakeClock::gaveUpWaiting() const
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_gaveUp;
}

void FakeClock::pass(int ms)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    const bool joined = m_joined.count(std::this_thread::get_id()) > 0;
    if (!joined && m_joined.empty()) {
        m_now += static_cast<std::uint64_t>(ms);
        return;
    }
    // A thread that has not joined but waits beside those that have takes part for its wait.
    if (!joined)
        ++m_visitors;
    Waiter waiter;
    waiter.until = m_now + static_cast<std::uint64_t>(ms);
    m_waiters.push_back(&waiter);
    moveIfAllWait();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!waiter.woken) {
        if (m_moved.wait_until(lock, deadline) == std::cv_status::timeout && !waiter.woken) {
            // A thread that was expected never came: time moves on without it.
            m_gaveUp = true;
            m_expected = 0;
            moveIfAllWait();
        }
    }
    if (!joined)
        --m_visitors;
}

void FakeClock::moveIfAllWait()
{
    const size_t takingPart = m_joined.size() + size_t(m_visitors);
    if (m_waiters.empty() || m_expected > 0 || m_waiters.size() < takingPart)
        return;
    std::uint64_t next = UINT64_MAX;
    for (const Waiter *waiter : m_waiters)
        next = std::min(next, waiter->until);
    m_now = std::max(m_now, next);
    for (auto it = m_waiters.begin(); it != m_waiters.end();) {
        if ((*it)->until <= m_now) {
            (*it)->woken = true;
            it = m_waiters.erase(it);
        } else {
            ++it;
        }
    }
    m_moved.notify_all();
}

void ScriptedModule::copyScript(const ScriptedModule &from)
{
    presentPorts = from.presentPorts;
    refuseOpen = from.refuseOpen;
    modulePort = from.modulePort;
    moduleLineSettings = from.moduleLineSettings;
    serial = from.serial;
    version = from.version;
    customer = from.customer;
    neverAnswered = from.neverAnswered;
    unansweredFirst = from.unansweredFirst;
    serialReplyPadding = from.serialReplyPadding;
    otherModules = from.otherModules;
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
    if (value == 0x0F)
        m_requestStart = m_clock.milliseconds();
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
    requestTimes.append({m_requestStart, m_clock.milliseconds()});
    m_log << QStringLiteral("send ") + QString::fromLatin1(command);
    const auto reply = answer(command);
    requestsAnswered.append(reply.has_value());
    if (reply)
        m_input.append(frame(*reply));
}

std::optional<QByteArray> ScriptedModule::answer(const QByteArray &command)
{
    const bool mainModule = m_port == modulePort && m_lineSettings == moduleLineSettings;
    const auto other = otherModules.constFind(m_port);
    if (!mainModule && (other == otherModules.cend() || other->lineSettings != m_lineSettings))
        return std::nullopt;
    const QByteArray &serialNumber = mainModule ? serial : other->serial;
    const QByteArray name = command.left(3);
    if (neverAnswered.contains(command) || neverAnswered.contains(name))
        return std::nullopt;
    int &left = unansweredFirst[name];
    if (left > 0) {
        --left;
        return std::nullopt;
    }
    if (name == "S01")
        return name + serialNumber + QByteArray(serialReplyPadding, 'x');
    if (name == "V01")
        return name + version;
    if (name == "G06")
        return name + customer;
    // The further modules are only read.
    if (!mainModule)
        return std::nullopt;
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
