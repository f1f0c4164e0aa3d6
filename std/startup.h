// The library's start-up: every registration, in a fixed order, once.
#pragma once

// Idempotent; the module calls it while loading, tests may call it too.
void ccLibraryStartup();
