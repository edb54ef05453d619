#pragma once
// The 5.10 fix-up pass (declared with its converter).
#include "codeplug/VYXParmsFormat59510.h"
