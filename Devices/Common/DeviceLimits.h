// The limits of the device interface that both render devices keep: texture stages and the state
// selectors of each, render targets, clip planes and constant registers (the stages, planes and
// register banks are those of graphics/ShaderInterface.h). Header only.
#pragma once

#include "graphics/ShaderInterface.h"

namespace GAME::DeviceCommon {

constexpr int maxTextureStages = ShaderInterface::textureStages;
constexpr int maxTextureStageStates = 32;
constexpr int maxRenderTargets = 4;
constexpr int maxClipPlanes = ShaderInterface::maxClipPlanes;
constexpr int constantRegisters = ShaderInterface::constantRegisters;

} // namespace GAME::DeviceCommon
