// The web address and copyright line shown in the about box: set here and nowhere else.
#pragma once

#ifndef TALVEX_WEBSITE
#define TALVEX_WEBSITE "https://talvex.dev/"
#endif
#ifndef TALVEX_COPYRIGHT
#define TALVEX_COPYRIGHT "Copyright (C) 2026 The Talvex developers"
#endif
