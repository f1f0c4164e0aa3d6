// Registration of the foundation layer: thread identities and time-outs.
#pragma once

// Idempotent; registers the core below first.
void ccStdStartup();
