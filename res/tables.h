// The parts of Quillon's resource table, one per source file of res/; resources.cpp
// joins them into the resource::Resources record. Internal to res/.
#pragma once

#include <span>

#include "platform/resource.h"

namespace quillon_res {

std::span<const resource::DialogTemplate> dialogs();
std::span<const resource::MenuTemplate> menus();
std::span<const resource::StringResource> strings();

// Icons and bitmaps point into pixel arrays drawn at build time.
std::span<const resource::IconResource> icons();
std::span<const resource::ImageResource> bitmaps();

}  // namespace quillon_res
