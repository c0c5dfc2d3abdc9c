#pragma once
// The real control for tests: its library registered as regsvr32 would, Pelmora created through
// the component runtime and its class factory.

#include "pelmora/forms/toolkit.hpp"

struct _Pelmora;

namespace pelmora::test {

class Control {
public:
    /// Throws std::runtime_error when the library cannot be registered or the control created.
    Control();
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    [[nodiscard]] _Pelmora* pelmora() const noexcept { return pelmora_; }
    /// What IOleWindow::GetWindow hands a host: the form's top-level native widget.
    [[nodiscard]] void* window() const;
    /// The form's surface, where the control runs on the headless toolkit; else nullptr.
    [[nodiscard]] forms::Surface* surface() const;

private:
    _Pelmora* pelmora_ = nullptr;
};

}  // namespace pelmora::test
