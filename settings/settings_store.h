#pragma once

#include "line_settings.h"

#include <QByteArray>
#include <QString>

// "ChineseGB" -> 1, "ChineseBIG5" -> 2, anything else -> 0 (English); exact and case-sensitive.
int languageIndexForName(const QString &name);

// Where the module was last found and which language was chosen, for the whole run.
// The operations read and write the fields directly.
class SettingsStore {
public:
    int portNumber = 0; // 0: none stored
    QByteArray lineSettings = kLineSettingsTable[kDefaultLineSettingsIndex];
    int lineSettingsIndex = kDefaultLineSettingsIndex;
    QString languageName = QStringLiteral("English");
    int languageIndex = 0;
    bool moduleFound = false; // never stored

    // Never fails: anything missing, of the wrong type or out of range gives its default.
    void loadSettings();
    // False when the store could not be written; the values in memory serve on.
    bool saveScanSettings();
    bool saveLanguage();

    void selectLanguage(int index, const QString &name);
};
