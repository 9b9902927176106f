#include "app/Registry.h"

#include <QMetaType>

#include "model/Error.h"

namespace halyard {

namespace {
[[noreturn]] void invalidType(const char* name) {
    throw Error(std::string("Invalid data type for '") + name + "'");
}
} // namespace

Registry::Registry() : settings_(QSettings::NativeFormat, QSettings::UserScope, Organization, Application) {}

bool Registry::exists() const {
    return !settings_.allKeys().isEmpty();
}

// Stores that keep every value as text (the INI files of Unix desktops) hand integers
// back as strings; those count as integers when they are one, whole.
std::optional<int> Registry::readInteger(const char* name) const {
    const QVariant value = settings_.value(name);
    if (!value.isValid())
        return std::nullopt;
    switch (value.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Bool:
        return value.toInt();
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        bool ok = false;
        const int result = value.toInt(&ok);
        if (ok)
            return result;
        break;
    }
    case QMetaType::QString: {
        bool ok = false;
        const int result = value.toString().toInt(&ok, 10);
        if (ok)
            return result;
        break;
    }
    default:
        break;
    }
    invalidType(name);
}

std::optional<bool> Registry::readFlag(const char* name) const {
    const std::optional<int> value = readInteger(name);
    if (!value)
        return std::nullopt;
    return *value != 0;
}

std::optional<QString> Registry::readString(const char* name) const {
    const QVariant value = settings_.value(name);
    if (!value.isValid())
        return std::nullopt;
    if (value.metaType().id() != QMetaType::QString)
        invalidType(name);
    return value.toString();
}

void Registry::writeInteger(const char* name, int value) {
    settings_.setValue(name, value);
}

void Registry::writeFlag(const char* name, bool value) {
    settings_.setValue(name, value ? 1 : 0);
}

void Registry::writeString(const char* name, const QString& value) {
    settings_.setValue(name, value);
}

} // namespace halyard
