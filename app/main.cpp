// Program entry: answer --help and --version (no display needed for those),
// check that a window can be shown at all, then create the application object
// and the main window and run the message loop.
#include <QString>

#include <cstdio>
#include <exception>

#include "app/automation.h"
#include "app/exception_box.h"
#include "app/form1.h"
#include "app/tarnby_application.h"
#include "command_line.h"
#include "display_probe.h"

namespace {

const char SUMMARY[] = R"(The QR-7 flight instrument simulator: the instrument's firmware in a window, its
panel controls, six sliders for the flight readings, and a serial port to a
sensor unit (or sensor_emulator). The window takes no options but these two;
it reads its settings from the environment.)";

const char ENVIRONMENT[] = R"(Environment:
  TARNBY_PORT=DEVICE         the sensor unit's serial port: a device path
                             (/dev/ttyUSB0, a pseudo-terminal such as the one
                             sensor_emulator names) or COMn (/dev/ttyS(n-1));
                             default COM3, that is /dev/ttyS2
  TARNBY_ASSETS=FOLDER       where front_panel.jpg is (default: assets/ beside
                             the program or above it, then the source tree)
  TARNBY_AUTO_ON=h,p,b,s,t,g sets the six sliders (heading, pitch, bank, slip,
                             turn, G) and presses ON at start
  TARNBY_AUTO_CONNECT=1      presses Connect at start (before ON)
  TARNBY_SCREENSHOT=FILE.png saves the window's picture after
                             TARNBY_SCREENSHOT_DELAY milliseconds (default
                             1500), then closes the window; the exit status is
                             1 when the file cannot be written
  QT_QPA_PLATFORM=offscreen  runs without a display (with TARNBY_SCREENSHOT)

Without a display, run it under Xvfb:  xvfb-run -a tarnby
A screenshot without any display:
  QT_QPA_PLATFORM=offscreen TARNBY_AUTO_ON=90,5,-20,0,0,256 TARNBY_SCREENSHOT=window.png tarnby
)";

} // namespace

int main(int argc, char** argv)
{
    command_line::ToolCommandLine cli(QStringLiteral("tarnby"), QString::fromUtf8(SUMMARY));
    cli.set_epilogue(QString::fromUtf8(ENVIRONMENT));
    cli.parse(argc, argv);

    if (const auto reason = display_probe::Unavailable()) {
        const std::string line = display_probe::Message("tarnby", *reason, argc > 0 ? argv[0] : "tarnby");
        std::fprintf(stderr, "%s\n", line.c_str());
        return 1;
    }
    TarnbyApplication application(argc, argv);
    try {
        TForm1 form;
        form.show();
        install_automation(form);
        const int status = application.exec();
        return status != 0 ? status : automation_exit_status();
    } catch (...) {
        // Starting up failed, or something escaped the message loop itself:
        // shown like every other exception, then the program ends.
        show_current_exception();
        return 1;
    }
}
