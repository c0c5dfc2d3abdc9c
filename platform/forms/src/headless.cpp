// The in-memory backend: every property is plain data; a person's pick is pick().

#include <algorithm>
#include <memory>
#include <utility>

#include "pelmora/forms/toolkit.hpp"

namespace pelmora::forms {
namespace {

class HeadlessSurface;

template <class Interface, ControlKind Kind>
class HeadlessControl : public Interface {
public:
    HeadlessControl(std::string name, Container* parent, HeadlessSurface* surface)
        : name_(std::move(name)), parent_(parent), surface_(surface) {}

    [[nodiscard]] ControlKind kind() const noexcept override { return Kind; }
    [[nodiscard]] const std::string& name() const noexcept override { return name_; }
    [[nodiscard]] Container* container() const noexcept override { return parent_; }
    void set_geometry(Rect twips) override { geometry_ = twips; }
    [[nodiscard]] Rect geometry() const override { return geometry_; }
    void set_tab_index(int index) override { tab_index_ = index; }
    [[nodiscard]] int tab_index() const noexcept override { return tab_index_; }
    void set_colours(Colour background, Colour text) override {
        background_ = background;
        text_ = text;
    }
    [[nodiscard]] Colour background() const noexcept override { return background_; }
    [[nodiscard]] Colour text_colour() const noexcept override { return text_; }
    [[nodiscard]] void* native_handle() noexcept override { return static_cast<Control*>(this); }

protected:
    std::string name_;
    Container* parent_;
    HeadlessSurface* surface_;
    Rect geometry_;
    int tab_index_ = 0;
    Colour background_;
    Colour text_;
};

class HeadlessFrame final : public HeadlessControl<Frame, ControlKind::frame> {
    using HeadlessControl::HeadlessControl;
};

class HeadlessLabel final : public HeadlessControl<Label, ControlKind::label> {
public:
    using HeadlessControl::HeadlessControl;
    void set_caption(std::string_view caption) override { caption_.assign(caption); }
    [[nodiscard]] std::string caption() const override { return caption_; }
    void set_alignment(Alignment alignment) override { alignment_ = alignment; }
    [[nodiscard]] Alignment alignment() const noexcept override { return alignment_; }

private:
    std::string caption_;
    Alignment alignment_ = Alignment::left;
};

class HeadlessList final : public HeadlessControl<DropDownList, ControlKind::list> {
public:
    using HeadlessControl::HeadlessControl;

    void append(std::string_view item) override { items_.emplace_back(item); }
    void clear() override {
        items_.clear();
        picked_ = none;
    }
    [[nodiscard]] std::string text() const override { return picked_ == none ? std::string() : items_[picked_]; }
    void set_text(std::string_view text) override {
        if (text.empty()) {
            picked_ = none;
            return;
        }
        const auto it = std::find(items_.begin(), items_.end(), text);
        if (it == items_.end()) throw RuntimeError(Error::invalid_property_value);
        picked_ = static_cast<std::size_t>(it - items_.begin());
    }
    [[nodiscard]] std::size_t count() const override { return items_.size(); }
    [[nodiscard]] std::string item(std::size_t index) const override { return items_.at(index); }
    void on_click(Handler handler) override { click_ = std::move(handler); }
    void pick(std::string_view text) override;

private:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);
    std::vector<std::string> items_;
    std::size_t picked_ = none;
    Handler click_;
};

class HeadlessSurface final : public HeadlessControl<Surface, ControlKind::surface> {
public:
    explicit HeadlessSurface(std::string name) : HeadlessControl(std::move(name), nullptr, nullptr) {}

    Frame& create_frame(std::string name, Container& parent) override {
        return add(std::make_unique<HeadlessFrame>(std::move(name), &parent, this));
    }
    Label& create_label(std::string name, Container& parent) override {
        return add(std::make_unique<HeadlessLabel>(std::move(name), &parent, this));
    }
    DropDownList& create_list(std::string name, Container& parent) override {
        return add(std::make_unique<HeadlessList>(std::move(name), &parent, this));
    }

    [[nodiscard]] std::vector<Control*> controls() const override {
        std::vector<Control*> out;
        out.reserve(owned_.size());
        for (const auto& c : owned_) out.push_back(c.get());
        return out;
    }

    [[nodiscard]] std::vector<Control*> focus_chain() const override { return lists_by_tab_index(controls()); }

private:
    template <class T>
    T& add(std::unique_ptr<T> control) {
        T& ref = *control;
        owned_.push_back(std::move(control));
        return ref;
    }

    std::vector<std::unique_ptr<Control>> owned_;
};

void HeadlessList::pick(std::string_view text) {
    set_text(text);
    const Handler handler = click_;
    deliver(handler, surface_->sink());
}

class HeadlessToolkit final : public Toolkit {
public:
    [[nodiscard]] std::string_view name() const noexcept override { return "headless"; }
    [[nodiscard]] std::unique_ptr<Surface> create_surface(std::string name) override {
        return std::make_unique<HeadlessSurface>(std::move(name));
    }
};

}  // namespace

Toolkit& headless_toolkit() {
    static HeadlessToolkit toolkit;
    return toolkit;
}

}  // namespace pelmora::forms
