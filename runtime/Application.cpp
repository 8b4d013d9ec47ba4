#include "runtime/Application.h"

namespace {

std::string& Title() {
    static std::string title;
    return title;
}

} // namespace

void SetApplicationTitle(const std::string& title) {
    Title() = title;
}

const std::string& ApplicationTitle() {
    return Title();
}
