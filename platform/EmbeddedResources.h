#pragma once
// The firmware set compiled into the executable (library bcufirmware, built
// from resources/): the attributes record "ResourceAttributes_" and the chunks
// "Loader_1", "Code_1" ... as resources of type "TEXT". The core never links
// it; the executables do and hand it to the core as a ResourceSource.
#include "platform/Resources.h"

namespace bcu::platform {

const ResourceSource& EmbeddedResources();

}  // namespace bcu::platform
