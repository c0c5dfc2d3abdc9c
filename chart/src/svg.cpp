#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <system_error>

#include "pelmora/calc/engine.hpp"
#include "pelmora/chart/chart.hpp"

namespace pelmora::chart {
namespace {

// --- Page layout (user units: CSS pixels) ---------------------------------------------------
constexpr double plot_left = 92, plot_right = 770, plot_top = 118, plot_bottom = 640;
constexpr double panel_left = 818;

constexpr const char* curve_colour = "#1f4e9a";
constexpr const char* extra_colour = "#5b6b82";
constexpr const char* band_colour = "#dde7f5";
constexpr const char* point_colour = "#333333";
constexpr const char* birth_colour = "#b3261e";
constexpr const char* grid_colour = "#d0d0d0";
constexpr const char* font = "DejaVu Sans, Arial, Helvetica, sans-serif";

// Numbers in the markup: fixed, locale-free, the same bytes everywhere.
std::string fixed(double v, int places = 2) {
    if (v == 0) v = 0;  // no "-0.00"
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, places);
    return {buf, r.ptr};
}

// The shortest text that reads back as v (64, 163.5).
std::string shortest(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return {buf, r.ptr};
}

// The length of the UTF-8 sequence at the start of `text` when it is a character XML 1.0 allows, or
// 0: a stray or truncated byte, an overlong form, a surrogate, U+FFFE or U+FFFF, above U+10FFFF.
std::size_t xml_character_length(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned lead = byte(0);
    std::size_t n = 0;
    unsigned cp = 0;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, cp = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, cp = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, cp = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(i) & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (byte(i) & 0x3Fu);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
    return n;
}

// Text as XML 1.0 character data. A label is the caller's bytes: what is not a character XML
// allows becomes U+FFFD (control characters a space), since one bad byte would make a browser or
// an SVG renderer refuse the whole chart.
std::string escaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
                out += ' ';
            } else if (const std::size_t n = xml_character_length(text.substr(i)); n == 0) {
                out += "\uFFFD";
            } else {
                out += text.substr(i, n);
                i += n;
                continue;
            }
        }
        ++i;
    }
    return out;
}

// "10th", "3rd", "2.5th", "1st", "22nd", "11th".
std::string ordinal(double centile) {
    std::string s = shortest(centile);
    if (centile != std::floor(centile)) return s + "th";
    const auto n = static_cast<long long>(centile);
    if (n % 100 >= 11 && n % 100 <= 13) return s + "th";
    switch (n % 10) {
    case 1: return s + "st";
    case 2: return s + "nd";
    case 3: return s + "rd";
    default: return s + "th";
    }
}

std::string weeks_days(int days) { return std::to_string(days / 7) + "+" + std::to_string(days % 7); }

// Days since 1970-01-01 of a civil date and back (proleptic Gregorian).
long long days_from_civil(int y, int m, int d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Date civil_from_days(long long z) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long d = doy - (153 * mp + 2) / 5 + 1;
    const long long m = mp < 10 ? mp + 3 : mp - 9;
    return {static_cast<int>(yoe + era * 400 + (m <= 2)), static_cast<int>(m), static_cast<int>(d)};
}

constexpr std::array<const char*, 12> months{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::string date_text(const Date& d, bool with_year) {
    std::string s = std::to_string(d.day) + " " + months[static_cast<std::size_t>(d.month - 1)];
    if (with_year) s += " " + std::to_string(d.year);
    return s;
}

std::string code_text(double v) { return std::isnan(v) ? "missing" : shortest(v); }

std::string ethnic_text(const calc::Mother& m) {
    for (const auto& g : calc::ethnic_groups(m.base)) {
        if (m.eth == static_cast<double>(g.code)) return std::string(g.text);
    }
    return "code " + code_text(m.eth);
}

std::string parity_text(double par) {
    const auto texts = calc::parity_texts();
    for (std::size_t code = 0; code < texts.size(); ++code) {
        if (par == static_cast<double>(code)) return std::string(texts[code]);
    }
    return "code " + code_text(par) + " (4 or more)";
}

// A label cut to `max` characters (whole UTF-8 sequences), with an ellipsis when cut.
std::string cut(std::string_view text, std::size_t max) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == max) {
            return std::string(text.substr(0, i)) + "\u2026";
        }
    }
    return std::string(text);
}

[[noreturn]] void bad(const std::string& what) { throw calc::Failure(Error::invalid_argument, what); }

struct Measured {
    Point point;
    double centile;
    calc::SizeClass size_class;
};

class Writer {
public:
    void raw(std::string_view s) { out_ += s; }
    void text(double x, double y, std::string_view content, std::string_view attributes = {}) {
        out_ += "<text x=\"" + fixed(x) + "\" y=\"" + fixed(y) + "\"";
        if (!attributes.empty()) {
            out_ += ' ';
            out_ += attributes;
        }
        out_ += ">" + escaped(content) + "</text>\n";
    }
    void line(double x1, double y1, double x2, double y2, std::string_view attributes) {
        out_ += "<line x1=\"" + fixed(x1) + "\" y1=\"" + fixed(y1) + "\" x2=\"" + fixed(x2) + "\" y2=\"" + fixed(y2) +
                "\" " + std::string(attributes) + "/>\n";
    }
    [[nodiscard]] std::string take() { return std::move(out_); }

private:
    std::string out_;
};

}  // namespace

bool is_birth(std::string_view label) noexcept {
    constexpr std::string_view birth = "birth";
    if (label.size() != birth.size()) return false;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const char c = label[i] >= 'A' && label[i] <= 'Z' ? static_cast<char>(label[i] - 'A' + 'a') : label[i];
        if (c != birth[i]) return false;
    }
    return true;
}

std::optional<int> parse_gestation(std::string_view text) {
    auto whole = [](std::string_view s) -> std::optional<int> {
        int v = 0;
        if (s.empty() || s.size() > 4) return std::nullopt;
        const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
        if (r.ec != std::errc() || r.ptr != s.data() + s.size() || v < 0) return std::nullopt;
        return v;
    };
    int days = 0;
    if (const auto plus = text.find('+'); plus != std::string_view::npos) {
        const auto w = whole(text.substr(0, plus));
        const auto d = whole(text.substr(plus + 1));
        if (!w || !d || *d > 6) return std::nullopt;
        days = *w * 7 + *d;
    } else {
        const auto d = whole(text);
        if (!d) return std::nullopt;
        days = *d;
    }
    if (days > calc::max_gestation_days) return std::nullopt;
    return days;
}

Point parse_point(std::string_view text) {
    const std::string shown(text);
    const auto first = text.find(':');
    if (first == std::string_view::npos) {
        throw std::invalid_argument("point '" + shown + "': expected GEST:GRAMS[:LABEL]");
    }
    const auto second = text.find(':', first + 1);
    const std::string_view gest = text.substr(0, first);
    const std::string_view grams =
        text.substr(first + 1, second == std::string_view::npos ? std::string_view::npos : second - first - 1);
    Point p;
    const auto days = parse_gestation(gest);
    if (!days) {
        throw std::invalid_argument("point '" + shown + "': the gestation '" + std::string(gest) +
                                    "' is not days (231) or weeks+days (33+0) from 0 to " +
                                    std::to_string(calc::max_gestation_days) + " days");
    }
    p.gest = *days;
    const auto r = std::from_chars(grams.data(), grams.data() + grams.size(), p.weight);
    if (grams.empty() || r.ec != std::errc() || r.ptr != grams.data() + grams.size() || !(p.weight > 0) ||
        !(p.weight <= 10000)) {
        throw std::invalid_argument("point '" + shown + "': the weight '" + std::string(grams) +
                                    "' is not a number of grams above 0 and up to 10000");
    }
    if (second != std::string_view::npos) p.label = std::string(text.substr(second + 1));
    return p;
}

std::optional<Date> parse_date(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
    Date d;
    auto field = [&text](std::size_t at, std::size_t n, int& v) {
        const auto r = std::from_chars(text.data() + at, text.data() + at + n, v);
        return r.ec == std::errc() && r.ptr == text.data() + at + n;
    };
    if (!field(0, 4, d.year) || !field(5, 2, d.month) || !field(8, 2, d.day)) return std::nullopt;
    if (d.year < 1900 || d.month < 1 || d.month > 12 || d.day < 1) return std::nullopt;
    const Date back = civil_from_days(days_from_civil(d.year, d.month, d.day));
    if (back.day != d.day || back.month != d.month) return std::nullopt;  // 31 Apr, 29 Feb of a common year
    return d;
}

std::string svg(const Chart& chart) {
    const calc::Mother& m = chart.mother;
    for (const double v : {m.wt, m.ht, m.sex, m.eth, m.par}) {
        if (std::isnan(v)) bad("an input of the mother is missing");
    }
    for (const Point& p : chart.points) {
        if (p.gest < 0 || p.gest > calc::max_gestation_days || !(p.weight > 0) || !(p.weight <= 10000)) {
            bad("point at " + std::to_string(p.gest) + " days, " + shortest(p.weight) + " g: out of range");
        }
    }
    const calc::Curves curves = calc::curves(m, chart.centiles, chart.days);
    const calc::DayRange days = chart.days;

    // The points' centiles and classes, by the calculators themselves.
    std::vector<Measured> measured;
    for (const Point& p : chart.points) {
        std::array<calc::Arg, 7> a{calc::Arg::r8(p.weight), calc::Arg::r8(p.gest), calc::Arg::r8(m.wt),
                                   calc::Arg::r8(m.ht),     calc::Arg::r8(m.sex),  calc::Arg::r8(m.eth),
                                   calc::Arg::r8(m.par)};
        const calc::Evaluation ev = calc::evaluate(m.base, a[0], a[1], a[2], a[3], a[4], a[5], a[6]);
        measured.push_back({p, ev.centile, calc::classify(ev.centile)});
    }
    std::stable_sort(measured.begin(), measured.end(),
                     [](const Measured& a, const Measured& b) { return a.point.gest < b.point.gest; });

    // The axes: whole weeks across, grams up in steps of 500 g around every curve and point.
    double low = INFINITY, high = -INFINITY;
    for (const double w : curves.weights) {
        low = std::min(low, w);
        high = std::max(high, w);
    }
    for (const Measured& p : measured) {
        if (p.point.gest >= days.first && p.point.gest <= days.last) {
            low = std::min(low, p.point.weight);
            high = std::max(high, p.point.weight);
        }
    }
    const double g_low = std::max(0.0, std::floor(low / 500) * 500);
    double g_high = std::ceil(high / 500) * 500;
    if (g_high <= g_low) g_high = g_low + 500;
    const double grid_step = g_high - g_low > 4000 ? 500 : 250;
    const double d_first = days.first == days.last ? days.first - 3.5 : days.first;
    const double d_last = days.first == days.last ? days.last + 3.5 : days.last;
    auto x_of = [&](double day) { return plot_left + (day - d_first) * (plot_right - plot_left) / (d_last - d_first); };
    auto y_of = [&](double grams) {
        return plot_bottom - (grams - g_low) * (plot_bottom - plot_top) / (g_high - g_low);
    };

    Writer w;
    w.raw("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    w.raw("<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"297mm\" height=\"210mm\" viewBox=\"0 0 " +
          fixed(page_width) + " " + fixed(page_height) + "\" font-family=\"" + font + "\">\n");
    w.raw("<title>Customised growth chart</title>\n");
    w.raw("<defs><clipPath id=\"plot-area\"><rect x=\"" + fixed(plot_left) + "\" y=\"" + fixed(plot_top) +
          "\" width=\"" + fixed(plot_right - plot_left) + "\" height=\"" + fixed(plot_bottom - plot_top) +
          "\"/></clipPath></defs>\n");
    // The page in numbers: a renderer of SVG Tiny (QtSvg) takes "100%" for 100 units.
    w.raw("<rect width=\"" + fixed(page_width) + "\" height=\"" + fixed(page_height) + "\" fill=\"#ffffff\"/>\n");

    // Header: the base and the mother's inputs.
    w.text(40, 44, "Customised growth chart \u2014 " + std::string(calc::base_name(m.base)) + " base",
           "font-size=\"22\" font-weight=\"bold\" class=\"title\"");
    w.text(40, 70,
           "Mother: booking weight " + code_text(m.wt) + " kg, height " + code_text(m.ht) + " cm, parity " +
               parity_text(m.par) + ", ethnic group " + ethnic_text(m) +
               ".   Baby: " + (m.sex == 1 ? "male" : "female") + ".",
           "font-size=\"14\" class=\"inputs\"");
    if (chart.edd) {
        w.text(40, 92, "Expected date of delivery: " + date_text(*chart.edd, true) + " (40+0 weeks).",
               "font-size=\"14\" class=\"edd\"");
    }

    // Grid and axes.
    w.raw("<g class=\"y-axis\" font-size=\"12\" text-anchor=\"end\">\n");
    for (double g = g_low; g <= g_high + 1e-9; g += grid_step) {
        const double y = y_of(g);
        w.line(plot_left, y, plot_right, y,
               "class=\"y-grid\" data-grams=\"" + shortest(g) + "\" stroke=\"" + grid_colour + "\" stroke-width=\"" +
                   (std::fmod(g, 500) == 0 ? "1" : "0.5") + "\"");
        if (std::fmod(g, 500) == 0) w.text(plot_left - 8, y + 4, shortest(g));
    }
    w.raw("</g>\n");
    w.raw("<g class=\"x-axis\" font-size=\"12\" text-anchor=\"middle\">\n");
    for (int day = (days.first + 6) / 7 * 7; day <= days.last; day += 7) {
        const double x = x_of(day);
        w.line(x, plot_top, x, plot_bottom,
               "class=\"x-grid\" data-day=\"" + std::to_string(day) + "\" stroke=\"" + grid_colour +
                   "\" stroke-width=\"1\"");
        w.line(x, plot_bottom, x, plot_bottom + 6, "stroke=\"#000000\" stroke-width=\"1\"");
        w.text(x, plot_bottom + 20, std::to_string(day / 7));
        if (chart.edd) {
            const long long date = days_from_civil(chart.edd->year, chart.edd->month, chart.edd->day) + (day - 7 * 40);
            w.text(x, plot_bottom + 37, date_text(civil_from_days(date), false), "font-size=\"9\" class=\"date\"");
        }
    }
    w.raw("</g>\n");
    w.raw("<rect x=\"" + fixed(plot_left) + "\" y=\"" + fixed(plot_top) + "\" width=\"" +
          fixed(plot_right - plot_left) + "\" height=\"" + fixed(plot_bottom - plot_top) +
          "\" fill=\"none\" stroke=\"#000000\" stroke-width=\"1\"/>\n");
    w.text((plot_left + plot_right) / 2, plot_bottom + (chart.edd ? 60 : 46), "Gestation (completed weeks)",
           "font-size=\"14\" text-anchor=\"middle\"");
    w.text(34, (plot_top + plot_bottom) / 2, "Weight (g)",
           "font-size=\"14\" text-anchor=\"middle\" transform=\"rotate(-90 34 " + fixed((plot_top + plot_bottom) / 2) +
               ")\"");

    // The curves, the band between the 10th and the 90th first.
    auto find = [&](double c) -> std::optional<std::size_t> {
        for (std::size_t k = 0; k < curves.centiles.size(); ++k) {
            if (curves.centiles[k] == c) return k;
        }
        return std::nullopt;
    };
    auto path_of = [&](std::size_t k, bool reverse) {
        std::string pts;
        for (int i = 0; i <= days.last - days.first; ++i) {
            const int day = reverse ? days.last - i : days.first + i;
            if (!pts.empty()) pts += ' ';
            pts += fixed(x_of(day)) + "," + fixed(y_of(curves.at(k, day)));
        }
        return pts;
    };
    w.raw("<g clip-path=\"url(#plot-area)\">\n");
    const auto k10 = find(10), k90 = find(90);
    if (k10 && k90) {
        w.raw("<polygon class=\"band\" fill=\"" + std::string(band_colour) + "\" stroke=\"none\" points=\"" +
              path_of(*k10, false) + " " + path_of(*k90, true) + "\"/>\n");
    }
    for (std::size_t k = 0; k < curves.centiles.size(); ++k) {
        const double c = curves.centiles[k];
        std::string style;
        if (c == 10 || c == 90) {
            style = "stroke=\"" + std::string(curve_colour) + "\" stroke-width=\"2.2\"";
        } else if (c == 50) {
            style = "stroke=\"" + std::string(curve_colour) + "\" stroke-width=\"2.2\" stroke-dasharray=\"9 6\"";
        } else {
            style = "stroke=\"" + std::string(extra_colour) + "\" stroke-width=\"1.6\" stroke-dasharray=\"2 4\"";
        }
        w.raw("<polyline class=\"curve\" data-centile=\"" + shortest(c) + "\" fill=\"none\" " + style +
              " stroke-linejoin=\"round\" points=\"" + path_of(k, false) + "\"/>\n");
    }
    w.raw("</g>\n");
    w.raw("<g class=\"curve-labels\" font-size=\"12\">\n");
    for (std::size_t k = 0; k < curves.centiles.size(); ++k) {
        w.text(plot_right + 5, y_of(curves.at(k, days.last)) + 4, ordinal(curves.centiles[k]),
               std::string("fill=\"") +
                   (curves.centiles[k] == 10 || curves.centiles[k] == 50 || curves.centiles[k] == 90 ? curve_colour
                                                                                                     : extra_colour) +
                   "\"");
    }
    w.raw("</g>\n");

    // The points, joined in gestational order, each labelled with its centile.
    w.raw("<g class=\"points\" clip-path=\"url(#plot-area)\" font-size=\"12\">\n");
    if (measured.size() > 1) {
        std::string pts;
        for (const Measured& p : measured) {
            if (!pts.empty()) pts += ' ';
            pts += fixed(x_of(p.point.gest)) + "," + fixed(y_of(p.point.weight));
        }
        w.raw("<polyline class=\"points-line\" fill=\"none\" stroke=\"" + std::string(point_colour) +
              "\" stroke-width=\"1.2\" points=\"" + pts + "\"/>\n");
    }
    for (const Measured& p : measured) {
        const double x = x_of(p.point.gest), y = y_of(p.point.weight);
        const std::string data =
            "data-day=\"" + std::to_string(p.point.gest) + "\" data-grams=\"" + shortest(p.point.weight) + "\"";
        if (is_birth(p.point.label)) {
            w.raw("<path class=\"birth\" " + data + " d=\"M" + fixed(x) + "," + fixed(y - 8) + " L" + fixed(x + 8) +
                  "," + fixed(y) + " L" + fixed(x) + "," + fixed(y + 8) + " L" + fixed(x - 8) + "," + fixed(y) +
                  " Z\" fill=\"" + birth_colour + "\" stroke=\"#000000\" stroke-width=\"1\"/>\n");
        } else {
            w.raw("<circle class=\"point\" " + data + " cx=\"" + fixed(x) + "\" cy=\"" + fixed(y) +
                  "\" r=\"4.5\" fill=\"#ffffff\" stroke=\"" + point_colour + "\" stroke-width=\"2\"/>\n");
        }
        const std::string label = p.point.label.empty() ? "" : cut(p.point.label, 12) + " ";
        w.text(x + 9, y - 9, label + ordinal(std::floor(p.centile + 0.5)) + " centile",
               is_birth(p.point.label) ? std::string("fill=\"") + birth_colour + "\" font-weight=\"bold\"" : "");
    }
    w.raw("</g>\n");

    // The side panel: the legend, then the table of points.
    double y = plot_top + 4;
    w.raw("<g class=\"legend\" font-size=\"12\">\n");
    w.text(panel_left, y, "Centiles", "font-size=\"14\" font-weight=\"bold\"");
    y += 22;
    if (k10 && k90) {
        w.raw("<rect x=\"" + fixed(panel_left) + "\" y=\"" + fixed(y - 10) + "\" width=\"36\" height=\"12\" fill=\"" +
              band_colour + "\"/>\n");
        w.text(panel_left + 46, y, "10th to 90th centile");
        y += 20;
    }
    for (std::size_t k = 0; k < curves.centiles.size(); ++k) {
        const double c = curves.centiles[k];
        const bool main = c == 10 || c == 90 || c == 50;
        w.line(panel_left, y - 4, panel_left + 36, y - 4,
               std::string("stroke=\"") + (main ? curve_colour : extra_colour) + "\" stroke-width=\"" +
                   (main ? "2.2" : "1.6") + "\"" +
                   (c == 50 ? " stroke-dasharray=\"9 6\""
                    : !main ? " stroke-dasharray=\"2 4\""
                            : ""));
        w.text(panel_left + 46, y, ordinal(c) + " centile");
        y += 20;
    }
    w.raw("<circle cx=\"" + fixed(panel_left + 18) + "\" cy=\"" + fixed(y - 4) +
          "\" r=\"4.5\" fill=\"#ffffff\" stroke=\"" + point_colour + "\" stroke-width=\"2\"/>\n");
    w.text(panel_left + 46, y, "measured weight");
    y += 20;
    w.raw("<path d=\"M" + fixed(panel_left + 18) + "," + fixed(y - 12) + " l8,8 l-8,8 l-8,-8 Z\" fill=\"" +
          birth_colour + "\" stroke=\"#000000\" stroke-width=\"1\"/>\n");
    w.text(panel_left + 46, y, "birth weight");
    w.raw("</g>\n");

    y += 40;
    w.raw("<g class=\"table\" font-size=\"12\">\n");
    w.text(panel_left, y, "Measurements", "font-size=\"14\" font-weight=\"bold\"");
    y += 22;
    constexpr double col_gest = panel_left + 96, col_weight = panel_left + 200, col_centile = panel_left + 250,
                     col_class = panel_left + 262;
    w.text(panel_left, y, "", "font-weight=\"bold\"");
    w.text(col_gest, y, "Weeks", "font-weight=\"bold\"");
    w.text(col_weight, y, "Weight", "font-weight=\"bold\" text-anchor=\"end\"");
    w.text(col_centile, y, "Centile", "font-weight=\"bold\" text-anchor=\"end\"");
    w.text(col_class, y, "Class", "font-weight=\"bold\"");
    w.line(panel_left, y + 6, page_width - 20, y + 6, "stroke=\"#000000\" stroke-width=\"0.8\"");
    y += 22;
    constexpr std::size_t max_rows = 20;
    for (std::size_t i = 0; i < measured.size() && i < max_rows; ++i) {
        const Measured& p = measured[i];
        const std::string attributes =
            "class=\"row\"" + std::string(is_birth(p.point.label) ? " font-weight=\"bold\"" : "");
        w.raw("<g " + attributes + ">\n");
        w.text(panel_left, y, cut(p.point.label, 12));
        w.text(col_gest, y, weeks_days(p.point.gest));
        w.text(col_weight, y, shortest(p.point.weight) + " g", "text-anchor=\"end\"");
        w.text(col_centile, y, fixed(p.centile, 1), "text-anchor=\"end\"");
        w.text(col_class, y, calc::class_text(p.size_class));
        w.raw("</g>\n");
        y += 19;
    }
    if (measured.size() > max_rows)
        w.text(panel_left, y, "and " + std::to_string(measured.size() - max_rows) + " more");
    if (measured.empty()) w.text(panel_left, y, "none");
    w.raw("</g>\n");

    w.text(40, page_height - 22,
           "Weights at each centile of the customised birth-weight model for this mother and baby. SGA: below the "
           "10th centile; LGA: above the 90th.",
           "font-size=\"11\" fill=\"#555555\"");
    w.raw("</svg>\n");
    return w.take();
}

}  // namespace pelmora::chart
