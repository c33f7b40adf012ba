set(FM_DISPLAY_SOURCES
    display/window_proc.cpp
    display/painting.cpp
    display/tooltip.cpp
    display/placement.cpp)
