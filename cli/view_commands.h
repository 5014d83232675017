// The command line's jobs besides the conversion: to-map, net, globe and pattern.
#pragma once

// runViewCommand's answer when argv names no such job: the conversion's arguments follow.
constexpr int kNotAViewCommand = -2;

// Runs the job that argv[1] names and returns its exit status.
int runViewCommand(int argc, const char* const* argv);
