// Filled in by its owner.
