// pelmora-centile: a customised birth-weight centile from the command line.

#include <array>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "batch.hpp"
#include "curves_command.hpp"
#include "options.hpp"
#include "pelmora/calc/calculators.hpp"

namespace {

using namespace pelmora;
using namespace pelmora::centile;
using calc::Arg;
using calc::Base;

constexpr const char* usage = R"(Usage:
  pelmora-centile --base BASE --bwt GRAMS (--gest DAYS | --gest-weeks W [--gest-days D])
                  --wt KG --ht CM --sex SEX --eth GROUP --par PARITY
  pelmora-centile --csv [--classify] < input.csv > output.csv
  pelmora-centile curves BASE-AND-MOTHER [--centiles P,...] [--from GEST] [--to GEST] [-o FILE]
  pelmora-centile chart BASE-AND-MOTHER [--point GEST:GRAMS[:LABEL]]... [--edd YYYY-MM-DD]
                  [--centiles P,...] [--from GEST] [--to GEST] -o FILE.svg|FILE.png
  pelmora-centile --help

Computes a baby's customised birth-weight centile against one of four reference populations.

  --base BASE     "United Kingdom", "Sweden", "New Zealand", "Australia", or uk, swe, nz, au
  --bwt GRAMS     birth weight
  --gest DAYS     gestational age in days, or
  --gest-weeks W  completed weeks, with --gest-days D extra days (default 0)
  --wt KG         mother's booking weight
  --ht CM         mother's height
  --sex SEX       Male, Female, or a code (1 male, any other value female)
  --eth GROUP     the base's ethnic group by its text (e.g. European, Pakistani) or code
  --par PARITY    0, 1, 2, 3, "4 or more", or another code (taking the "4 or more" term)

  --classify      also give the class: SGA below the 10th centile, LGA above the 90th,
                  AGA otherwise (--sga-below P and --lga-above P set other thresholds)

Prints the centile and the intermediate values of the calculation.

--csv reads CSV on standard input and writes CSV on standard output. The header must name the
columns base,bwt,gest,wt,ht,sex,eth,par (any order; other columns pass through). gest is in
days. An empty field is a missing input; any other field is passed to the calculator as text.
Each row gets the columns centile, gest_out, ht_out, z, optimal_weight (class with
--classify) and error, which no input column may be named. A quote opens a quoted field only
as a field's first character; a row with too few or too many fields fails alone.
Exit status: 0 when every row was computed, 1 when some row failed, 2 for unusable input
(or when the input cannot be read or the output cannot be written).
curves writes one pregnancy's centile curves as CSV: the columns gest (days), weeks (24+0, ...)
and one per centile (p10, p50, p90), the weight in grams at that centile on that day.
BASE-AND-MOTHER is --base, --wt, --ht, --sex, --eth and --par as above. --centiles takes
centiles strictly between 0 and 100 (default 10,50,90); --from and --to take days (168) or
weeks+days (24+0), from 0 to 350 days (default 24+0 to 42+0).
chart draws them on an A4 landscape chart (SVG, or PNG drawn from it by Qt's SVG renderer), the
10th and 90th centile solid, the 50th dashed, the band between shaded, other centiles dotted, with
the measured points: GEST in days or weeks+days, GRAMS, and a label such as EFW (the label
"birth" marks the birth weight), each with its centile and class. --edd adds a row of dates.
The output file (-o, or standard output for curves) appears whole or not at all.
curves and chart exit 0 on success, 1 when the calculation fails, 2 for bad input.

Without --csv: 0 on success, 1 when the calculation fails, 2 for bad options or when the
output cannot be written.
)";

void print_row(const char* label, double v) { std::printf("  %-26s %s\n", label, centile::format_number(v).c_str()); }

calc::Thresholds thresholds_option(std::map<std::string, std::string>& opts, bool classify) {
    calc::Thresholds t;
    for (const auto& [flag, slot] : {std::pair{"--sga-below", &t.sga_below}, std::pair{"--lga-above", &t.lga_above}}) {
        if (const auto it = opts.find(flag); it != opts.end()) {
            if (!classify) bad_usage(std::string(flag) + " sets a class threshold: it needs --classify");
            *slot = number_option(flag, it->second);
            opts.erase(it);
        }
    }
    if (!(t.sga_below <= t.lga_above)) bad_usage("--sga-below must not exceed --lga-above");
    return t;
}

int single(std::map<std::string, std::string>& opts, bool classify) {
    auto take = [&](const char* flag) { return take_option(opts, flag); };
    auto need = [&](const char* flag) { return need_option(opts, flag); };

    const Base base = base_option(opts);
    double bwt = number_option("--bwt", need("--bwt"));
    double gest = 0;
    const auto days = take("--gest");
    const auto weeks = take("--gest-weeks");
    const auto extra = take("--gest-days");
    if (days && (weeks || extra)) bad_usage("give either --gest or --gest-weeks/--gest-days, not both");
    if (days) {
        gest = number_option("--gest", *days);
    } else if (weeks) {
        gest = number_option("--gest-weeks", *weeks) * 7 + (extra ? number_option("--gest-days", *extra) : 0.0);
    } else {
        bad_usage("missing --gest (days) or --gest-weeks");
    }
    calc::Mother m = mother_options(opts, base);
    double wt = m.wt, ht = m.ht, sex = m.sex, eth = m.eth, par = m.par;
    const calc::Thresholds thresholds = thresholds_option(opts, classify);
    if (!opts.empty()) bad_usage("unknown option " + opts.begin()->first);

    std::array<Arg, 7> a{Arg::ref(&bwt), Arg::ref(&gest), Arg::ref(&wt), Arg::ref(&ht),
                         Arg::ref(&sex), Arg::ref(&eth),  Arg::ref(&par)};
    try {
        const calc::Evaluation ev = calc::evaluate(base, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
        std::printf("Base: %s\n", std::string(calc::base_name(base)).c_str());
        std::printf("Centile: %s\n", centile::format_number(ev.centile).c_str());
        if (classify) std::printf("Class: %s\n", calc::class_text(calc::classify(ev.centile, thresholds)));
        std::printf("Intermediate values:\n");
        print_row("booking weight in band", ev.weight);
        print_row("weight term", ev.weight_term);
        if (base == Base::sweden) print_row("centred height", ht);
        print_row("height term", ev.height_term);
        print_row("sex term", ev.sex_term);
        print_row("ethnic term", ev.ethnic_term);
        print_row("parity term", ev.parity_term);
        print_row("term weight", ev.term_weight);
        print_row("weeks", ev.weeks);
        print_row("gestation proportion", ev.proportion);
        print_row("optimal weight", ev.optimal_weight);
        print_row("spread", ev.spread);
        print_row("z", ev.z);
        print_row("centile", ev.centile);
        return finish_output(0);
    } catch (const calc::Failure& f) {
        std::fprintf(stderr, "pelmora-centile: the calculation failed: %s (error %d)\n", f.what(), f.number());
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    // A reader that goes away (`| head`) makes the writes fail, which is reported, rather than
    // ending the process by a signal.
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
    if (argc > 1 && std::string_view(argv[1]) == "curves") return run_curves(argc - 1, argv + 1);
    if (argc > 1 && std::string_view(argv[1]) == "chart") return run_chart(argc - 1, argv + 1);
    std::map<std::string, std::string> opts;
    bool csv = false;
    bool classify = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(usage, stdout);
            return finish_output(0);
        }
        if (arg == "--csv") {
            csv = true;
            continue;
        }
        if (arg == "--classify") {
            classify = true;
            continue;
        }
        keep_option(opts, flag_and_value(argc, argv, i, arg),
                    {"--base", "--bwt", "--gest", "--gest-weeks", "--gest-days", "--wt", "--ht", "--sex", "--eth",
                     "--par", "--sga-below", "--lga-above"});
    }
    if (csv) {
        centile::BatchOptions options;
        options.classify = classify;
        options.thresholds = thresholds_option(opts, classify);
        if (!opts.empty()) bad_usage("--csv takes no options but --classify, --sga-below and --lga-above");
        return centile::run_batch(stdin, stdout, stderr, options);
    }
    if (opts.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    return single(opts, classify);
}
