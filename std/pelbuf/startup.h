// Registration of the pel roots, the pel-buffer errors and their status
// thrower.
#pragma once

// Idempotent; registers the layers below first.
void ccStdPelbufStartup();
