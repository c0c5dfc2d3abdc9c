#pragma once
// The Win32 backend of the forms toolkit. A surface is plain data (items, texts, captions,
// colours, twips) until a container hands it a parent window; then it becomes a child window
// holding real COMBOBOX (CBS_DROPDOWNLIST), STATIC and frame windows placed from the twips by the
// window's DPI, with the tab order of the tab indexes. Destroying the window keeps the data, so the
// form can be shown again.
//
// The form's font is the forms toolkit's classic default, MS Sans Serif at 8 points, the font its
// twips layout is measured for. A host's ambient font is not taken: the captions' widths are fixed
// in twips, and a larger or wider face would wrap or clip them.
//
// A person's pick (CBN_SELCHANGE) is the list's click; setting a list's text from code raises
// none. Nothing thrown inside the backend's window procedure leaves it.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "pelmora/forms/toolkit.hpp"

namespace pelmora::forms::win32 {

/// The window side of a surface made by the Win32 backend.
class SurfaceWindow {
public:
    /// Creates the surface's window, a child of `parent` at `position` (client pixels of the
    /// parent), with every control's window inside it. Returns the window, or nullptr when the
    /// system refuses one (GetLastError tells why; nothing is left behind). When a window exists
    /// already, it is moved to the new parent and position instead.
    virtual HWND create_window(HWND parent, const RECT& position) noexcept = 0;
    /// Moves and sizes the surface's window; the controls inside keep their own positions.
    virtual void move_window(const RECT& position) noexcept = 0;
    /// Shows or hides the surface's window (no-op without one).
    virtual void show_window(bool visible) noexcept = 0;
    /// Destroys the windows; the surface keeps every item, pick, caption and colour.
    virtual void destroy_window() noexcept = 0;
    /// The surface's window, or nullptr while there is none.
    [[nodiscard]] virtual HWND window() const noexcept = 0;
    /// Dialog navigation (Tab, Shift+Tab, arrow keys) for a message bound for the surface's
    /// windows, through IsDialogMessage: true when the message was used up.
    virtual bool translate_message(MSG& message) noexcept = 0;
    /// Called once whenever the surface's window goes away, by destroy_window() or because its
    /// parent was destroyed under it. The call happens inside the window's destruction.
    virtual void on_window_destroyed(std::function<void()> listener) = 0;
    /// The surface's own geometry converted to pixels at the given DPI.
    [[nodiscard]] virtual SIZE natural_size(int dpi_x, int dpi_y) const noexcept = 0;

protected:
    SurfaceWindow() = default;
    ~SurfaceWindow() = default;
};

/// The window property under which each control's native window carries the control's name (a
/// global atom: GlobalGetAtomNameW reads it), so that a container or a test finds "Combobase" or
/// "output_label" as a Qt program finds a widget by its object name.
inline constexpr wchar_t control_name_property[] = L"PelmoraFormName";

/// The form's font: face and size in points.
inline constexpr wchar_t form_font_face[] = L"MS Sans Serif";
inline constexpr int form_font_points = 8;
/// A new font handle of the form's font for a device of `dpi` dots per inch (the caller deletes
/// it with DeleteObject); nullptr when the system has no font left to give.
[[nodiscard]] HFONT create_form_font(int dpi) noexcept;

/// The Win32 toolkit (one per process).
[[nodiscard]] Toolkit& toolkit();
/// The window side of `surface` when this backend made it; nullptr for any other surface.
[[nodiscard]] SurfaceWindow* window_side(Surface& surface) noexcept;
/// The colour as the window system draws it; `system_default` (a COLOR_* index) for the
/// toolkit's default.
[[nodiscard]] COLORREF colour_ref(Colour colour, int system_default) noexcept;
/// UTF-8 text as the window system takes it.
[[nodiscard]] std::wstring to_wide(std::string_view text);
/// How many surface windows of this backend exist in the process right now.
[[nodiscard]] long live_windows() noexcept;

}  // namespace pelmora::forms::win32
