// Answers that are slow to find and change rarely, kept between runs in the
// user's cache directory beside a stamp of what they were found from.
#pragma once

#include <optional>
#include <string>

namespace wmi::lnx {

// Off unless the program turns it on: the window keeps no files besides the
// ones the user saves, while kestrane-cli, which starts anew for every
// command, keeps its answers.
void KeepAnswersBetweenRuns(bool on);

// The answer stored under name, when it was stored with this stamp (and
// answers are kept at all).
std::optional<std::string> CachedAnswer(const std::string& name, const std::string& stamp);
// Stores an answer (a line of text) for the next run; a cache directory that
// cannot be written only means the answer is found again.
void StoreAnswer(const std::string& name, const std::string& stamp, const std::string& answer);

}  // namespace wmi::lnx
