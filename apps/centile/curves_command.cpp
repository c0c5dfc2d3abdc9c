#include "curves_command.hpp"

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>

#include "batch.hpp"
#include "options.hpp"
#include "pelmora/chart/file.hpp"
#include "pelmora/calc/curves.hpp"

namespace pelmora::centile {
namespace {

// A gestation as days ("168") or completed weeks and days ("24+0").
int gestation_option(const std::string& flag, const std::string& text) {
    const auto plus = text.find('+');
    double weeks = 0, days = 0;
    if (plus == std::string::npos) {
        days = number_option(flag, text);
    } else {
        weeks = number_option(flag, text.substr(0, plus));
        days = number_option(flag, text.substr(plus + 1));
        if (!(days >= 0 && days < 7)) bad_usage(flag + ": the days after + go from 0 to 6: '" + text + "'");
    }
    const double total = weeks * 7 + days;
    if (!(std::fabs(total) <= 1e6) || total != std::floor(total) || (plus != std::string::npos && weeks < 0)) {
        bad_usage(flag + ": not a whole number of days: '" + text + "'");
    }
    return static_cast<int>(total);
}

std::vector<double> centiles_option(const std::optional<std::string>& text) {
    if (!text) return {calc::usual_centiles.begin(), calc::usual_centiles.end()};
    std::vector<double> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text->find(',', start);
        out.push_back(number_option("--centiles", text->substr(start, comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

std::string centile_column(double c) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "p%.15g", c);
    return buf;
}

}  // namespace

CurveRequest curve_options(Options& opts) {
    CurveRequest r;
    r.mother = mother_options(opts, base_option(opts));
    r.centiles = centiles_option(take_option(opts, "--centiles"));
    if (const auto from = take_option(opts, "--from")) r.days.first = gestation_option("--from", *from);
    if (const auto to = take_option(opts, "--to")) r.days.last = gestation_option("--to", *to);
    try {
        calc::check_curve_request(r.centiles, r.days);
    } catch (const calc::Failure& f) {
        bad_usage(f.subject());
    }
    return r;
}

Options command_options(int argc, char** argv, std::initializer_list<const char*> known,
                        std::vector<std::string>* points) {
    Options opts;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-o") arg = "--output";
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
        if (points && arg == "--point") {
            points->push_back(value);
            continue;
        }
        bool ok = false;
        for (const char* k : known) ok = ok || arg == k;
        if (!ok) bad_usage("unknown option " + arg + " for " + argv[0]);
        if (!opts.emplace(arg, value).second) bad_usage(arg + " given twice");
    }
    return opts;
}

int write_output(const std::optional<std::string>& path, std::string_view bytes) {
    if (!path || *path == "-") {
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        return finish_output(0);
    }
    const std::string error = chart::write_whole(*path, bytes);
    if (!error.empty()) {
        std::fprintf(stderr, "pelmora-centile: cannot write %s: %s\n", path->c_str(), error.c_str());
        return 2;
    }
    return 0;
}

int run_curves(int argc, char** argv) {
    Options opts = command_options(
        argc, argv, {"--base", "--wt", "--ht", "--sex", "--eth", "--par", "--centiles", "--from", "--to", "--output"},
        nullptr);
    const auto output = take_option(opts, "--output");
    const CurveRequest r = curve_options(opts);
    if (!opts.empty()) bad_usage("unknown option " + opts.begin()->first);
    calc::Curves c;
    try {
        c = calc::curves(r.mother, r.centiles, r.days);
    } catch (const calc::Failure& f) {
        std::fprintf(stderr, "pelmora-centile: the calculation failed: %s (error %d)\n", f.what(), f.number());
        return 1;
    }
    std::string csv = "gest,weeks";
    for (const double p : c.centiles) csv += "," + centile_column(p);
    csv += '\n';
    for (int day = c.days.first; day <= c.days.last; ++day) {
        csv += std::to_string(day) + ',' + std::to_string(day / 7) + '+' + std::to_string(day % 7);
        for (std::size_t k = 0; k < c.centiles.size(); ++k) {
            const double w = c.at(k, day);
            csv += ',';
            if (!std::isnan(w)) csv += format_number(w);
        }
        csv += '\n';
    }
    return write_output(output, csv);
}

}  // namespace pelmora::centile
