#pragma once
#include <string>

// The one failure channel to main: the complete text the user sees, prefix included.
class Error {
public:
    explicit Error(std::string text) : message(std::move(text)) {}
    std::string message;
};
