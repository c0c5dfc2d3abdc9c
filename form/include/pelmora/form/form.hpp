#pragma once
// The control's face at work: UserControl_Initialize fills the lists, Combobase_Click switches the
// ethnic list to the picked base, Recalculate turns the lists' texts into the seven private fields
// and asks the control's own dual interface for the centile.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "pelmora/forms/toolkit.hpp"

struct _Pelmora;  // the control's dual interface (declared by the IDL's generated header)

namespace pelmora::form {

/// The seven private fields as they stand after the last run of Recalculate.
struct Fields {
    double gestval = 0;
    double bwtval = 0;
    double wtval = 0;
    double htval = 0;
    std::int16_t sexval = 0;
    std::int16_t ethval = 0;
    std::int16_t parval = 0;
};

/// One thing for each list Recalculate reads.
template <class T>
struct PerList {
    T base, bwt, gd, gw, wt, ht, par, eth, sex;
};

/// The lists' control names.
inline constexpr PerList<std::string_view> list_names{"Combobase", "Combobwt", "Combogd",  "Combogw", "Combowt",
                                                      "Comboht",   "Combopar", "Comboeth", "Combosex"};

/// Recalculate's reading of the lists' texts into the private fields, one field after another as
/// Recalculate writes them: the birth weight ("Over 5000" is 5500 g), the gestation (weeks x 7 +
/// days), booking weight and height (each text's leading number), sex, the ethnic code in the
/// picked base's table (a group the table does not know leaves the code as it was, or takes the
/// catch-all group's where the base has one), parity. Throws forms::RuntimeError
/// (Error::overflow) for a number too large, leaving the fields read before it written.
void read_fields(const PerList<std::string>& texts, Fields& fields);

class Form {
public:
    /// Builds every control of the control table on `toolkit` and wires the notifications. The
    /// lists stay empty and output_label reads "Output" until the initialise notification.
    /// `self` is the control's own dual interface: not owned, it must outlive the form.
    Form(forms::Toolkit& toolkit, _Pelmora* self);
    ~Form();
    Form(const Form&) = delete;
    Form& operator=(const Form&) = delete;

    [[nodiscard]] forms::Surface& surface() noexcept { return *surface_; }

    // The handlers, callable directly as well as through the notifications. Each throws
    // forms::RuntimeError on failure, leaving what it had done so far.
    void UserControl_Initialize();
    void Combobase_Click();
    void Recalculate();

    [[nodiscard]] Fields fields() const noexcept { return fields_; }

private:
    struct Lists;
    forms::Handler holding_self(void (Form::*handler)());

    _Pelmora* self_;
    Fields fields_;  // the private fields; only Recalculate writes them

    std::unique_ptr<forms::Surface> surface_;
    std::unique_ptr<Lists> lists_;
    forms::Label* output_label_ = nullptr;
};

}  // namespace pelmora::form
