// Program entry: check that a window can be shown at all, then create the
// application object and the main window and run the message loop.
#include <cstdio>
#include <exception>

#include "app/automation.h"
#include "app/display_check.h"
#include "app/exception_box.h"
#include "app/form1.h"
#include "app/tarnby_application.h"

int main(int argc, char** argv)
{
    if (const auto reason = display_unavailable_reason()) {
        const std::string line = no_display_message(*reason, argc > 0 ? argv[0] : "tarnby");
        std::fprintf(stderr, "%s\n", line.c_str());
        return 1;
    }
    TarnbyApplication application(argc, argv);
    try {
        TForm1 form;
        form.show();
        install_automation(form);
        return application.exec();
    } catch (...) {
        // Starting up failed, or something escaped the message loop itself:
        // shown like every other exception, then the program ends.
        show_current_exception();
        return 1;
    }
}
