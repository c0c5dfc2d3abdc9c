#pragma once
// The demo host's script language, one for every host (the Qt one on Linux, the Win32 one on
// Windows): one command per line, exactly one answer line per command, in the same words
// everywhere. The host lends the form as a person sees and works it (FormView); method calls go
// through the control's IDispatch by name.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "pelmora/form/form.hpp"

struct IDispatch;

namespace pelmora::host {

/// The placed form as the script reaches it. Names are the form's control names ("Combobase",
/// "output_label"); texts are UTF-8.
class FormView {
public:
    virtual ~FormView() = default;
    /// Whether the form has a drop-down list of that name.
    [[nodiscard]] virtual bool has_list(std::string_view name) const = 0;
    /// The list's items in order. Precondition: has_list(name).
    [[nodiscard]] virtual std::vector<std::string> items(std::string_view list) const = 0;
    /// The list's text: its picked item's, or empty. Precondition: has_list(name).
    [[nodiscard]] virtual std::string text(std::string_view list) const = 0;
    /// A person's pick of the item at `index`: the list selects it and raises the notification a
    /// person's pick raises. Preconditions: has_list(name), index < items(list).size().
    virtual void pick(std::string_view list, std::size_t index) = 0;
    /// The result label's text into `text`; false when the form has no output_label.
    [[nodiscard]] virtual bool result(std::string& text) const = 0;
    /// Writes a picture of the host window as PNG to `file` (UTF-8); false when it cannot.
    [[nodiscard]] virtual bool screenshot(const std::string& file) = 0;

protected:
    FormView() = default;
    FormView(const FormView&) = default;
    FormView& operator=(const FormView&) = default;
};

class Script {
public:
    /// `form` and `control` (the control's automation interface) are not owned.
    Script(FormView& form, IDispatch& control) : form_(form), control_(control) {}

    /// The answer to one command line, without its line end. Never throws.
    [[nodiscard]] std::string answer(std::string_view line) noexcept;

    /// The growth chart of the form's current inputs as SVG text: the mother and baby from the
    /// lists, read as the form's Recalculate reads them, and the birth weight at its gestation as
    /// the birth point. Throws std::exception when the lists cannot be read or the chart not drawn
    /// (calc::Failure where the calculators fail for these inputs).
    [[nodiscard]] std::string chart_svg();

private:
    std::string run(std::string_view line);
    std::string call(std::string_view method, std::string_view arguments);

    FormView& form_;
    IDispatch& control_;
    // The form's fields as the last chart read them: an ethnic group the picked base does not
    // know leaves the code as it was, as in the form.
    form::Fields fields_;
};

}  // namespace pelmora::host
