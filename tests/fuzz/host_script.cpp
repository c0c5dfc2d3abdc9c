// The demo host's script lines, through the host's own Script against the control placed in a
// window (Qt, off screen). Each line must get exactly one line of answer. Screenshots are left
// out: they write files wherever a line says.

#include <QApplication>
#include <QWidget>

#include <cstdlib>
#include <memory>

#include "control.hpp"
#include "fuzz_support.hpp"
#include "qt_form_view.hpp"
#include "script.hpp"

namespace {

struct Host {
    QWidget window;
    pelmora::host::QtFormView view;
    pelmora::host::Script script;
    explicit Host(QWidget& form) : view(form, window), script(view, *pelmora::fuzz::control()) {
        form.setParent(&window);
        form.show();
        window.setFixedSize(form.size());
        window.show();
    }
};

Host& host() {
    static int argc = 1;
    static char name[] = "fuzz_host_script";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    (void)app;
    static Host* h = [] {
        IOleWindow* placeable = nullptr;
        HWND native = nullptr;
        if (FAILED(pelmora::fuzz::control()->QueryInterface(IID_IOleWindow, reinterpret_cast<void**>(&placeable))) ||
            FAILED(placeable->GetWindow(&native)) || !native)
            std::abort();
        placeable->Release();
        return new Host(*reinterpret_cast<QWidget*>(native));
    }();
    return *h;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Host& h = host();
    std::string_view in = pelmora::fuzz::text_of(data, size);
    while (!in.empty()) {
        const std::string_view line = pelmora::fuzz::next_line(in);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string_view::npos && line.substr(first).starts_with("screenshot")) continue;
        if (h.script.answer(line).find('\n') != std::string::npos) std::abort();
    }
    return 0;
}
