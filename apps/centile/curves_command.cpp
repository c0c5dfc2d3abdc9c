#include "curves_command.hpp"

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <cmath>
#include <stdexcept>
#include <cstdio>
#include <string>
#include <string_view>

#ifdef __unix__
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "batch.hpp"
#include "options.hpp"
#include "pelmora/chart/chart.hpp"
#include "pelmora/chart/file.hpp"
#include "pelmora/calc/curves.hpp"

namespace pelmora::centile {
namespace {

// A gestation as days ("168") or completed weeks and days ("24+0").
int gestation_option(const std::string& flag, const std::string& text) {
    const auto days = chart::parse_gestation(text);
    if (!days) {
        bad_usage(flag + ": '" + text + "' is not days (168) or weeks+days (24+0) from 0 to " +
                  std::to_string(calc::max_gestation_days) + " days");
    }
    return *days;
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
        auto option = flag_and_value(argc, argv, i, std::move(arg));
        if (points && option.first == "--point") {
            points->push_back(option.second);
            continue;
        }
        keep_option(opts, std::move(option), known, std::string(" for ") + argv[0]);
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
    for (const double p : c.centiles) {
        csv += ',';  // not "," + text: mingw-w64's GCC 12 warns of an overlapping copy there (-Wrestrict)
        csv += centile_column(p);
    }
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

// The PNG of `svg` into `path`, drawn by pelmora-chart-png from the tool's own directory, which
// writes it whole or not at all. The exit status.
int png_output(const std::string& path, const std::string& svg) {
#ifdef __unix__
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::string helper = (self.parent_path() / "pelmora-chart-png").string();
    if (ec || access(helper.c_str(), X_OK) != 0) {
        std::fprintf(stderr, "pelmora-centile: no PNG without pelmora-chart-png beside the tool: write .svg\n");
        return 2;
    }
    int fd[2];
    if (pipe(fd) != 0) return 2;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd[0], 0);
    posix_spawn_file_actions_addclose(&actions, fd[1]);
    std::string out = path;
    char* const args[] = {const_cast<char*>(helper.c_str()), out.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, helper.c_str(), &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fd[0]);
    if (spawned != 0) {
        close(fd[1]);
        std::fprintf(stderr, "pelmora-centile: cannot run %s\n", helper.c_str());
        return 2;
    }
    for (std::size_t done = 0; done < svg.size();) {
        const ssize_t n = write(fd[1], svg.data() + done, svg.size() - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    close(fd[1]);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 2;
#else
    (void)path;
    (void)svg;
    std::fprintf(stderr, "pelmora-centile: PNG charts are drawn on Linux only: write .svg\n");
    return 2;
#endif
}

bool ends_with(std::string_view text, std::string_view tail) {
    if (text.size() < tail.size()) return false;
    for (std::size_t i = 0; i < tail.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[text.size() - tail.size() + i])) != tail[i]) return false;
    }
    return true;
}

int run_chart(int argc, char** argv) {
    std::vector<std::string> point_texts;
    Options opts = command_options(
        argc, argv,
        {"--base", "--wt", "--ht", "--sex", "--eth", "--par", "--centiles", "--from", "--to", "--edd", "--output"},
        &point_texts);
    const auto output = take_option(opts, "--output");
    if (!output) bad_usage("chart needs -o FILE.svg or -o FILE.png");
    const bool png = ends_with(*output, ".png");
    if (!png && !ends_with(*output, ".svg")) bad_usage("-o: the chart is written as .svg or .png: '" + *output + "'");
    chart::Chart c;
    const CurveRequest r = curve_options(opts);
    c.mother = r.mother;
    c.centiles = r.centiles;
    c.days = r.days;
    if (const auto edd = take_option(opts, "--edd")) {
        c.edd = chart::parse_date(*edd);
        if (!c.edd) bad_usage("--edd: not a date YYYY-MM-DD: '" + *edd + "'");
    }
    if (!opts.empty()) bad_usage("unknown option " + opts.begin()->first);
    for (const std::string& text : point_texts) {
        try {
            c.points.push_back(chart::parse_point(text));
        } catch (const std::invalid_argument& e) {
            bad_usage(std::string("--point: ") + e.what());
        }
    }
    std::string bytes;
    try {
        bytes = chart::svg(c);
    } catch (const calc::Failure& f) {
        if (f.kind() == Error::invalid_argument) bad_usage(f.subject());
        std::fprintf(stderr, "pelmora-centile: the calculation failed: %s (error %d)\n", f.what(), f.number());
        return 1;
    }
    if (png) return png_output(*output, bytes);
    return write_output(output, bytes);
}

}  // namespace pelmora::centile
