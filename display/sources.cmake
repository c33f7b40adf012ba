set(FM_DISPLAY_SOURCES
    display/painting.cpp
    display/entry_text.cpp
    display/tooltip.cpp
    display/text_fit.cpp
    display/accessible_list.cpp
    display/high_contrast.cpp
    display/selection_paint.cpp)
