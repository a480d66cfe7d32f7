#include "XWindow.h"

HINSTANCE appInstance = nullptr;
