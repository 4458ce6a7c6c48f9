// Placeholder until the program is built.
