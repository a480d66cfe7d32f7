// Resource identifiers of qalUpdate.exe.
#pragma once

#define IDB_BACKGROUND    101  // "JPG": the progress window's background, 810 x 340
#define IDB_SMALL_EMBLEM  102  // "JPG" type, but a 37 x 37 BMP
#define IDI_UPDATER       105  // icon group
