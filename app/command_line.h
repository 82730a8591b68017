#pragma once

#include <string>

// What every program answers alike: --help prints its usage on standard
// output, --version its name and the project's version, both with exit code
// 0; an option it does not know prints the usage on standard error with exit
// code 2. Needs neither a display nor a sound server.

// The exit code when the arguments ask for --help or --version (which win
// wherever they stand, up to a "--"), else -1.
int AnswerHelpOrVersion(int argc, char** argv, const char* program, const char* usage);

// Writes "<program>: <problem>" and the usage to standard error; returns 2.
int UsageError(const char* program, const std::string& problem, const char* usage);
