#pragma once
// The host's script mode: one command per line, exactly one answer line per command.

#include <string>
#include <string_view>

class QWidget;
struct IDispatch;

namespace pelmora::host {

class Script {
public:
    /// `form` is the control's placed form, `window` the host window holding it (for screenshots),
    /// `control` the control's automation interface (not owned).
    Script(QWidget& form, QWidget& window, IDispatch& control) : form_(form), window_(window), control_(control) {}

    /// The answer to one command line, without its line end. Never throws.
    [[nodiscard]] std::string answer(std::string_view line) noexcept;

private:
    std::string run(std::string_view line);
    std::string call(std::string_view method, std::string_view arguments);

    QWidget& form_;
    QWidget& window_;
    IDispatch& control_;
};

}  // namespace pelmora::host
