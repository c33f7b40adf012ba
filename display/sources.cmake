set(FM_DISPLAY_SOURCES
    display/painting.cpp
    display/entry_text.cpp
    display/tooltip.cpp
    display/text_fit.cpp)
