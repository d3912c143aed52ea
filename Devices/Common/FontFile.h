// Finds font files through fontconfig, for the OpenGL device (fonts of the old format name a face)
// and for tools/datakit (the sample data's free font); both compile FontFile.cpp. Any thread: each
// lookup loads a fontconfig configuration of its own and lets it go.
#pragma once

#include <string>

namespace GAME::DeviceCommon {

// The file of the face fontconfig picks for a pattern ("Liberation Sans:style=Regular"); empty when
// none. fontconfig answers with its nearest face, which may be another family than the one named.
std::string FindFontFile(const std::string& pattern);

} // namespace GAME::DeviceCommon
