#pragma once
#include <cstring>
#include <string>

// The system's reason for an error number, as messages give it: " (No space left on device)".
inline std::string systemReason(int error) { return std::string(" (") + std::strerror(error) + ")"; }

// A message followed, on a line of its own, by a note; either alone when the other is empty.
inline std::string withNote(const std::string& text, const std::string& note) {
    return note.empty() ? text : text.empty() ? note : text + "\n" + note;
}

// The one failure channel to main: the complete text the user sees, prefix included.
class Error {
public:
    // What the message names: the input it ended, or something else (an output, or
    // no file at all). A message that does not name its input is followed by a line
    // that does, so that a run over several inputs tells which one failed.
    enum class Subject { other, input };

    explicit Error(std::string text, Subject about = Subject::other) : message(std::move(text)), subject(about) {}
    // The same failure with a note on a line of its own after the message.
    Error noted(const std::string& note) const { return Error(withNote(message, note), subject); }

    std::string message;
    Subject subject;
};
