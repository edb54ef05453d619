#pragma once
// Facts about the machine the updater runs on.

namespace bcu::platform {

// Logical processors the system has online (hyper-threads count); at least 1.
unsigned LogicalProcessorCount();

}  // namespace bcu::platform
