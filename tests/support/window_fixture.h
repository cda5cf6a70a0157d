#pragma once

// What every test of the real window builds the same way: the tool as the program assembles it (one
// session, its window), the palettes the window is tried under, and the application palette put back.
// The settings sandbox beside it is ScopedConfigHome (Linux, with the port links) or SettingsSandbox;
// both restore the environment they changed.

#include "module_session.h"
#include "module_window.h"

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QString>

#include <memory>
#include <optional>

// The session and its window, made as the program makes them; the window goes before the session.
template <class Window = TfrmModule> struct WindowTool {
    ModuleSession session;
    std::unique_ptr<Window> window;

    // A new window on the session (the old one closed first), not yet shown.
    Window &create()
    {
        window.reset();
        window = std::make_unique<Window>(session);
        return *window;
    }
};

// A dark desktop, as the screenshots show it.
inline QPalette darkPalette()
{
    QPalette p;
    p.setColor(QPalette::Window, QColor(53, 53, 53));
    p.setColor(QPalette::WindowText, Qt::white);
    p.setColor(QPalette::Base, QColor(35, 35, 35));
    p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    p.setColor(QPalette::Text, Qt::white);
    p.setColor(QPalette::Button, QColor(53, 53, 53));
    p.setColor(QPalette::ButtonText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Light, QColor(90, 90, 90));
    p.setColor(QPalette::Midlight, QColor(70, 70, 70));
    p.setColor(QPalette::Mid, QColor(40, 40, 40));
    p.setColor(QPalette::Dark, QColor(25, 25, 25));
    p.setColor(QPalette::Shadow, Qt::black);
    return p;
}

// High contrast, white on black with a bright cyan selection, and black on white with a purple one.
inline QPalette highContrastPalette(bool black)
{
    const QColor ground = black ? Qt::black : Qt::white;
    const QColor ink = black ? Qt::white : Qt::black;
    QPalette p(ink, ground, ink, ink, ink, ink, ink, ground, ground);
    p.setColor(QPalette::Button, ground);
    p.setColor(QPalette::ButtonText, ink);
    p.setColor(QPalette::Highlight, black ? QColor(26, 235, 255) : QColor(55, 0, 110));
    p.setColor(QPalette::HighlightedText, ground);
    return p;
}

// "dark", "high contrast black", "high contrast white"; nothing for the style's own.
inline std::optional<QPalette> paletteOf(const QString &name)
{
    if (name == QLatin1String("dark"))
        return darkPalette();
    if (name == QLatin1String("high contrast black"))
        return highContrastPalette(true);
    if (name == QLatin1String("high contrast white"))
        return highContrastPalette(false);
    return std::nullopt;
}

// Puts the application's palette back as it was when the object was made.
class ScopedPalette {
public:
    ScopedPalette() : m_palette(QApplication::palette()) {}
    ~ScopedPalette() { QApplication::setPalette(m_palette); }
    ScopedPalette(const ScopedPalette &) = delete;
    ScopedPalette &operator=(const ScopedPalette &) = delete;
    // Applies the named palette (see paletteOf); the style's own for any other name.
    void use(const QString &name)
    {
        if (const auto chosen = paletteOf(name))
            QApplication::setPalette(*chosen);
    }

private:
    QPalette m_palette;
};
