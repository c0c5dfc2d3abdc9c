#pragma once
// pelmora-centile curves (one pregnancy's centile curves as CSV) and chart (the same curves
// with measured points, drawn).

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "options.hpp"

namespace pelmora::centile {

/// A mother, centiles and a gestation range from --base, --wt, --ht, --sex, --eth, --par,
/// --centiles (default 10,50,90), --from and --to (days or weeks+days; default 24+0 to 42+0).
struct CurveRequest {
    calc::Mother mother;
    std::vector<double> centiles;
    calc::DayRange days;
};
CurveRequest curve_options(Options& opts);

/// A subcommand's options (argv[0] is its name): --flag VALUE or --flag=VALUE among `known`,
/// -o for --output, and with `points` any number of --point.
Options command_options(int argc, char** argv, std::initializer_list<const char*> known,
                        std::vector<std::string>* points);

/// `bytes` to standard output (no path, or "-") or whole into the file at `path`; the exit
/// status.
int write_output(const std::optional<std::string>& path, std::string_view bytes);

/// argv[0] is "curves". Returns the exit status.
int run_curves(int argc, char** argv);

/// argv[0] is "chart": the chart as SVG or PNG into -o FILE. Returns the exit status.
int run_chart(int argc, char** argv);

}  // namespace pelmora::centile
