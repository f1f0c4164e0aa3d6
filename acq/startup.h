// Registration of the acquisition FIFO's and the trigger model's errors, so
// that those archived by the driver module or a peer are re-created as
// themselves.
#pragma once

// Idempotent; registers the layers below first.
void ccAcqStartup();
