// Registration of the acquired-image errors, so that those archived by a
// peer are re-created as themselves.
#pragma once

// Idempotent; registers the layers below first.
void ccAcqImageStartup();
