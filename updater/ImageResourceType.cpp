#include "GdiPlusBitmap.h"

// The updater keeps its images as "JPG" resources.
const wchar_t kImageResourceType[] = L"JPG";
