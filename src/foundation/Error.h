#pragma once
#include <string>

// The one failure channel to main: the complete text the user sees, prefix included.
class Error {
public:
    // What the message names: the input it ended, or something else (an output, or
    // no file at all). A message that does not name its input is followed by a line
    // that does, so that a run over several inputs tells which one failed.
    enum class Subject { other, input };

    explicit Error(std::string text, Subject about = Subject::other) : message(std::move(text)), subject(about) {}
    std::string message;
    Subject subject;
};
