// Quillon's version: the about box shows it, and the build reads it from here for the
// project's version, which the Windows version record and the packages carry. Change it
// here and only here.
#pragma once

#define QUILLON_VERSION "0.95"
