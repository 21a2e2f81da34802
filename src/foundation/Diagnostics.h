#pragma once
#include <string>

#include "foundation/Error.h"

// The input a run is working on, for the messages about it. A batch without
// progress lines (-cout, several runs side by side) must still tell which input a
// message is about, so a message that does not name its input is followed by a
// line that does: "(while compressing NAME)" or "(while restoring NAME)".
class InputInHand {
public:
    // name: the input as messages name it ("standard input" for the stream).
    InputInHand(bool compressing, const std::string& name);
    ~InputInHand();
    InputInHand(const InputInHand&) = delete;
    InputInHand& operator=(const InputInHand&) = delete;
};

// The text, followed on a line of its own by the line that names the input in
// hand, unless the text names it already or no input is in hand.
std::string aboutInput(const std::string& text, Error::Subject subject = Error::Subject::other);

// Writes a warning about the input in hand to standard error, with the line that
// names the input where the text does not, and a line end.
void printWarning(const std::string& text, Error::Subject subject = Error::Subject::other);
