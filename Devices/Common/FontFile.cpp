#include "FontFile.h"

#include <fontconfig/fontconfig.h>

namespace GAME::DeviceCommon {

std::string FindFontFile(const std::string& name)
{
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(name.c_str()));
    if (!pattern)
        return {};
    // A configuration of our own, let go after the lookup: fontconfig's process-wide one is never
    // freed.
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (!config) {
        FcPatternDestroy(pattern);
        return {};
    }
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    std::string file;
    FcChar8* path = nullptr;
    if (match && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch && path)
        file = reinterpret_cast<const char*>(path);
    if (match)
        FcPatternDestroy(match);
    FcPatternDestroy(pattern);
    FcConfigDestroy(config);
    return file;
}

} // namespace GAME::DeviceCommon
