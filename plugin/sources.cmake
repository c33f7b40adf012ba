set(FM_PLUGIN_SOURCES
    plugin/lifecycle.cpp
    plugin/settings.cpp
    plugin/menu.cpp
    plugin/commands.cpp
    plugin/setting_limits.cpp
    plugin/window_proc.cpp
    plugin/placement.cpp
    plugin/view.cpp
    plugin/favorite_removal.cpp
    plugin/feed_updates.cpp
    plugin/dialog_library.cpp
    plugin/mouse_tracking.cpp
    plugin/opml_commands.cpp)
# The DLL's own entry points (DllMain and the four exports); not part of the static library.
set(FM_DLL_SOURCES
    plugin/dll_main.cpp
    plugin/exports.def)
