// TStringList, the list of text lines that request headers and request bodies
// are built from. Only the list and its text form belong here.
#pragma once

#include <string>
#include <vector>

/// A list of text lines.
class TStringList : public std::vector<std::string> {
public:
    using std::vector<std::string>::vector;
    using std::vector<std::string>::operator=;
    /// The lines, each followed by CR LF; empty for an empty list.
    std::string Text() const;
};
