#pragma once

// What every test of the real window builds the same way: the tool as the program assembles it (one
// session, its window), the palettes the window is tried under, and the application palette put back;
// WindowFixture puts them beside a settings sandbox: ScopedConfigHome (Linux, with the port links) or
// SettingsSandbox, both of which restore the environment they changed.

#include "module_session.h"
#include "module_window.h"
#include "sample_palettes.h"

#include <QApplication>
#include <QPalette>
#include <QString>

#include <memory>

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

// One test's set-up for the real window, made in this order and undone in reverse: the settings sandbox,
// the application palette to put back, the tool.
template <class Sandbox, class Window = TfrmModule> struct WindowFixture {
    Sandbox sandbox;
    ScopedPalette palette;
    WindowTool<Window> tool;
};
