set(FM_DISPLAY_SOURCES
    display/window_proc.cpp
    display/painting.cpp
    display/entry_text.cpp
    display/tooltip.cpp
    display/placement.cpp
    display/mouse_tracking.cpp
    display/text_fit.cpp)
