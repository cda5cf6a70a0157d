#include "window_rig.h"

#include "module_window.h"
#include "settings_store.h"
#include "window_fixture.h"
#include "startup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTest>

// Built as the program builds them, after the same application set-up; the window goes first.
struct WindowRig::Tool : WindowTool<> {};

WindowRig::WindowRig()
{
    m_home.linkAllPortsToNothing();
}

WindowRig::~WindowRig()
{
    stop();
    for (auto &module : m_modules)
        module->stop();
}

bool WindowRig::isValid() const
{
    return m_home.isValid() && m_logs.isValid();
}

SimProcess *WindowRig::addModule(int com, const QStringList &options)
{
    const QString log = m_logs.filePath(QStringLiteral("COM%1.log").arg(com));
    auto module = std::make_unique<SimProcess>(options + QStringList{QStringLiteral("--log"), log});
    if (!module->start()) {
        m_lastError = QStringLiteral("modulebench-sim for COM%1 did not start: %2").arg(com).arg(module->errorOutput());
        return nullptr;
    }
    m_home.linkPort(com, module->slavePath());
    m_moduleOnPort.insert(com, module.get());
    m_modules.push_back(std::move(module));
    return m_modules.back().get();
}

void WindowRig::unplug(int com)
{
    if (SimProcess *module = m_moduleOnPort.take(com))
        module->stop();
    // Not left pointing at the gone terminal, whose number the next pseudo-terminal may take.
    m_home.linkPort(com, m_home.nothingPath(com));
}

bool WindowRig::start()
{
    stop();
    setUpApplication();
    m_tool = std::make_unique<Tool>();
    m_tool->create().show();
    return QTest::qWaitForWindowExposed(m_tool->window.get());
}

bool WindowRig::restart()
{
    return start();
}

void WindowRig::stop()
{
    if (!m_tool)
        return;
    m_tool->window->close();
    m_tool.reset();
}

TfrmModule &WindowRig::window() const
{
    return *m_tool->window;
}

void WindowRig::click(const QString &button)
{
    auto *target = window().findChild<QPushButton *>(button);
    if (!target)
        qFatal("no push button %s", qPrintable(button));
    QTest::mouseClick(target, Qt::LeftButton);
}

QString WindowRig::text(const QString &control) const
{
    if (const auto *label = window().findChild<QLabel *>(control))
        return label->text();
    if (const auto *button = window().findChild<QPushButton *>(control))
        return button->text();
    qFatal("no control %s with a text", qPrintable(control));
    return {};
}

QString WindowRig::toolTip(const QString &control) const
{
    const QWidget *widget = window().findChild<QWidget *>(control);
    if (!widget)
        qFatal("no control %s", qPrintable(control));
    return widget->toolTip();
}

QColor WindowRig::indicator() const
{
    const QWidget *shape = window().findChild<QWidget *>(QStringLiteral("shComm"));
    if (!shape)
        qFatal("no shComm");
    return shape->property("brushColor").value<QColor>();
}

int WindowRig::listIndex() const
{
    return window().findChild<QComboBox *>(QStringLiteral("cmbBaudRate"))->currentIndex();
}

void WindowRig::chooseListIndex(int index)
{
    auto *list = window().findChild<QComboBox *>(QStringLiteral("cmbBaudRate"));
    list->setFocus(Qt::TabFocusReason);
    for (int step = 0; step < 2 * list->count() && list->currentIndex() != index; ++step)
        QTest::keyClick(list, list->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
}

bool WindowRig::lockChecked() const
{
    return window().findChild<QCheckBox *>(QStringLiteral("chkLock"))->isChecked();
}

void WindowRig::setLock(bool checked)
{
    auto *lock = window().findChild<QCheckBox *>(QStringLiteral("chkLock"));
    for (int step = 0; step < 2 && lock->isChecked() != checked; ++step)
        QTest::mouseClick(lock, Qt::LeftButton, {}, lock->rect().center());
}

QMap<QString, QString> WindowRig::storedValues() const
{
    QMap<QString, QString> values;
    QFile file(m_home.settingsFile());
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return values;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        const int equals = line.indexOf(QLatin1Char('='));
        if (line.startsWith(QLatin1Char('[')) || equals <= 0)
            continue;
        QString value = line.mid(equals + 1).trimmed();
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) && value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
        values.insert(line.left(equals).trimmed(), value);
    }
    return values;
}

namespace {

// What each read of the line returned, in order: an "rx" line carries it in hexadecimal before the " |".
QList<QByteArray> readsOf(const SimProcess &module)
{
    QList<QByteArray> reads;
    for (const QString &line : module.log().split(QLatin1Char('\n'))) {
        const int rx = line.indexOf(QLatin1String(" rx "));
        if (rx < 0)
            continue;
        const int bar = line.indexOf(QLatin1String(" |"), rx);
        reads << QByteArray::fromHex(line.mid(rx + 4, bar < 0 ? -1 : bar - rx - 4).toLatin1());
    }
    return reads;
}

} // namespace

QList<QByteArray> requestsHeard(const SimProcess &module)
{
    const QByteArray received = readsOf(module).join();
    QList<QByteArray> requests;
    int start = received.indexOf(FrameLayer::kStartByte);
    while (start >= 0) {
        const int end = received.indexOf(FrameLayer::kEndByte, start);
        if (end < 0)
            break;
        const QByteArray frame = received.mid(start, end - start + 1);
        const int restart = frame.lastIndexOf(FrameLayer::kStartByte);
        const QByteArray last = frame.mid(restart);
        if (last.size() >= 4) {
            const QByteArray text = last.mid(1, last.size() - 4);
            if (FrameLayer::buildFrame(text) == last)
                requests << text;
        }
        start = received.indexOf(FrameLayer::kStartByte, end + 1);
    }
    return requests;
}

int requestsReadWhole(const SimProcess &module)
{
    int whole = 0;
    for (const QByteArray &read : readsOf(module)) {
        const int start = read.indexOf(FrameLayer::kStartByte);
        if (start >= 0 && read.indexOf(FrameLayer::kEndByte, start) > start)
            ++whole;
    }
    return whole;
}

void WindowRig::writeStoredPlace(int port, int index, const char *lineSettings)
{
    SettingsStore store;
    store.rememberPlace(port, lineSettings, index);
    store.saveScanSettings();
}

void WindowRig::writeStoredLanguage(const QString &name)
{
    SettingsStore store;
    store.selectLanguage(languageIndexForName(name), name);
    store.saveLanguage();
}
