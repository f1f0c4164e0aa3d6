// The module's start-up: every layer's registration, lowest first.
#pragma once

// Idempotent; runs while the module loads, and tests may call it.
void ccLibraryStartup();
