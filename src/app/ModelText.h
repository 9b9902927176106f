#pragma once
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <string>
#include <string_view>

namespace halyard {

// Paths travel to the core as the file system's bytes, with the platform's separator.
inline std::string toModelPath(const QString& path) {
    return QFile::encodeName(QDir::toNativeSeparators(path)).toStdString();
}

inline QString fromModelPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// Log lines, captions and the other texts of the core are UTF-8.
inline QString fromModelText(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace halyard
