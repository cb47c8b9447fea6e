// The console extras need only a core application: ports deliver their
// events through its event loop.
#include "qt_application.h"

namespace {
TARNBY_QT_TEST_APPLICATION;
}
