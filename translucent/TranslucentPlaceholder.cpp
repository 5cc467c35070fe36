// Filled in as the translucent model lands.
