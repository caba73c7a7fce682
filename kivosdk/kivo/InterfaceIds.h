// Numeric identifiers of the interfaces that plugins, shade data and shaded instances answer.
// Identifiers are compared in full (64 bits); some do not fit in 32.
#pragma once

#include "kivo/Types.h"

namespace KUtils {

// Plugin interfaces.
inline constexpr InterfaceID EXT_KIVO_PLUGIN = 0x7776FFFF;
inline constexpr InterfaceID EXT_UVWGEN = 2014021801;
inline constexpr InterfaceID EXT_RTTEX = 2010120102;
inline constexpr InterfaceID EXT_TEXTURE = 2004353026;
inline constexpr InterfaceID EXT_TEXTURE_VECTOR = 2005072102;
inline constexpr InterfaceID EXT_UVWGENCHANNEL = 2019011401;
inline constexpr InterfaceID EXT_UVWGEN_OSTREL = 2017111358;
inline constexpr InterfaceID EXT_RENDER_SETTINGS = 0x77770010;

// Host plugin interfaces the library reads.
inline constexpr InterfaceID EXT_TEXTURE_FLOAT = 0x77780001;
inline constexpr InterfaceID EXT_TEXTURE_TRANSFORM = 0x77780004;
inline constexpr InterfaceID EXT_RENDER_VIEW = 0x77770004;
inline constexpr InterfaceID EXT_CAMERA_SETTINGS = 0x77b0995e;
inline constexpr InterfaceID EXT_BITMAP_SIZE = 0x77780003;
inline constexpr InterfaceID EXT_BITMAP_FRAME_SIZE = 0x2016032818;

// Shade data and shaded-instance queries.
inline constexpr InterfaceID EXT_CHANNEL_PROVIDER = 2004353040;
inline constexpr InterfaceID EXT_OBJECT_SPACE = 2006012001;
inline constexpr InterfaceID EXT_REFERENCE_POINT = 2007052300;
inline constexpr InterfaceID EXT_SCENE_POINT = 0xFFFF0001;
inline constexpr InterfaceID EXT_SHADE_ID = 0xFFFF0002;

// Sequence-data query for the scene's up direction.
inline constexpr InterfaceID EXT_UP_DIRECTION = 2007041201;

} // namespace KUtils
