#pragma once
// What both demo hosts share outside the script: the command line, the failure line and the
// owner of one COM reference. The Qt host reads its arguments as UTF-8 (std::string), the Win32
// host as UTF-16 (std::wstring).
//   pelmora-host [--library PATH] [--screenshot FILE.png | --chart FILE.svg | --script]

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace pelmora::host {

enum class Mode { window, screenshot, chart, script };

template <class String>
struct Options {
    Mode mode = Mode::window;
    String screenshot;  ///< or the chart's file
    String library;     ///< the control's library to register first; empty: none
};

/// Whether the argument is the ASCII option `name`.
template <class String>
bool is_option(const String& arg, std::string_view name) {
    if (arg.size() != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (arg[i] != static_cast<typename String::value_type>(name[i])) return false;
    return true;
}

/// Reads the arguments after the program's name into `o`; false for an unknown or incomplete
/// option, or a second mode.
template <class String>
bool parse_options(const std::vector<String>& args, Options<String>& o) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const String& a = args[i];
        const bool has_value = i + 1 < args.size();
        if (is_option(a, "--screenshot") && has_value && o.mode == Mode::window) {
            o.mode = Mode::screenshot;
            o.screenshot = args[++i];
        } else if (is_option(a, "--chart") && has_value && o.mode == Mode::window) {
            o.mode = Mode::chart;
            o.screenshot = args[++i];
        } else if (is_option(a, "--script") && o.mode == Mode::window) {
            o.mode = Mode::script;
        } else if (is_option(a, "--library") && has_value) {
            o.library = args[++i];
        } else {
            return false;
        }
    }
    return true;
}

/// The usage line on stderr; returns the exit status 2.
inline int usage() {
    std::fputs("usage: pelmora-host [--library PATH] [--screenshot FILE.png | --chart FILE.svg | --script]\n", stderr);
    return 2;
}

/// "pelmora-host: WHAT (0xHRESULT)" on stderr.
inline void fail(const std::string& what, long hr) {
    std::fprintf(stderr, "pelmora-host: %s (0x%08X)\n", what.c_str(), static_cast<unsigned>(hr));
}

/// Owns one COM reference; out() releases the one held before the call that fills it.
template <class T>
struct Ref {
    T* p = nullptr;
    Ref() = default;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { reset(); }
    void reset() {
        if (p != nullptr) p->Release();
        p = nullptr;
    }
    void** out() {
        reset();
        return reinterpret_cast<void**>(&p);
    }
};

}  // namespace pelmora::host
