#pragma once

// Program-wide option flags, set by main from the command line and read everywhere.
extern bool stdoutMode;
extern bool stdinMode;
extern bool debugMode;
extern bool overwriteMode;
extern bool headerMode;
