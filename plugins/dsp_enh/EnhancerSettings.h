#pragma once
// Where the enhancer's values live in the settings store, and how they are read.

#include "plugins/dsp_enh/EnhancerParameters.h"

constexpr const char* EnhancerKey = "Software\\Merrowind\\Enhancer\\Version 017";

// Reads the twelve values from HKEY_LOCAL_MACHINE; a missing or unreadable value keeps its
// default (the main window's start value).
EnhancerParameters ReadEnhancerParameters();
