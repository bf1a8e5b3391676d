// modRegistry: the editor's few persistent settings (the window placement),
// text values under one settings key of the current user.
//
// A key path "Software\<organisation>\<application>\<group>..." is stored
// through QSettings(organisation, application) in that group: the registry on
// Windows, an ini file under ~/.config on Linux. Nothing here reports an
// error to the caller: reads fall back to the default, writes fail silently
// (RegWriteString says whether it worked).
#pragma once

#include <QString>
#include <cstdint>

namespace lumeval {

/// Roots of the key paths (the registry's root handles).
enum class RegistryRoot : std::uint32_t {
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
};

namespace modRegistry {

/// The editor's settings key.
inline const QString RegistryKeyPath = QStringLiteral("Software\\Varnel\\Lumeval\\Settings");

/// The stored value of the editor's settings key, or DefaultValue.
QString ReadSetting(const QString& ValueName, const QString& DefaultValue);
/// Stores the value under the editor's settings key; failures are ignored.
void WriteSetting(const QString& ValueName, const QString& Value);

/// The value when the key and a text value of that name exist, cut at its
/// first NUL character; DefaultValue otherwise. The key is never created.
QString RegReadString(RegistryRoot Root, const QString& KeyPath, const QString& ValueName,
                      const QString& DefaultValue = QString());
/// Creates the key when needed and stores a text value; True when it was stored.
bool RegWriteString(RegistryRoot Root, const QString& KeyPath, const QString& ValueName,
                    const QString& Value);
/// Deletes the key with its values; True when a key was deleted. A missing
/// key, or one that still has subkeys, is left alone (False).
bool RegDeleteSettings(RegistryRoot Root, const QString& KeyPath);

}  // namespace modRegistry
}  // namespace lumeval
