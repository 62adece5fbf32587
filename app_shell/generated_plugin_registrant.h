// Registers every plug-in the user interface uses with the main window's
// engine, in a fixed order.
//
// Thread: main thread, inside the main window's waking.
#pragma once

#include "platform/embedding/plugin_registry.h"

namespace korvane {

// Asks `registry` for a registrar under each plug-in's key and registers the
// plug-in with it, one after the other in the order of the framework names;
// "Sqlite3FlutterLibsPlugin" gets a registrar and no registration. Keeps no
// registrar and no plug-in instance.
void RegisterGeneratedPlugins(FlutterPluginRegistry& registry);

}  // namespace korvane
