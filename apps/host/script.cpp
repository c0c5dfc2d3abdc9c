#include "script.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <optional>
#include <string>
#include <vector>

#include "pelmora/chart/chart.hpp"
#include "pelmora/chart/file.hpp"
#include "pelmora/form/layout.hpp"
#include "pelmora/number_text.hpp"
#include "pelmora/text/utf.hpp"
#include "pelmora_idl.h"

namespace pelmora::host {
namespace {

/// A command that cannot be carried out; its text follows "error: ".
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_end(std::string_view s) {
    while (!s.empty() && (is_blank(s.back()) || s.back() == '\r' || s.back() == '\n')) s.remove_suffix(1);
    return s;
}

/// Splits off the first blank-separated word; `rest` keeps what follows the blanks after it.
std::string_view next_word(std::string_view& rest) {
    std::size_t i = 0;
    while (i < rest.size() && is_blank(rest[i])) ++i;
    std::size_t j = i;
    while (j < rest.size() && !is_blank(rest[j])) ++j;
    const std::string_view word = rest.substr(i, j - i);
    while (j < rest.size() && is_blank(rest[j])) ++j;
    rest.remove_prefix(j);
    return word;
}

/// The list's name, when the form has such a list.
std::string_view list_named(const FormView& form, std::string_view name) {
    if (name.empty()) throw Refusal("missing list name");
    if (!form.has_list(name)) throw Refusal("unknown list " + std::string(name));
    return name;
}

// --- Values in the script's notation ------------------------------------------------------------

using OleText = std::basic_string<OLECHAR>;

OleText utf16(std::string_view s) { return text::from_utf8<OLECHAR>(s); }

std::string utf8(BSTR b) {
    if (b == nullptr) return {};
    return text::to_utf8(std::basic_string_view<OLECHAR>(b, SysStringLen(b)));
}

std::string number_text(double d) {
    std::array<char, 64> buf{};
    const auto [end, ec] = std::to_chars(buf.data(), buf.data() + buf.size(), d);
    return {buf.data(), end};
}

/// Reads the arguments: numbers, "" or "text" (no quote inside), empty, null.
std::vector<VARIANT> parse_arguments(std::string_view rest) {
    std::vector<VARIANT> out;
    struct Guard {
        std::vector<VARIANT>* v;
        bool armed = true;
        ~Guard() {
            if (armed)
                for (VARIANT& x : *v) VariantClear(&x);
        }
    } guard{&out};
    std::size_t i = 0;
    while (true) {
        while (i < rest.size() && is_blank(rest[i])) ++i;
        if (i == rest.size()) break;
        VARIANT v;
        VariantInit(&v);
        if (rest[i] == '"') {
            const std::size_t close = rest.find('"', i + 1);
            if (close == std::string_view::npos) throw Refusal("unterminated text argument");
            if (close + 1 < rest.size() && !is_blank(rest[close + 1])) throw Refusal("malformed text argument");
            const OleText text = utf16(rest.substr(i + 1, close - i - 1));
            V_VT(&v) = VT_BSTR;
            V_BSTR(&v) = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
            if (V_BSTR(&v) == nullptr) throw Refusal("out of memory");
            i = close + 1;
        } else {
            std::size_t j = i;
            while (j < rest.size() && !is_blank(rest[j])) ++j;
            const std::string_view word = rest.substr(i, j - i);
            i = j;
            if (word == "empty") {
                V_VT(&v) = VT_EMPTY;
            } else if (word == "null") {
                V_VT(&v) = VT_NULL;
            } else {
                const std::optional<double> d = pelmora::number_in_text(word, pelmora::argument_syntax);
                if (!d || std::isinf(*d)) throw Refusal("malformed argument " + std::string(word));
                V_VT(&v) = VT_R8;
                V_R8(&v) = *d;
            }
        }
        out.push_back(v);
    }
    guard.armed = false;
    return out;
}

std::string notation(const VARIANT& v) {
    switch (V_VT(&v)) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_R8: return number_text(v.dblVal);
    case VT_R4: return number_text(static_cast<double>(v.fltVal));
    case VT_I2: return std::to_string(v.iVal);
    case VT_I4: return std::to_string(v.lVal);
    case VT_BOOL: return v.boolVal != 0 ? "true" : "false";
    case VT_BSTR: return '"' + utf8(v.bstrVal) + '"';
    default: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "<vartype %u>", static_cast<unsigned>(V_VT(&v)));
        return buf;
    }
    }
}

std::string hresult_text(HRESULT hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(hr));
    return buf;
}

}  // namespace

std::string Script::answer(std::string_view line) noexcept {
    try {
        return run(trim_end(line));
    } catch (const Refusal& r) {
        return std::string("error: ") + r.what();
    } catch (const std::exception& e) {
        return std::string("error: ") + e.what();
    } catch (...) {
        return "error: unexpected failure";
    }
}

std::string Script::run(std::string_view line) {
    std::string_view rest = line;
    const std::string_view command = next_word(rest);
    if (command.empty()) throw Refusal("empty command");

    if (command == "pick") {
        const std::string_view list = list_named(form_, next_word(rest));
        const std::vector<std::string> all = form_.items(list);
        // The item's text is the rest of the line, blanks inside included.
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (all[i] == rest) {
                form_.pick(list, i);
                return "ok";
            }
        }
        throw Refusal("no item \"" + std::string(rest) + "\" in " + std::string(list));
    }
    if (command == "text" || command == "items") {
        const std::string_view list = list_named(form_, next_word(rest));
        if (!rest.empty()) throw Refusal("malformed command");
        if (command == "text") return form_.text(list);
        const std::vector<std::string> all = form_.items(list);
        std::string joined;
        for (std::size_t i = 0; i < all.size(); ++i) {
            if (i > 0) joined += '|';
            joined += all[i];
        }
        return joined;
    }
    if (command == "show") {
        if (!rest.empty()) throw Refusal("malformed command");
        std::string shown;
        if (!form_.result(shown)) throw Refusal("the form has no output_label");
        return shown;
    }
    if (command == "call") {
        const std::string_view method = next_word(rest);
        if (method.empty()) throw Refusal("missing method name");
        return call(method, rest);
    }
    if (command == "screenshot") {
        if (rest.empty()) throw Refusal("missing file name");
        if (!form_.screenshot(std::string(rest))) throw Refusal("cannot write " + std::string(rest));
        return "ok";
    }
    if (command == "chart") {
        if (rest.empty()) throw Refusal("missing file name");
        const std::string error = chart::write_whole(std::string(rest), chart_svg());
        if (!error.empty()) throw Refusal("cannot write " + std::string(rest) + ": " + error);
        return "ok";
    }
    throw Refusal("unknown command " + std::string(command));
}

std::string Script::chart_svg() {
    const auto text = [this](std::string_view name) { return form_.text(list_named(form_, name)); };
    const form::PerList<std::string_view>& n = form::list_names;
    const form::PerList<std::string> texts{text(n.base), text(n.bwt), text(n.gd),  text(n.gw), text(n.wt),
                                           text(n.ht),   text(n.par), text(n.eth), text(n.sex)};
    const std::optional<calc::Base> base = form::base_named(texts.base);
    if (!base) throw Refusal("no chart without a base");
    form::read_fields(texts, fields_);
    chart::Chart c;
    c.mother = calc::Mother{*base,
                            fields_.wtval,
                            fields_.htval,
                            static_cast<double>(fields_.sexval),
                            static_cast<double>(fields_.ethval),
                            static_cast<double>(fields_.parval)};
    c.points.push_back(chart::Point{static_cast<int>(fields_.gestval), fields_.bwtval, "birth"});
    return chart::svg(c);
}

// A late-bound call by name, each argument passed by reference to a variant of ours, as a script
// engine passes its variables.
std::string Script::call(std::string_view method, std::string_view arguments) {
    std::vector<VARIANT> values = parse_arguments(arguments);
    struct ClearAll {
        std::vector<VARIANT>& v;
        VARIANT& result;
        ~ClearAll() {
            for (VARIANT& x : v) VariantClear(&x);
            VariantClear(&result);
        }
    };
    VARIANT result;
    VariantInit(&result);
    const ClearAll clear{values, result};

    OleText name = utf16(method);
    LPOLESTR names[] = {name.data()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(control_.GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        throw Refusal("unknown method " + std::string(method));

    // Invoke takes the arguments last to first.
    std::vector<VARIANT> refs(values.size());
    for (std::size_t k = 0; k < values.size(); ++k) {
        VARIANT& r = refs[values.size() - 1 - k];
        VariantInit(&r);
        V_VT(&r) = static_cast<VARTYPE>(VT_BYREF | VT_VARIANT);
        V_VARIANTREF(&r) = &values[k];
    }
    DISPPARAMS params{refs.data(), nullptr, static_cast<UINT>(refs.size()), 0};
    EXCEPINFO info{};
    UINT bad_argument = 0;
    const HRESULT hr =
        control_.Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &info, &bad_argument);
    if (hr == DISP_E_EXCEPTION) {
        if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
        const int number =
            HRESULT_FACILITY(info.scode) == FACILITY_CONTROL ? HRESULT_CODE(info.scode) : static_cast<int>(info.wCode);
        std::string text = utf8(info.bstrDescription);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        SysFreeString(info.bstrHelpFile);
        throw Refusal("run-time error " + std::to_string(number) + ": " + text);
    }
    if (hr == DISP_E_BADPARAMCOUNT) throw Refusal("wrong number of arguments (" + hresult_text(hr) + ")");
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_PARAMNOTOPTIONAL)
        throw Refusal("argument " + std::to_string(values.size() - bad_argument) + " refused (" + hresult_text(hr) +
                      ")");
    if (FAILED(hr)) throw Refusal("call failed (" + hresult_text(hr) + ")");

    std::string out = notation(result);
    for (const VARIANT& v : values) out += ' ' + notation(v);
    return out;
}

}  // namespace pelmora::host
