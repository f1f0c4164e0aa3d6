// The module's start-up: every layer's registration, lowest first.
#pragma once

// Idempotent; runs while the module loads, and tests may call it.
void ccLibraryStartup();

// The COM server's part of the start-up: the language following. Runs after
// ccLibraryStartup, on the loading thread.
void ccComServerStartup();
