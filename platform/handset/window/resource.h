// The program's resource table as the handset's window service sees it: the shared
// table types and lookups, under the handset's own names.
#pragma once

#include "platform/resource.h"

namespace handset {

using resource::ControlKind;
using resource::ControlTemplate;
using resource::DialogTemplate;
using resource::IconResource;
using resource::ImageResource;
using resource::MenuItem;
using resource::MenuTemplate;
using resource::Resources;
using resource::SoftKeyBarResource;
using resource::StringResource;
using resource::TextAlign;
using resource::VersionResource;
using resource::find_bitmap;
using resource::find_dialog;
using resource::find_icon;
using resource::find_menu;
using resource::find_softkey_bar;
using resource::find_string;
using resource::resources;
using resource::set_resources;

}  // namespace handset
