#include "app/modregistry.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace lumeval::modRegistry {

namespace {

// A damaged file reads as far as it can be parsed (FormatError) and is
// rewritten whole by the next write, so only AccessError counts as failure.

// Where a key path lives: QSettings(organisation, application) and a group
// inside it ("Software\Varnel\Lumeval\Settings" is group "Settings").
struct KeyLocation {
    QSettings::Scope scope;
    QString organisation;
    QString application;
    QString group;
};

std::optional<KeyLocation> locate(RegistryRoot root, const QString& keyPath) {
    QSettings::Scope scope;
    switch (root) {
        case RegistryRoot::CurrentUser:
            scope = QSettings::UserScope;
            break;
        case RegistryRoot::LocalMachine:
            scope = QSettings::SystemScope;
            break;
        default:
            return std::nullopt;
    }
    QString path = keyPath;
    path.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const QStringList parts = path.split(QLatin1Char('\\'));
    if (parts.size() < 3 || parts[0].compare(QLatin1String("Software"), Qt::CaseInsensitive) != 0) {
        return std::nullopt;
    }
    for (const QString& part : parts) {
        if (part.isEmpty()) return std::nullopt;
    }
    return KeyLocation{scope, parts[1], parts[2], parts.mid(3).join(QLatin1Char('/'))};
}

// A value name addresses one value of the key, never a subkey.
bool validValueName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\'));
}

QString keyOf(const KeyLocation& where, const QString& valueName) {
    return where.group.isEmpty() ? valueName : where.group + QLatin1Char('/') + valueName;
}

}  // namespace

QString ReadSetting(const QString& ValueName, const QString& DefaultValue) {
    return RegReadString(RegistryRoot::CurrentUser, RegistryKeyPath, ValueName, DefaultValue);
}

void WriteSetting(const QString& ValueName, const QString& Value) {
    RegWriteString(RegistryRoot::CurrentUser, RegistryKeyPath, ValueName, Value);
}

QString RegReadString(RegistryRoot Root, const QString& KeyPath, const QString& ValueName,
                      const QString& DefaultValue) {
    const std::optional<KeyLocation> where = locate(Root, KeyPath);
    if (!where || !validValueName(ValueName)) return DefaultValue;
    QSettings settings(where->scope, where->organisation, where->application);
    settings.setFallbacksEnabled(false);
    if (settings.status() == QSettings::AccessError) return DefaultValue;
    const QVariant value = settings.value(keyOf(*where, ValueName));
    // Only text values count; lists, numbers and byte arrays are another type.
    if (value.typeId() != QMetaType::QString) return DefaultValue;
    QString text = value.toString();
    if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0) text.truncate(nul);
    return text;
}

bool RegWriteString(RegistryRoot Root, const QString& KeyPath, const QString& ValueName,
                    const QString& Value) {
    const std::optional<KeyLocation> where = locate(Root, KeyPath);
    if (!where || !validValueName(ValueName)) return false;
    QSettings settings(where->scope, where->organisation, where->application);
    settings.setFallbacksEnabled(false);
    if (settings.status() == QSettings::AccessError || !settings.isWritable()) return false;
    settings.setValue(keyOf(*where, ValueName), Value);
    settings.sync();
    return settings.status() != QSettings::AccessError;
}

bool RegDeleteSettings(RegistryRoot Root, const QString& KeyPath) {
    const std::optional<KeyLocation> where = locate(Root, KeyPath);
    if (!where) return false;
    QSettings settings(where->scope, where->organisation, where->application);
    settings.setFallbacksEnabled(false);
    if (settings.status() == QSettings::AccessError || !settings.isWritable()) return false;
    if (!where->group.isEmpty()) settings.beginGroup(where->group);
    const bool exists = !settings.childKeys().isEmpty();
    const bool hasSubkeys = !settings.childGroups().isEmpty();
    if (!where->group.isEmpty()) settings.endGroup();
    if (!exists || hasSubkeys) return false;
    if (where->group.isEmpty()) {
        settings.clear();
    } else {
        settings.remove(where->group);
    }
    settings.sync();
    return settings.status() != QSettings::AccessError;
}

}  // namespace lumeval::modRegistry
