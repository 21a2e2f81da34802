#pragma once
#include <set>
#include <string>

#include "app/FileIdentity.h"

// The outputs one run has written, by the file each name leads to. Output names
// derived from inputs can coincide, as they are cut at the first ".wav" or ".qo"
// of the whole path: a later input whose output this run already wrote must not
// replace it.
class WrittenOutputs {
public:
    // An output name taken for one input, with what is needed to record it afterwards.
    struct Claim {
        std::string name;  // empty: standard output, which is never recorded
        bool existedBefore = false;
    };

    // Throws Error when the run already wrote the named output.
    Claim claim(const std::string& name) const;
    // After the input: its output counts as written when something stands under
    // the name now and either the input succeeded or nothing stood there before.
    void record(const Claim& claim, bool succeeded);

private:
    std::set<FileIdentity> written;
};
