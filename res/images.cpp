// Quillon's pictures in the resource table: the program icon at four sizes and the
// about box's emblem, over the pixel arrays drawn at build time (res/pixels.h).
#include "res/pixels.h"
#include "res/resources.h"
#include "res/tables.h"

namespace quillon_res {
namespace {

constexpr int kEmblem = pixels::kEmblemSize;

const resource::ImageResource kIconImages[] = {
    {IDI_QUILLON, 128, 128, 32, pixels::icon128},
    {IDI_QUILLON, 48, 48, 32, pixels::icon48},
    {IDI_QUILLON, 32, 32, 32, pixels::icon32},
    {IDI_QUILLON, 16, 16, 32, pixels::icon16},
};
const resource::IconResource kIcons[] = {{IDI_QUILLON, kIconImages}};
const resource::ImageResource kBitmaps[] = {{IDB_EMBLEM, kEmblem, kEmblem, 24, pixels::emblem}};

}  // namespace

std::span<const resource::IconResource> icons() {
    return kIcons;
}
std::span<const resource::ImageResource> bitmaps() {
    return kBitmaps;
}

}  // namespace quillon_res
