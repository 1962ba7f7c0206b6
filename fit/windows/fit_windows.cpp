// Placeholder translation unit until the window layer lands.
