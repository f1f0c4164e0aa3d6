// Registration of the persistence and exception core: its error classes
// and the out-of-memory status thrower.
#pragma once

// Idempotent; the module's start-up calls it, and so does every layer's
// registration above this one.
void ccStdExceptStartup();
