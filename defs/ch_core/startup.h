// Registration of the rectangle helpers' errors.
#pragma once

// Idempotent; registers the core below first.
void ccChCoreStartup();
