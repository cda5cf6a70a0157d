#pragma once

#include "line_settings.h"

#include <QByteArray>
#include <QString>

// "ChineseGB" -> 1, "ChineseBIG5" -> 2, anything else -> 0 (English); exact and case-sensitive.
int languageIndexForName(const QString &name);

// Where the module was last found and which language was chosen: loaded at the start, saved when a scan's
// search has found the module and when the language is changed. Read by everyone; changed only through
// its verbs, by the session that runs the operations.
class SettingsStore {
public:
    // The place to try first: the port (0: none stored) and the line settings it is opened at. The text
    // and the index are kept apart, as stored: a pair that disagrees stays as it is (the text opens the
    // port, the index selects the list's entry).
    int portNumber() const { return m_portNumber; }
    const QByteArray &lineSettings() const { return m_lineSettings; }
    int lineSettingsIndex() const { return m_lineSettingsIndex; }
    const QString &languageName() const { return m_languageName; }
    int languageIndex() const { return m_languageIndex; }

    // Remembers in memory where the module is; saved only by saveScanSettings.
    void rememberPlace(int portNumber, const QByteArray &lineSettings, int lineSettingsIndex);
    // The same port at another entry of the line-settings table.
    void rememberLineSettings(int lineSettingsIndex);
    void selectLanguage(int index, const QString &name);

    // Never fails: anything missing, of the wrong type or out of range gives its default.
    void loadSettings();
    // False when the store could not be written; the values in memory serve on.
    bool saveScanSettings();
    bool saveLanguage();

private:
    int m_portNumber = 0;
    QByteArray m_lineSettings = kLineSettingsTable[kDefaultLineSettingsIndex];
    int m_lineSettingsIndex = kDefaultLineSettingsIndex;
    QString m_languageName = QStringLiteral("English");
    int m_languageIndex = 0;
};
