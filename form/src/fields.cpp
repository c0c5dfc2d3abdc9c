#include <cmath>
#include <optional>

#include "pelmora/errors.hpp"
#include "pelmora/form/form.hpp"
#include "pelmora/form/layout.hpp"

namespace pelmora::form {

void read_fields(const PerList<std::string>& texts, Fields& fields) {
    fields.bwtval = texts.bwt == over_5000 ? over_5000_grams : leading_number(texts.bwt);

    const double days = leading_number(texts.gd);
    const double weeks = leading_number(texts.gw);
    fields.gestval = weeks * 7 + days;
    if (!std::isfinite(fields.gestval)) throw forms::RuntimeError(Error::overflow);

    fields.wtval = leading_number(texts.wt);
    fields.htval = leading_number(texts.ht);
    fields.sexval = texts.sex == male ? 1 : 0;

    if (const std::optional<calc::Base> base = base_named(texts.base)) {
        if (const std::optional<std::int16_t> code = ethnic_code(*base, texts.eth)) {
            fields.ethval = *code;
        } else if (ethnic_rule(*base).unmatched_takes_other) {
            fields.ethval = ethnic_code(*base, other_group).value_or(fields.ethval);
        }
    }

    fields.parval = 4;
    const auto parity_texts = calc::parity_texts();
    for (std::size_t code = 0; code < 4 && code < parity_texts.size(); ++code) {
        if (texts.par == parity_texts[code]) {
            fields.parval = static_cast<std::int16_t>(code);
            break;
        }
    }
}

}  // namespace pelmora::form
