// The Qt 6 Widgets backend: a parentless QWidget surface holding QFrame, QLabel and non-editable
// QComboBox children, placed by twips converted at the screen's logical DPI. A person's pick is
// QComboBox::activated; setting the text from code only changes the current index.

#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QString>
#include <QWidget>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <type_traits>
#include <utility>

#include "pelmora/forms/toolkit.hpp"

#if defined(__linux__)
#include <dlfcn.h>
#endif

namespace pelmora::forms {
namespace {

#if defined(__linux__)
// This backend brings Qt into whatever library links it, the control's among them. Qt cannot be
// unloaded safely: a host that unloads the control's library once no control is left
// (CoFreeUnusedLibraries) would unload Qt with it and leave Qt's load-time allocations behind.
// So Qt's libraries, once loaded, stay loaded; the library linking this backend can still unload.
[[maybe_unused]] const bool qt_stays_loaded = [] {
    for (const char* name : {"libQt6Core.so.6", "libQt6Gui.so.6", "libQt6Widgets.so.6"})
        dlopen(name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    return true;
}();
#endif

QString to_qt(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string from_qt(const QString& s) {
    const QByteArray bytes = s.toUtf8();
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

QColor to_qt(Colour c) { return {c.red, c.green, c.blue}; }

Qt::Alignment to_qt(Alignment a) {
    switch (a) {
    case Alignment::left: return Qt::AlignLeft | Qt::AlignTop;
    case Alignment::right: return Qt::AlignRight | Qt::AlignTop;
    case Alignment::centre: return Qt::AlignHCenter | Qt::AlignTop;
    }
    return Qt::AlignLeft | Qt::AlignTop;
}

// A list with a colour of its own draws a solid field in it, as a drop-down list does: the styles'
// own combo boxes paint a bevel and gradient lightened from the palette, not the colour itself.
// A plain border makes Qt draw the field from the rule instead of handing it back to the style.
QString list_style(Colour background, Colour text) {
    const auto css = [](Colour c) { return QStringLiteral("rgb(%1, %2, %3)").arg(c.red).arg(c.green).arg(c.blue); };
    if (background.kind != Colour::Kind::rgb) return {};
    QString rule =
        QStringLiteral("QComboBox { background-color: %1; border: 1px solid palette(dark); padding-left: 2px;")
            .arg(css(background));
    if (text.kind == Colour::Kind::rgb) rule += QStringLiteral(" color: %1;").arg(css(text));
    return rule + QStringLiteral(" }");
}

// Starts from the application's palette for the widget's class, so that a system colour is the
// palette role itself and an earlier custom colour does not linger.
void apply_colours(QWidget& w, Colour background, Colour text, bool is_list) {
    QPalette palette = QApplication::palette(&w);
    switch (background.kind) {
    case Colour::Kind::toolkit_default: w.setAutoFillBackground(false); break;
    case Colour::Kind::rgb:
        if (is_list) {
            palette.setColor(QPalette::Button, to_qt(background));
            palette.setColor(QPalette::Base, to_qt(background));
        } else {
            palette.setColor(w.backgroundRole(), to_qt(background));
            w.setAutoFillBackground(true);
        }
        break;
    case Colour::Kind::window_background:
        w.setBackgroundRole(QPalette::Window);
        w.setAutoFillBackground(true);
        break;
    case Colour::Kind::window_text:  // not a background colour: treat as the window's
        w.setBackgroundRole(QPalette::WindowText);
        w.setAutoFillBackground(true);
        break;
    }
    switch (text.kind) {
    case Colour::Kind::toolkit_default: break;
    case Colour::Kind::rgb:
        if (is_list) {
            palette.setColor(QPalette::ButtonText, to_qt(text));
            palette.setColor(QPalette::Text, to_qt(text));
        } else {
            palette.setColor(w.foregroundRole(), to_qt(text));
        }
        break;
    case Colour::Kind::window_text: w.setForegroundRole(QPalette::WindowText); break;
    case Colour::Kind::window_background: w.setForegroundRole(QPalette::Window); break;
    }
    w.setPalette(palette);
    if (is_list) w.setStyleSheet(list_style(background, text));
}

class QtSurface;

// The toolkit's default font for a form laid out in twips: the platform's own family at the 8 points
// such layouts are drawn for (the Windows dialog font's size), condensed where the family has a
// condensed face, so that captions fit the widths the layout gives them.
QFont form_font() {
    QFont font = QApplication::font();
    font.setPointSizeF(8.0);
    font.setStretch(QFont::Condensed);
    return font;
}

// State every backend object keeps besides its widget.
struct QtCommon {
    std::string name;
    Container* parent = nullptr;
    QtSurface* surface = nullptr;
    Rect geometry;
    int tab_index = 0;
    Colour background;
    Colour text;
};

template <class Interface, class Widget, ControlKind Kind>
class QtControl : public Interface {
public:
    QtControl(QtCommon common, Widget* widget) : c_(std::move(common)), widget_(widget) {
        widget->setObjectName(to_qt(c_.name));
    }

    [[nodiscard]] ControlKind kind() const noexcept override { return Kind; }
    [[nodiscard]] const std::string& name() const noexcept override { return c_.name; }
    [[nodiscard]] Container* container() const noexcept override { return c_.parent; }
    void set_geometry(Rect twips) override;
    [[nodiscard]] Rect geometry() const override { return c_.geometry; }
    void set_tab_index(int index) override;
    [[nodiscard]] int tab_index() const noexcept override { return c_.tab_index; }
    void set_colours(Colour background, Colour text) override {
        apply_colours(*widget(), background, text, Kind == ControlKind::list);
        c_.background = background;
        c_.text = text;
    }
    [[nodiscard]] Colour background() const noexcept override { return c_.background; }
    [[nodiscard]] Colour text_colour() const noexcept override { return c_.text; }
    [[nodiscard]] void* native_handle() noexcept override { return static_cast<QWidget*>(widget_.data()); }

    /// The widget; throws when its host destroyed it.
    [[nodiscard]] Widget* widget() const {
        if (widget_.isNull()) throw RuntimeError(Error::object_not_set);
        return widget_.data();
    }
    [[nodiscard]] Widget* widget_or_null() const noexcept { return widget_.data(); }

protected:
    QtCommon c_;
    QPointer<Widget> widget_;
};

class QtFrame final : public QtControl<Frame, QFrame, ControlKind::frame> {
public:
    QtFrame(QtCommon common, QWidget* parent) : QtControl(std::move(common), new QFrame(parent)) {
        widget_->setFrameStyle(QFrame::Box | QFrame::Sunken);  // an etched border, no title
        widget_->setFocusPolicy(Qt::NoFocus);
    }
};

class QtLabel final : public QtControl<Label, QLabel, ControlKind::label> {
public:
    QtLabel(QtCommon common, QWidget* parent) : QtControl(std::move(common), new QLabel(parent)) {
        widget_->setTextFormat(Qt::PlainText);  // a caption is text, never markup
        widget_->setFocusPolicy(Qt::NoFocus);
        widget_->setAlignment(to_qt(alignment_));
    }
    void set_caption(std::string_view caption) override { widget()->setText(to_qt(caption)); }
    [[nodiscard]] std::string caption() const override { return from_qt(widget()->text()); }
    void set_alignment(Alignment alignment) override {
        widget()->setAlignment(to_qt(alignment));
        alignment_ = alignment;
    }
    [[nodiscard]] Alignment alignment() const noexcept override { return alignment_; }

private:
    Alignment alignment_ = Alignment::left;
};

class QtList final : public QtControl<DropDownList, QComboBox, ControlKind::list> {
public:
    QtList(QtCommon common, QWidget* parent);

    void append(std::string_view item) override {
        QComboBox* box = widget();
        const bool none_picked = box->currentIndex() < 0;
        box->addItem(to_qt(item));
        if (none_picked) box->setCurrentIndex(-1);  // QComboBox would pick the first item by itself
    }
    void clear() override { widget()->clear(); }
    [[nodiscard]] std::string text() const override { return from_qt(widget()->currentText()); }
    void set_text(std::string_view text) override {
        QComboBox* box = widget();
        if (text.empty()) {
            box->setCurrentIndex(-1);
            return;
        }
        const QString wanted = to_qt(text);
        for (int i = 0, n = box->count(); i < n; ++i) {
            if (box->itemText(i) == wanted) {  // exact, case-sensitive, whole text
                box->setCurrentIndex(i);
                return;
            }
        }
        throw RuntimeError(Error::invalid_property_value);
    }
    [[nodiscard]] std::size_t count() const override { return static_cast<std::size_t>(widget()->count()); }
    [[nodiscard]] std::string item(std::size_t index) const override {
        QComboBox* box = widget();
        if (index >= static_cast<std::size_t>(box->count())) throw std::out_of_range("list item index");
        return from_qt(box->itemText(static_cast<int>(index)));
    }
    void on_click(Handler handler) override { click_ = std::move(handler); }
    void pick(std::string_view text) override {
        set_text(text);
        QComboBox* box = widget();
        Q_EMIT box->activated(box->currentIndex());  // the very signal a person's pick sends
    }

private:
    void clicked() noexcept;
    Handler click_;
};

class QtSurface final : public QtControl<Surface, QWidget, ControlKind::surface> {
public:
    explicit QtSurface(std::string name)
        : QtControl(QtCommon{std::move(name), nullptr, nullptr, {}, 0, {}, {}}, new QWidget(nullptr)) {
        c_.surface = this;
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            dpi_x_ = screen->logicalDotsPerInchX();
            dpi_y_ = screen->logicalDotsPerInchY();
        }
        widget_->setFocusPolicy(Qt::NoFocus);
        widget_->setFont(form_font());
    }
    ~QtSurface() override { delete widget_.data(); }  // unless its host already destroyed it
    QtSurface(const QtSurface&) = delete;
    QtSurface& operator=(const QtSurface&) = delete;

    Frame& create_frame(std::string name, Container& parent) override {
        return add(std::make_unique<QtFrame>(common(std::move(name), parent), parent_widget(parent)));
    }
    Label& create_label(std::string name, Container& parent) override {
        return add(std::make_unique<QtLabel>(common(std::move(name), parent), parent_widget(parent)));
    }
    DropDownList& create_list(std::string name, Container& parent) override {
        return add(std::make_unique<QtList>(common(std::move(name), parent), parent_widget(parent)));
    }

    [[nodiscard]] std::vector<Control*> controls() const override {
        std::vector<Control*> out;
        out.reserve(owned_.size());
        for (const auto& c : owned_) out.push_back(c.get());
        return out;
    }

    // Walks Qt's own focus chain from the list with the lowest tab index.
    [[nodiscard]] std::vector<Control*> focus_chain() const override {
        std::vector<Control*> out;
        const std::vector<QtList*> lists = lists_by_tab_index();
        if (lists.empty() || lists.front()->widget_or_null() == nullptr) return out;
        QWidget* const start = lists.front()->widget_or_null();
        QWidget* w = start;
        do {
            for (QtList* list : lists)
                if (list->widget_or_null() == w && (w->focusPolicy() & Qt::TabFocus) != 0) out.push_back(list);
            w = w->nextInFocusChain();
        } while (w != nullptr && w != start);
        return out;
    }

    [[nodiscard]] int pixels_x(int twips) const noexcept { return twips_to_pixels(twips, dpi_x_); }
    [[nodiscard]] int pixels_y(int twips) const noexcept { return twips_to_pixels(twips, dpi_y_); }

    // Tab visits the lists in ascending tab index; labels and frames take no focus.
    void refresh_tab_order() {
        const std::vector<QtList*> lists = lists_by_tab_index();
        for (std::size_t i = 1; i < lists.size(); ++i) {
            QWidget* a = lists[i - 1]->widget_or_null();
            QWidget* b = lists[i]->widget_or_null();
            if (a != nullptr && b != nullptr) QWidget::setTabOrder(a, b);
        }
    }

private:
    QtCommon common(std::string name, Container& parent) {
        return QtCommon{std::move(name), &parent, this, {}, 0, {}, {}};
    }
    static QWidget* parent_widget(Container& parent) {
        auto* w = static_cast<QWidget*>(parent.native_handle());
        if (w == nullptr) throw RuntimeError(Error::object_not_set);
        return w;
    }
    template <class T>
    T& add(std::unique_ptr<T> control) {
        T& ref = *control;
        owned_.push_back(std::move(control));
        if constexpr (std::is_same_v<T, QtList>) lists_.push_back(&ref);
        return ref;
    }
    [[nodiscard]] std::vector<QtList*> lists_by_tab_index() const {
        std::vector<QtList*> out = lists_;
        std::stable_sort(out.begin(), out.end(),
                         [](const QtList* a, const QtList* b) { return a->tab_index() < b->tab_index(); });
        return out;
    }

    std::vector<std::unique_ptr<Control>> owned_;
    std::vector<QtList*> lists_;
    double dpi_x_ = 96.0;
    double dpi_y_ = 96.0;
};

template <class Interface, class Widget, ControlKind Kind>
void QtControl<Interface, Widget, Kind>::set_geometry(Rect twips) {
    const QtSurface& s = *c_.surface;
    if constexpr (Kind == ControlKind::surface) {
        widget()->setFixedSize(s.pixels_x(twips.width), s.pixels_y(twips.height));
    } else {
        widget()->setGeometry(s.pixels_x(twips.left), s.pixels_y(twips.top), s.pixels_x(twips.width),
                              s.pixels_y(twips.height));
    }
    c_.geometry = twips;
}

template <class Interface, class Widget, ControlKind Kind>
void QtControl<Interface, Widget, Kind>::set_tab_index(int index) {
    c_.tab_index = index;
    c_.surface->refresh_tab_order();
}

QtList::QtList(QtCommon common, QWidget* parent) : QtControl(std::move(common), new QComboBox(parent)) {
    widget_->setEditable(false);
    widget_->setFocusPolicy(Qt::StrongFocus);
    widget_->setInsertPolicy(QComboBox::NoInsert);
    QObject::connect(widget_.data(), &QComboBox::activated, widget_.data(), [this](int) { clicked(); });
}

void QtList::clicked() noexcept {
    const Handler handler = click_;  // the handler may replace itself while it runs
    deliver(handler, c_.surface->sink());
}

class QtToolkit final : public Toolkit {
public:
    [[nodiscard]] std::string_view name() const noexcept override { return "qt"; }
    [[nodiscard]] std::unique_ptr<Surface> create_surface(std::string name) override {
        return std::make_unique<QtSurface>(std::move(name));
    }
};

}  // namespace

Toolkit* qt_toolkit() {
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) return nullptr;
    static QtToolkit toolkit;
    return &toolkit;
}

}  // namespace pelmora::forms
