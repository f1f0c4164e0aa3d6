// Registration of the transforms, their errors and their status thrower.
#pragma once

// Idempotent; registers the layers below first.
void ccStdMathStartup();
