// Registration of the remote objects' errors.
#pragma once

// Idempotent; registers the layers below first.
void ccStdRpcStartup();
