// The release's version: the numbers below are the only place it is written. The DLL's version
// resource, the plug-in's info strings, the About box, the User-Agent line and the release
// archive's name (scripts/package.sh reads the three numbers) all take it from here.
// Plain macros, so that the resource compiler can read this file too.
#pragma once

#define FM_VERSION_MAJOR 1
#define FM_VERSION_MINOR 0
#define FM_VERSION_PATCH 0
#define FM_RELEASE_DATE "2026-12-08"

#define FM_PRODUCT_NAME "FeedMarquee"
#define FM_AUTHOR "Mara Lindqvist"
#define FM_COPYRIGHT "Copyright (C) 2026 " FM_AUTHOR

#define FM_STRINGIFY_(x) #x
#define FM_STRINGIFY(x) FM_STRINGIFY_(x)
// "1.0.0"
#define FM_VERSION                                                                                 \
    FM_STRINGIFY(FM_VERSION_MAJOR)                                                                 \
    "." FM_STRINGIFY(FM_VERSION_MINOR) "." FM_STRINGIFY(FM_VERSION_PATCH)
