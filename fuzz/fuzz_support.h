#pragma once

#include <string>
#include <string_view>

#include "core/json.h"

namespace tavren::fuzz {

// The in-memory desktop every target starts from: applications, windows, trees, pixels, the
// clipboard and the focus, so that most methods find something to work on.
const Json& desktopFixture();

// What is wrong with one line of the service's output, or "" for a well-formed response: one
// JSON object holding a string "id", "version" 1, a boolean "ok" and exactly the "result" or
// the string "error" that "ok" calls for.
std::string responseLineProblem(std::string_view line);

// Prints the problem and the input, then aborts, so that the fuzzer keeps the input.
[[noreturn]] void fail(const std::string& problem, std::string_view input);

// Makes the process ready for a target: library logging dropped, named pasteboards kept in a
// private directory that is emptied now and then.
void prepareProcess();
void tidyPasteboardStore();

}  // namespace tavren::fuzz
