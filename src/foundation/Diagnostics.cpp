#include "foundation/Diagnostics.h"

#include <cstdio>

namespace {

// The line naming the input in hand; empty when none is.
std::string namingLine;

}  // namespace

InputInHand::InputInHand(bool compressing, const std::string& name) {
    namingLine = std::string(compressing ? "(while compressing " : "(while restoring ") + name + ")";
}

InputInHand::~InputInHand() { namingLine.clear(); }

std::string aboutInput(const std::string& text, Error::Subject subject) {
    if (subject == Error::Subject::input || namingLine.empty()) return text;
    return text + "\n" + namingLine;
}

void printWarning(const std::string& text, Error::Subject subject) {
    std::fputs((aboutInput(text, subject) + "\n").c_str(), stderr);
    std::fflush(stderr);
}
