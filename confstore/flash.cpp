// Flash synchronisation: not yet built; the commands are recognised and
// argument-checked only.
#include "confstore.h"

void flash_commit() {}
void flash_reset() {}
void flash_restore(std::span<char>) {}
