#pragma once
// The placed form as the Qt host's script works it: the Qt backend's widgets, found by their
// object names, picked as a person picks.

#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <string>
#include <string_view>
#include <vector>

#include "script.hpp"

namespace pelmora::host {

inline QString to_qt(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

inline std::string from_qt(const QString& s) {
    const QByteArray b = s.toUtf8();
    return {b.constData(), static_cast<std::size_t>(b.size())};
}

class QtFormView final : public pelmora::host::FormView {
public:
    QtFormView(QWidget& form, QWidget& window) : form_(form), window_(window) {}

    [[nodiscard]] bool has_list(std::string_view name) const override { return box(name) != nullptr; }
    [[nodiscard]] std::vector<std::string> items(std::string_view list) const override {
        std::vector<std::string> out;
        const QComboBox* b = box(list);
        for (int i = 0; b != nullptr && i < b->count(); ++i) out.push_back(from_qt(b->itemText(i)));
        return out;
    }
    [[nodiscard]] std::string text(std::string_view list) const override {
        const QComboBox* b = box(list);
        return b != nullptr ? from_qt(b->currentText()) : std::string();
    }
    void pick(std::string_view list, std::size_t index) override {
        QComboBox* b = box(list);
        if (b == nullptr) return;
        const int i = static_cast<int>(index);
        b->setCurrentIndex(i);
        Q_EMIT b->activated(i);  // a person's pick: the list's click
    }
    [[nodiscard]] bool result(std::string& text) const override {
        const auto* label = form_.findChild<QLabel*>("output_label");
        if (label == nullptr) return false;
        text = from_qt(label->text());
        return true;
    }
    [[nodiscard]] bool screenshot(const std::string& file) override { return window_.grab().save(to_qt(file), "PNG"); }

private:
    [[nodiscard]] QComboBox* box(std::string_view name) const { return form_.findChild<QComboBox*>(to_qt(name)); }

    QWidget& form_;
    QWidget& window_;
};

}  // namespace pelmora::host
