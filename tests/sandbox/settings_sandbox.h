#pragma once

#include <QStringList>

#include <memory>

// A private settings store for one test: what the store writes while the object lives goes
// somewhere of its own, and nothing the user stored is read or left changed.
// Linux: XDG_CONFIG_HOME and XDG_CONFIG_DIRS point into temporary folders.
// Windows: the store's registry keys are emptied, and what they held is put back at the end.
class SettingsSandbox {
public:
    SettingsSandbox();
    ~SettingsSandbox();
    SettingsSandbox(const SettingsSandbox &) = delete;
    SettingsSandbox &operator=(const SettingsSandbox &) = delete;

    bool isValid() const;
    // What the store has written so far: files below the folder, or value names under the key.
    QStringList written() const;
    // Leaves what the store wrote in place at the end, for a look from outside the test
    // (only where the whole machine is the test's own, such as a private wine prefix).
    void keepWhatWasWritten();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
