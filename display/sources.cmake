set(FM_DISPLAY_SOURCES
    display/painting.cpp
    display/entry_text.cpp
    display/tooltip.cpp
    display/formatted_tip.cpp
    display/text_fit.cpp
    display/accessible_list.cpp
    display/high_contrast.cpp
    display/selection_paint.cpp)
# Text drawn through the system's script engine: both directions, shaping and fallback faces.
list(APPEND FM_DISPLAY_SOURCES
    display/script_text.cpp
    display/font_fallback.cpp)
