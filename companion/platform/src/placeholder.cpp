// Placeholder translation unit until the pattern classes land.
