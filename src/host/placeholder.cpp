// Removed once the host's own sources exist.
