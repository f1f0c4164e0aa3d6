// Registration of the board, accelerator, parallel-I/O and module-board
// errors, so that those the driver module or a peer sends are re-created as
// themselves.
#pragma once

// Idempotent; registers the layers below first.
void ccModulesStartup();
