// The flash partition as the commands use it.
#include "flash/save.h"

#include <cerrno>

int flash_partition::open(const char *path)
{
    if (int rc = dev.open(path)) {
        opened = dev.is_open();
        return rc;
    }
    opened = true;
    g = flash_geometry_of(dev.size(), dev.erase_size());
    if (bytes.resize(dev.size()) != 0)
        return -ENOMEM;
    return flash_read_all(dev, bytes.writable(), holes);
}

flash_result flash_partition::save(heap_text &text)
{
    return flash_save(dev, g, bytes.writable(), holes, text);
}

flash_result flash_partition::finish(size_t finish_at)
{
    return flash_finish(dev, g, bytes.writable(), finish_at);
}
