set(FM_PLUGIN_SOURCES
    plugin/lifecycle.cpp
    plugin/settings.cpp
    plugin/menu.cpp
    plugin/commands.cpp
    plugin/setting_limits.cpp
    plugin/hot_key_win32.cpp
    plugin/keyboard.cpp
    plugin/accessible_feed.cpp
    plugin/window_proc.cpp
    plugin/placement.cpp
    plugin/view.cpp
    plugin/favorite_removal.cpp
    plugin/feed_updates.cpp)
# The DLL's own entry points (DllMain and the four exports); not part of the static library.
set(FM_DLL_SOURCES
    plugin/dll_main.cpp
    plugin/exports.def)
