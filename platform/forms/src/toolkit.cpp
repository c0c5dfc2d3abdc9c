#include "pelmora/forms/toolkit.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <new>
#include <utility>

namespace pelmora::forms {

int twips_to_pixels(int twips, double dpi) noexcept {
    return static_cast<int>(std::lround(static_cast<double>(twips) * dpi / twips_per_inch));
}

RuntimeError::RuntimeError(Error error) : RuntimeError(error_number(error), error_text(error)) {}

RuntimeError::RuntimeError(int number, std::string text)
    : std::runtime_error("run-time error " + std::to_string(number) + ": " + text),
      number_(number),
      text_(std::move(text)) {}

std::vector<std::string> DropDownList::items() const {
    std::vector<std::string> out;
    const std::size_t n = count();
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) out.push_back(item(i));
    return out;
}

Control* Surface::find(std::string_view name) const {
    for (Control* c : controls())
        if (c->name() == name) return c;
    return nullptr;
}

DropDownList* Surface::find_list(std::string_view name) const {
    Control* c = find(name);
    return c != nullptr ? c->as_list() : nullptr;
}

Label* Surface::find_label(std::string_view name) const {
    Control* c = find(name);
    return c != nullptr ? c->as_label() : nullptr;
}

void report_to_stderr(const RuntimeError& failure) noexcept {
    std::fprintf(stderr, "pelmora: run-time error %d: %s\n", failure.number(), failure.text().c_str());
    std::fflush(stderr);
}

namespace {

void hand_over(const FailureSink& sink, const RuntimeError& failure) noexcept {
    try {
        if (sink) sink(failure);
        else report_to_stderr(failure);
    } catch (...) {
        report_to_stderr(failure);  // a failing sink must not let the failure escape either
    }
}

// Building the RuntimeError itself may fail for want of memory; then a fixed line is all we can do.
void report_unreportable() noexcept {
    std::fprintf(stderr, "pelmora: run-time error %d: %s\n", error_number(Error::out_of_memory),
                 error_text(Error::out_of_memory));
}

}  // namespace

void Surface::raise_initialise() const {
    const Handler handler = initialise_;  // the handler may replace itself while it runs
    deliver(handler, sink_);
}

std::vector<Control*> Surface::lists_by_tab_index(std::vector<Control*> controls) {
    std::erase_if(controls, [](const Control* c) { return c->kind() != ControlKind::list; });
    std::stable_sort(controls.begin(), controls.end(),
                     [](const Control* a, const Control* b) { return a->tab_index() < b->tab_index(); });
    return controls;
}

void deliver(const Handler& handler, const FailureSink& sink) noexcept {
    if (!handler) return;
    try {
        handler();
    } catch (const RuntimeError& e) {
        hand_over(sink, e);
    } catch (const std::bad_alloc&) {
        try {
            hand_over(sink, RuntimeError(Error::out_of_memory));
        } catch (...) {
            report_unreportable();
        }
    } catch (const std::exception& e) {
        try {
            hand_over(sink, RuntimeError(error_number(Error::internal_error),
                                         std::string(error_text(Error::internal_error)) + ": " + e.what()));
        } catch (...) {
            report_unreportable();
        }
    } catch (...) {
        try {
            hand_over(sink, RuntimeError(Error::internal_error));
        } catch (...) {
            report_unreportable();
        }
    }
}

Toolkit& process_toolkit() {
    if (Toolkit* win32 = win32_toolkit()) return *win32;
    if (Toolkit* qt = qt_toolkit()) return *qt;
    return headless_toolkit();
}

#ifndef PELMORA_FORMS_WITH_QT
Toolkit* qt_toolkit() { return nullptr; }
#endif
#ifndef PELMORA_FORMS_WITH_WIN32
Toolkit* win32_toolkit() { return nullptr; }
#endif

}  // namespace pelmora::forms
