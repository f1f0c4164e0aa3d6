// Registration of the foundation layer: thread identities, time-outs
// and the parse error.
#pragma once

// Idempotent; registers the core below first.
void ccStdStartup();
