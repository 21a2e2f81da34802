#include "foundation/Options.h"

bool stdoutMode = false;
bool stdinMode = false;
bool debugMode = false;
bool overwriteMode = false;
bool headerMode = true;
