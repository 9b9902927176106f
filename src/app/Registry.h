#pragma once
#include <QSettings>
#include <QString>
#include <optional>

namespace halyard {

// The program's per-user settings key: integers, flags and strings under their value
// names. A value stored with the wrong type fails the read with
// "Invalid data type for '<name>'".
class Registry {
public:
    static constexpr const char* Organization = "Corvane Software";
    static constexpr const char* Application = "Halyard";

    Registry();

    // True when the key holds any value (a first run finds none).
    bool exists() const;

    std::optional<int> readInteger(const char* name) const;
    std::optional<bool> readFlag(const char* name) const; // any non-zero integer is set
    std::optional<QString> readString(const char* name) const;

    void writeInteger(const char* name, int value);
    void writeFlag(const char* name, bool value);
    void writeString(const char* name, const QString& value);

    QSettings& settings() { return settings_; }

private:
    QSettings settings_;
};

} // namespace halyard
