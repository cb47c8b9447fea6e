// The photograph of the instrument's front face behind the display.
#pragma once

#include <QImage>
#include <QString>

constexpr const char* FRONT_PANEL_FILE = "front_panel.jpg";

// Where the picture is looked for, first found wins: the folder named by
// TARNBY_ASSETS; assets/ beside the program or one folder above it (an
// installed copy); the source tree's assets/. Returns the path to try, the
// source tree's when none exists, so a failure names a meaningful place.
QString front_panel_path();

// Loads the picture. On failure returns a null image and writes one line to
// standard error saying why; the window then shows a plain face.
QImage load_front_panel();
