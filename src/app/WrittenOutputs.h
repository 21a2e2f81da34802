#pragma once
#include <set>
#include <string>

// The outputs one run has written, by the file each name resolves to (symlinks
// and "." and ".." followed). Output names derived from inputs can coincide, as
// they are cut at the first ".wav" or ".qo" of the whole path: a later input
// whose output this run already wrote must not replace it.
class WrittenOutputs {
public:
    // Throws Error when the run already wrote the named output.
    void check(const std::string& name) const;
    // Before an input is processed: notes whether anything stands under its output name.
    void before(const std::string& name);
    // After it: the output counts as written when something stands under the name
    // now and either the input succeeded or nothing stood there before.
    void after(const std::string& name, bool succeeded);

private:
    std::set<std::string> written;
    bool existedBefore = false;
};
