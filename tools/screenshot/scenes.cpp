#include "scenes.h"

std::vector<Scene>& scene_registry()
{
    // Built on first use, so registrations from any file's static
    // initialisers find it ready.
    static std::vector<Scene> scenes;
    return scenes;
}
