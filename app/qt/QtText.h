// Texts cross between the loader and Qt as 8-bit text in the system's
// encoding, byte for byte where file names are concerned.
#pragma once

#include <QString>
#include <string>

inline QString ToQt(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

inline std::string FromQt(const QString& text) {
    return text.toLocal8Bit().toStdString();
}
