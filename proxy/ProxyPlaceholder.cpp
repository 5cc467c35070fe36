// Filled in as the facades land.
