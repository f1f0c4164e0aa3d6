// Registration of the board, accelerator and parallel-I/O errors, so that
// those the driver module or a peer sends are re-created as themselves.
#pragma once

// Idempotent; registers the layers below first.
void ccModulesStartup();
