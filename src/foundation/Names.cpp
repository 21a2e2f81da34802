#include "foundation/Names.h"

std::string baseName(const std::string& path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string displayName(const std::string& path) {
    return baseName(path).substr(0, 34);
}

std::string inputName(const std::string& name) { return name.empty() ? "standard input" : name; }
