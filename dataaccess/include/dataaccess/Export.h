#pragma once

// The data-access library is built with hidden visibility; only what is
// marked here is exported. Exported types keep one identity across every
// module that links the library, so an exception thrown in the plug-in is
// caught by the host as the very same type.
#define DATAACCESS_API __attribute__((visibility("default")))
