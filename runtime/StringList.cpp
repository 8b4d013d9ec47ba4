#include "runtime/StringList.h"

std::string TStringList::Text() const {
    std::string text;
    for (const std::string& line : *this)
        text += line + "\r\n";
    return text;
}
