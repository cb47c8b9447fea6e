// Uses a little of every library of the package, linked the ordinary way:
// the escape codes and the settings file of the extras, and the port's own
// setup dialog, which the widgets library brings along without a call.
#include <tarnby/cport/cport.h>
#include <tarnby/cport/extras/escape_codes.h>
#include <tarnby/cport/extras/ini_file.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int failures = 0;
    auto check = [&](bool ok, const char* what) {
        std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
        failures += ok ? 0 : 1;
    };

    tarnby::TEscapeCodesVT100 vt100;
    tarnby::TEscapeResult result = tarnby::erNothing;
    for (char c : std::string("\x1b[2J"))
        result = vt100.ProcessChar(c);
    check(result == tarnby::erCode && vt100.Code() == tarnby::ecEraseScreen, "VT100 erase screen");

    int32_t value = 0;
    check(tarnby::ParseIniInteger("0x800", value) && value == 2048, "settings-file integer");

    tarnby::TComPort port(nullptr);
    bool shown = false;
    // Looks for the dialog until it is up, then cancels it; gives up after
    // ten seconds, so a dialog that never shows cannot hang the test.
    QTimer look;
    int looks = 0;
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            shown = dialog->windowTitle() == "Setup";
            dialog->reject();
        } else if (++looks > 1000) {
            std::printf("FAILED: no setup dialog came up\n");
            std::exit(1);
        }
    });
    look.start(10);
    try {
        check(!port.ShowSetupDialog() && shown, "the port's setup dialog, shown and cancelled");
    } catch (const tarnby::EComPort& e) {
        std::printf("%s\n", e.what());
        check(false, "the port's setup dialog");
    }
    return failures == 0 ? 0 : 1;
}
