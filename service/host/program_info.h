// What every Corvane program says about itself: its version, and its
// answer to "--help" and "--version".
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::service {

// The release, "4.1": the version the service shows and the package carries.
std::string VersionText();

// When the program's only argument is "--help" or "--version": prints the
// usage text (or "<program> (Corvane) <version>") on standard output and
// returns 0, the exit status. nullopt for any other command line, which the
// program then handles as before.
std::optional<int> AnswerHelpOrVersion(int argc, char** argv, std::string_view program, std::string_view usage);

}  // namespace corvane::service
