#pragma once
#include "protocol/ratings.h"

namespace plv {
// Runs the console of one build; returns the exit code.
int runConsole(int argc, char **argv, const BuildData &build);
} // namespace plv
