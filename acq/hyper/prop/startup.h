// Registration of the acquisition property classes and their errors, so that
// an archive re-creates them by their stored names.
#pragma once

// Idempotent; registers the layers below first.
void ccAcqHyperPropStartup();
