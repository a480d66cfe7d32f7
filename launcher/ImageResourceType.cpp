#include "GdiPlusBitmap.h"

// The launcher keeps its images as "PNG" resources.
const wchar_t kImageResourceType[] = L"PNG";
