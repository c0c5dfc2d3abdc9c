// pelmora-host: a Qt application that registers the control's library, creates Pelmora through
// the component runtime, places the control's form in a window of its own with a pane beside it
// that shows the growth chart of the form's current inputs, redrawn after every pick, and shows it.
//
//   pelmora-host [--library PATH]                    the window (needs a display)
//   pelmora-host [--library PATH] --screenshot FILE  renders off screen, writes FILE (PNG),
//                                                    prints the result label
//   pelmora-host [--library PATH] --chart FILE       writes the chart of the form's inputs (SVG)
//   pelmora-host [--library PATH] --script           commands on stdin, one answer line each

#include <dlfcn.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QSvgWidget>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "pelmora/chart/chart.hpp"
#include "pelmora/chart/file.hpp"
#include "pelmora_idl.h"
#include "pelmora_idl_class.h"
#include "options.hpp"
#include "qt_form_view.hpp"
#include "script.hpp"

#ifndef PELMORA_HOST_LIBRARY
#error "PELMORA_HOST_LIBRARY must name the control's library"
#endif

namespace {

using namespace pelmora::host;

// What regsvr32 does: load the library and ask it to register itself.
HRESULT register_library(const std::string& path) {
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) {
        std::fprintf(stderr, "pelmora-host: cannot load %s: %s\n", path.c_str(), dlerror());
        return CO_E_DLLNOTFOUND;
    }
    using Register = HRESULT (*)();
    auto* reg = reinterpret_cast<Register>(dlsym(lib, "DllRegisterServer"));
    const HRESULT hr = reg != nullptr ? reg() : CO_E_ERRORINDLL;
    dlclose(lib);  // the component runtime loads it again for itself
    return hr;
}

}  // namespace

int main(int argc, char** argv) {
    Options<std::string> options;
    options.library = PELMORA_HOST_LIBRARY;
    if (!parse_options(std::vector<std::string>(argv + 1, argv + argc), options)) return usage();
    // Screenshots and scripts never need a display: render with Qt's offscreen platform.
    if (options.mode != Mode::window) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    CoInitialize(nullptr);
    HRESULT hr = register_library(options.library);
    if (FAILED(hr)) {
        fail("cannot register " + options.library, hr);
        return 1;
    }
    CLSID clsid{};
    hr = CLSIDFromProgID(u"" PELMORA_VI_PROGID, &clsid);
    if (FAILED(hr)) {
        fail(PELMORA_VI_PROGID " is not registered", hr);
        return 1;
    }

    int status = 0;
    {
        Ref<IDispatch> control;
        hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, control.out());
        if (FAILED(hr)) {
            fail("cannot create Pelmora", hr);
            return 1;
        }
        Ref<IOleWindow> placeable;
        HWND native = nullptr;
        hr = control.p->QueryInterface(IID_IOleWindow, placeable.out());
        if (SUCCEEDED(hr)) hr = placeable.p->GetWindow(&native);
        auto* form = reinterpret_cast<QWidget*>(native);
        if (FAILED(hr) || form == nullptr) {
            fail("the control has no window to place", FAILED(hr) ? hr : E_FAIL);
            return 1;
        }

        QWidget window;
        window.setWindowTitle("Pelmora");
        form->setParent(&window);
        form->move(0, 0);
        form->show();
        pelmora::host::QtFormView view(*form, window);
        pelmora::host::Script script(view, *control.p);

        // The chart pane beside the form, A4 landscape in shape; what stops the chart, instead of
        // it, when it cannot be drawn.
        const int pane_height = std::max(form->height(), 480);
        const int pane_width =
            static_cast<int>(pane_height * pelmora::chart::page_width / pelmora::chart::page_height + 0.5);
        QSvgWidget pane(&window);
        pane.setObjectName("chart_pane");
        pane.setGeometry(form->width(), 0, pane_width, pane_height);
        QLabel problem(&window);
        problem.setObjectName("chart_problem");
        problem.setGeometry(pane.geometry());
        problem.setAlignment(Qt::AlignCenter);
        problem.setWordWrap(true);
        const auto redraw = [&] {
            try {
                const std::string svg = script.chart_svg();
                pane.load(QByteArray(svg.data(), static_cast<qsizetype>(svg.size())));
                pane.show();
                problem.hide();
            } catch (const std::exception& e) {
                problem.setText(QString("No chart: ") + QString::fromUtf8(e.what()));
                pane.hide();
                problem.show();
            }
        };
        // After the form's own handlers: the control connected its lists first.
        for (QComboBox* list : form->findChildren<QComboBox*>())
            QObject::connect(list, &QComboBox::activated, &pane, [&redraw](int) { redraw(); });
        redraw();
        window.setFixedSize(form->width() + pane_width, pane_height);

        switch (options.mode) {
        case Mode::window:
            window.show();
            status = QApplication::exec();
            break;
        case Mode::screenshot: {
            window.show();
            if (!window.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
                std::fprintf(stderr, "pelmora-host: cannot write %s\n", options.screenshot.c_str());
                status = 1;
                break;
            }
            const auto* label = form->findChild<QLabel*>("output_label");
            std::printf("%s\n", label != nullptr ? label->text().toUtf8().constData() : "");
            std::fprintf(stderr, "pelmora-host: wrote %s\n", options.screenshot.c_str());
            break;
        }
        case Mode::chart: {
            std::string error;
            try {
                error = pelmora::chart::write_whole(options.screenshot, script.chart_svg());
            } catch (const std::exception& e) {
                error = e.what();
            }
            if (!error.empty()) {
                std::fprintf(stderr, "pelmora-host: no chart: %s\n", error.c_str());
                status = 1;
                break;
            }
            std::fprintf(stderr, "pelmora-host: wrote %s\n", options.screenshot.c_str());
            break;
        }
        case Mode::script: {
            window.show();
            std::string line;
            while (std::getline(std::cin, line)) {
                std::cout << script.answer(line) << '\n' << std::flush;
            }
            break;
        }
        }
        // The control goes before its host window: releasing it takes its form's widgets away.
        placeable.reset();
        control.reset();
    }
    CoUninitialize();
    return status;
}
