// Registration of the foundation layer: thread identities, time-outs, the
// parse error and the text and dictionary errors; sets the process language.
#pragma once

// Idempotent; registers the core below first.
void ccStdStartup();
