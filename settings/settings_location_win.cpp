#include "settings_location.h"

namespace {

// The 32-bit view, so a 64-bit build shares the key that the 32-bit program wrote
// (under Wow6432Node on 64-bit Windows).
std::unique_ptr<QSettings> openKey()
{
    return std::make_unique<QSettings>(QStringLiteral("HKEY_LOCAL_MACHINE\\Software\\KAVOR\\ModuleBench"),
                                       QSettings::Registry32Format);
}

} // namespace

std::unique_ptr<QSettings> openSettingsForWriting()
{
    return openKey();
}

std::vector<std::unique_ptr<QSettings>> openSettingsForReading()
{
    std::vector<std::unique_ptr<QSettings>> sources;
    sources.push_back(openKey());
    return sources;
}
