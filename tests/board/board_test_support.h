#pragma once

#include <string>
#include <string_view>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

namespace vantrel::test {

inline QString qs(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Writes bytes as they stand; returns the file's path as UTF-8.
inline std::string writeBytes(const QString& folder, const QString& name, const QByteArray& bytes)
{
    const QString path = QDir(folder).filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path.toStdString();
}

}  // namespace vantrel::test
