#include "options.hpp"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "pelmora/calc/arg.hpp"

namespace pelmora::centile {

void bad_usage(const std::string& message) {
    std::fprintf(stderr, "pelmora-centile: %s\nTry 'pelmora-centile --help'.\n", message.c_str());
    std::exit(2);
}

std::pair<std::string, std::string> flag_and_value(int argc, char** argv, int& i, std::string arg) {
    if (arg.rfind("--", 0) != 0) bad_usage("unexpected argument '" + arg + "'");
    std::string value;
    if (const auto eq = arg.find('='); eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg.resize(eq);
    } else if (i + 1 < argc) {
        value = argv[++i];
    } else {
        bad_usage(arg + " needs a value");
    }
    return {arg, value};
}

void keep_option(Options& opts, std::pair<std::string, std::string> option, std::initializer_list<const char*> known,
                 const std::string& unknown_ending) {
    bool ok = false;
    for (const char* k : known) ok = ok || option.first == k;
    if (!ok) bad_usage("unknown option " + option.first + unknown_ending);
    if (!opts.emplace(option).second) bad_usage(option.first + " given twice");
}

double number_option(const std::string& flag, const std::string& text) {
    double v = 0;
    if (!calc::Arg::parse_number(text, v)) bad_usage(flag + ": not a number: '" + text + "'");
    if (std::isinf(v)) bad_usage(flag + ": beyond the largest number: '" + text + "'");
    return v;
}

double code_option(const std::string& flag, const std::string& text,
                   const std::vector<std::pair<std::string_view, int>>& texts) {
    for (const auto& [t, code] : texts) {
        if (text == t) return code;
    }
    double v = 0;
    if (calc::Arg::parse_number(text, v)) return v;
    std::string known;
    for (const auto& [t, code] : texts) known += (known.empty() ? "" : ", ") + std::string(t);
    bad_usage(flag + ": unknown value '" + text + "' (expected a code or one of: " + known + ")");
}

std::optional<std::string> take_option(Options& opts, const char* flag) {
    const auto it = opts.find(flag);
    if (it == opts.end()) return std::nullopt;
    std::string v = it->second;
    opts.erase(it);
    return v;
}

std::string need_option(Options& opts, const char* flag) {
    auto v = take_option(opts, flag);
    if (!v) bad_usage(std::string("missing ") + flag);
    return *v;
}

calc::Base base_option(Options& opts) {
    const std::string text = need_option(opts, "--base");
    const auto base = calc::base_from_text(text);
    if (!base) {
        bad_usage("--base: unknown base '" + text +
                  "' (expected United Kingdom, Sweden, New Zealand, Australia, uk, swe, nz or au)");
    }
    return *base;
}

calc::Mother mother_options(Options& opts, calc::Base base) {
    calc::Mother m{.base = base};
    m.wt = number_option("--wt", need_option(opts, "--wt"));
    m.ht = number_option("--ht", need_option(opts, "--ht"));
    std::vector<std::pair<std::string_view, int>> sexes;
    for (const auto& s : calc::sex_texts) sexes.emplace_back(s.text, s.code);
    m.sex = code_option("--sex", need_option(opts, "--sex"), sexes);
    std::vector<std::pair<std::string_view, int>> groups;
    for (const auto& g : calc::ethnic_groups(base)) groups.emplace_back(g.text, g.code);
    m.eth = code_option("--eth", need_option(opts, "--eth"), groups);
    std::vector<std::pair<std::string_view, int>> parities;
    int code = 0;
    for (const auto t : calc::parity_texts()) parities.emplace_back(t, code++);
    m.par = code_option("--par", need_option(opts, "--par"), parities);
    return m;
}

int finish_output(int status) {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        const int e = errno;
        std::fprintf(stderr, "pelmora-centile: writing the output failed%s%s\n", e ? ": " : "",
                     e ? std::strerror(e) : "");
        return 2;
    }
    return status;
}

}  // namespace pelmora::centile
