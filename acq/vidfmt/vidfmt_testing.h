// Test seam, not for callers: the extension-record look-ups.
#pragma once

// Runs at the end of every extension-record look-up, after the registry lock
// is released: a test removes the record there, as another thread could.
// Null for none.
void ccSetExtensionLookupHookForTesting(void (*hook)());
