// Scenes of the screenshot tool: a named instrument state and the screen that
// shows it. The gallery renders every registered scene; further source files
// in this folder add their own scenes with a static SceneRegistration, without
// touching the tool itself.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct Scene {
    std::string name;     // file name without ".png"
    std::string caption;  // one line for the gallery page
    // Runs after level_aircraft_state() (firmware/firmware_loop.h): default
    // settings, the main screen on the attitude page, both sensors
    // reporting a level, still aircraft. Sets readings, settings and
    // current_screen; the tool then clears the frame buffer and calls
    // current_screen once.
    std::function<void()> prepare;
};

// Every registered scene, in registration order (files in link order).
std::vector<Scene>& scene_registry();

// At namespace scope: static SceneRegistration reg{{"name", "caption", [] { ... }}};
struct SceneRegistration {
    explicit SceneRegistration(Scene scene) { scene_registry().push_back(std::move(scene)); }
};
