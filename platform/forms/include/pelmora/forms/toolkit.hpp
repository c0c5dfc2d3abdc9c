#pragma once
// The forms toolkit: the few widgets the control's face is made of (a surface, frames, labels and
// drop-down lists), with geometry in twips, colours, alignment, tab order and the two
// notifications the face handles. Backends: headless (in memory) and, where built, Qt 6 Widgets.
//
// Every object belongs to the thread that created its surface. A notification handler runs inside
// the toolkit's delivery, which catches whatever the handler throws: nothing a handler throws ever
// reaches the caller of pick() or a native event loop. The failure goes to the surface's failure
// sink (standard error unless replaced) and the form stays usable.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pelmora/errors.hpp"

namespace pelmora::forms {

using pelmora::Error;

/// A rectangle in twips (1/1440 inch) relative to the containing control.
struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

inline constexpr int twips_per_inch = 1440;

/// Twips to device pixels at `dpi` dots per inch, rounded to nearest, halves away from zero
/// (15 twips per pixel at 96 DPI).
[[nodiscard]] int twips_to_pixels(int twips, double dpi) noexcept;

/// A colour: a red-green-blue triplet, one of the two system colours, or the toolkit's own default
/// for the role it is used in.
struct Colour {
    enum class Kind : std::uint8_t {
        toolkit_default,    ///< whatever the toolkit draws when nobody sets a colour
        rgb,                ///< the triplet below
        window_background,  ///< the system's window background colour
        window_text,        ///< the system's window text colour
    };
    Kind kind = Kind::toolkit_default;
    std::uint8_t red = 0;
    std::uint8_t green = 0;
    std::uint8_t blue = 0;

    [[nodiscard]] static constexpr Colour rgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) noexcept {
        return {Kind::rgb, r, g, b};
    }
    [[nodiscard]] static constexpr Colour window_background() noexcept { return {Kind::window_background, 0, 0, 0}; }
    [[nodiscard]] static constexpr Colour window_text() noexcept { return {Kind::window_text, 0, 0, 0}; }
    [[nodiscard]] static constexpr Colour toolkit_default() noexcept { return {}; }
    friend bool operator==(const Colour&, const Colour&) = default;
};

enum class Alignment : std::uint8_t { left, right, centre };

/// A failure as the automation runtime reports it: a run-time error number and its text.
class RuntimeError : public std::runtime_error {
public:
    /// One of Pelmora's own errors, with the runtime's text.
    explicit RuntimeError(Error error);
    /// An error carried from elsewhere (a failing call's status and its error information).
    RuntimeError(int number, std::string text);
    [[nodiscard]] int number() const noexcept { return number_; }
    [[nodiscard]] const std::string& text() const noexcept { return text_; }

private:
    int number_;
    std::string text_;
};

using Handler = std::function<void()>;
/// Receives a handler's failure after the toolkit caught it.
using FailureSink = std::function<void(const RuntimeError&)>;

enum class ControlKind : std::uint8_t { surface, frame, label, list };

class Container;
class DropDownList;
class Label;
class Surface;

/// What every control has. Controls are created by their surface and live as long as it does.
class Control {
public:
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    [[nodiscard]] virtual ControlKind kind() const noexcept = 0;
    [[nodiscard]] virtual const std::string& name() const noexcept = 0;
    /// The container the control sits in; nullptr for the surface.
    [[nodiscard]] virtual Container* container() const noexcept = 0;

    virtual void set_geometry(Rect twips) = 0;
    [[nodiscard]] virtual Rect geometry() const = 0;
    /// Position in the tab order; only lists take the keyboard focus, the others keep their index
    /// but are never visited.
    virtual void set_tab_index(int index) = 0;
    [[nodiscard]] virtual int tab_index() const noexcept = 0;
    virtual void set_colours(Colour background, Colour text) = 0;
    [[nodiscard]] virtual Colour background() const noexcept = 0;
    [[nodiscard]] virtual Colour text_colour() const noexcept = 0;

    /// The backend's own object for this control (a QWidget* in the Qt backend, the Control*
    /// itself in the headless one), or nullptr where the backend has none yet.
    [[nodiscard]] virtual void* native_handle() noexcept = 0;

    // Checked views without RTTI (controls may come from another copy of this library).
    [[nodiscard]] virtual DropDownList* as_list() noexcept { return nullptr; }
    [[nodiscard]] virtual Label* as_label() noexcept { return nullptr; }
    [[nodiscard]] virtual Container* as_container() noexcept { return nullptr; }
    [[nodiscard]] virtual Surface* as_surface() noexcept { return nullptr; }

protected:
    Control() = default;
};

/// A control that holds others: the surface and frames.
class Container : public Control {
public:
    [[nodiscard]] Container* as_container() noexcept override { return this; }
};

/// A plain container with no title.
class Frame : public Container {};

class Label : public Control {
public:
    virtual void set_caption(std::string_view caption) = 0;
    [[nodiscard]] virtual std::string caption() const = 0;
    virtual void set_alignment(Alignment alignment) = 0;
    [[nodiscard]] virtual Alignment alignment() const noexcept = 0;
    [[nodiscard]] Label* as_label() noexcept override { return this; }
};

/// A drop-down list whose text is always the text of its picked item (or empty when none is
/// picked). Items keep the order they were appended in.
class DropDownList : public Control {
public:
    virtual void append(std::string_view item) = 0;
    /// Removes every item; nothing is picked afterwards.
    virtual void clear() = 0;
    [[nodiscard]] virtual std::string text() const = 0;
    /// Picks the first item whose text equals `text` exactly; the empty text picks none. Raises
    /// no click. Throws RuntimeError (Error::invalid_property_value) when no item has that text.
    virtual void set_text(std::string_view text) = 0;
    [[nodiscard]] virtual std::size_t count() const = 0;
    /// Precondition: index < count().
    [[nodiscard]] virtual std::string item(std::size_t index) const = 0;
    [[nodiscard]] std::vector<std::string> items() const;

    /// The handler of the click notification, raised when a person picks an item (the same
    /// one again included). Replaces any earlier handler.
    virtual void on_click(Handler handler) = 0;
    /// Does what a person's pick does: set_text(text), then the click through the toolkit's
    /// delivery. Throws only what set_text throws; the handler's failures go to the sink.
    virtual void pick(std::string_view text) = 0;

    [[nodiscard]] DropDownList* as_list() noexcept override { return this; }
};

/// The control's own top-level area: creates and owns every control on it.
class Surface : public Container {
public:
    virtual Frame& create_frame(std::string name, Container& parent) = 0;
    virtual Label& create_label(std::string name, Container& parent) = 0;
    virtual DropDownList& create_list(std::string name, Container& parent) = 0;

    /// Every control on the surface, in creation order (the surface itself excluded).
    [[nodiscard]] virtual std::vector<Control*> controls() const = 0;
    [[nodiscard]] Control* find(std::string_view name) const;
    [[nodiscard]] DropDownList* find_list(std::string_view name) const;
    [[nodiscard]] Label* find_label(std::string_view name) const;
    /// The controls the Tab key visits, in the order it visits them.
    [[nodiscard]] virtual std::vector<Control*> focus_chain() const = 0;

    /// The handler of the initialise notification. Replaces any earlier handler.
    void on_initialise(Handler handler) { initialise_ = std::move(handler); }
    /// Delivers the initialise notification (through the toolkit's delivery).
    void raise_initialise() const;
    /// Replaces where handler failures go (standard error by default).
    void set_failure_sink(FailureSink sink) { sink_ = std::move(sink); }
    /// Where the notifications of the surface and its controls deliver their handlers' failures.
    [[nodiscard]] const FailureSink& sink() const noexcept { return sink_; }

    [[nodiscard]] Surface* as_surface() noexcept override { return this; }

protected:
    /// The lists among `controls` in ascending tab index, in creation order where it ties: the
    /// focus chain of a backend that leaves Tab to the toolkit.
    [[nodiscard]] static std::vector<Control*> lists_by_tab_index(std::vector<Control*> controls);

private:
    Handler initialise_;
    FailureSink sink_;
};

class Toolkit {
public:
    virtual ~Toolkit() = default;
    /// "headless" or "qt".
    [[nodiscard]] virtual std::string_view name() const noexcept = 0;
    /// A new, empty surface. The Qt backend makes a parentless widget that a host may place.
    [[nodiscard]] virtual std::unique_ptr<Surface> create_surface(std::string name) = 0;
};

/// The in-memory backend; always available.
[[nodiscard]] Toolkit& headless_toolkit();
/// The Qt 6 Widgets backend when it is built and the process runs a QApplication; else nullptr.
[[nodiscard]] Toolkit* qt_toolkit();
/// The Win32 backend when it is built (Windows); else nullptr.
[[nodiscard]] Toolkit* win32_toolkit();
/// The toolkit for a control created now: Win32 where it is built, else Qt when the process runs a
/// Qt application, else headless.
[[nodiscard]] Toolkit& process_toolkit();

/// Runs `handler` and hands anything it throws to `sink` as a RuntimeError (unknown failures as
/// Error::internal_error, memory exhaustion as Error::out_of_memory). Never throws.
void deliver(const Handler& handler, const FailureSink& sink) noexcept;
/// The default sink: one line on standard error, "pelmora: run-time error N: text".
void report_to_stderr(const RuntimeError& failure) noexcept;

}  // namespace pelmora::forms
