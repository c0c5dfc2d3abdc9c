#pragma once
// pelmora-centile's options: numbers, codes by their list texts, and a mother's inputs.

#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pelmora/calc/curves.hpp"

namespace pelmora::centile {

using Options = std::map<std::string, std::string>;

/// Says what is wrong on stderr, points to --help and exits with status 2.
[[noreturn]] void bad_usage(const std::string& message);

/// The option's text read by the calculators' number reader; bad_usage otherwise.
double number_option(const std::string& flag, const std::string& text);

/// A code given by its list text or as a number.
double code_option(const std::string& flag, const std::string& text,
                   const std::vector<std::pair<std::string_view, int>>& texts);

/// The option `arg` (argv[i], or what stands for it) as its flag and value, from "--flag VALUE" (i
/// moves past the value) or "--flag=VALUE"; bad_usage for a word that is no option or a flag
/// without its value.
std::pair<std::string, std::string> flag_and_value(int argc, char** argv, int& i, std::string arg);
/// Keeps the flag's value in `opts`; bad_usage for a flag not in `known` (the message ends with
/// `unknown_ending`) or one given twice.
void keep_option(Options& opts, std::pair<std::string, std::string> option, std::initializer_list<const char*> known,
                 const std::string& unknown_ending = "");

/// Takes `flag` out of `opts`, if given.
std::optional<std::string> take_option(Options& opts, const char* flag);
/// Takes `flag` out of `opts`; bad_usage when it is missing.
std::string need_option(Options& opts, const char* flag);

/// --base, by name or tag.
calc::Base base_option(Options& opts);
/// --wt, --ht, --sex, --eth (by the base's list text or code) and --par, taken out of `opts`.
calc::Mother mother_options(Options& opts, calc::Base base);

/// Flushes standard output; status 2 with a message when the output could not be written.
int finish_output(int status);

}  // namespace pelmora::centile
