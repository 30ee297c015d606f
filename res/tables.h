// The parts of Quillon's resource table, one per source file of res/; resources.cpp
// joins them into the handset::Resources record. Internal to res/.
#pragma once

#include <span>

#include "platform/handset/window/resource.h"

namespace quillon_res {

std::span<const handset::DialogTemplate> dialogs();
std::span<const handset::MenuTemplate> menus();
std::span<const handset::StringResource> strings();

// Icons and bitmaps point into pixel arrays drawn at build time.
std::span<const handset::IconResource> icons();
std::span<const handset::ImageResource> bitmaps();

}  // namespace quillon_res
